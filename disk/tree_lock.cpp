#include <chrono>
#include <thread>

#include "disk/tree_lock.h"

LockTaking TreeLock::take(const Folder& tree, const std::function<bool()>& keep_waiting,
                          SystemError& error) {
  for (;;) {
    const LockTaking taking = try_take(tree, error);
    if (taking != LockTaking::kHeld || !keep_waiting()) {
      return taking;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
