#ifndef CONFMEND_DISK_TREE_LOCK_H_
#define CONFMEND_DISK_TREE_LOCK_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "disk/folder.h"
#include "disk/system_error.h"

// Keeps other runs of confmend out of a folder tree while this one mends it: on POSIX a lock
// on the folder itself, on Windows a mutex named for the folder's volume and file ID that
// every user's runs share.
//
//   TreeLock lock;
//   switch (lock.take(tree, keep_waiting, error)) ...  // kTaken: mend; then release()
enum class LockTaking {
  kTaken,       // this run holds the tree (or nothing could lock it, for any run)
  kHeld,        // another run holds it (take: and keep_waiting said to stop)
  kNotAllowed,  // this run may not take part in the lock: `error` says why
};

class TreeLock {
 public:
  TreeLock() = default;
  ~TreeLock();
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;

  // Takes the lock if nobody holds it.
  LockTaking try_take(const Folder& tree, SystemError& error);
  // Waits for the lock, asking `keep_waiting` every tenth of a second.
  LockTaking take(const Folder& tree, const std::function<bool()>& keep_waiting,
                  SystemError& error);
  void release();

 private:
  std::intptr_t handle_ = -1;
  bool owned_ = false;  // Windows: the mutex is open, but another run may own it
};

inline LockTaking TreeLock::take(const Folder& tree, const std::function<bool()>& keep_waiting,
                                 SystemError& error) {
  for (;;) {
    const LockTaking taking = try_take(tree, error);
    if (taking != LockTaking::kHeld || !keep_waiting()) {
      return taking;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

#endif  // CONFMEND_DISK_TREE_LOCK_H_
