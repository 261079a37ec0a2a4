#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "disk/posix_file.h"
#include "disk/tree_lock.h"

namespace {

// A descriptor of its own: a lock belongs to the open file it was taken through.
int lock_descriptor(const Folder& tree) {
  return open_retrying(static_cast<int>(tree.handle()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

TreeLock::~TreeLock() {
  release();
}

bool TreeLock::try_take(const Folder& tree) {
  release();
  const int fd = lock_descriptor(tree);
  if (fd < 0) {
    return true;  // nothing to lock through: no other run can lock it either
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return false;
  }
  handle_ = fd;
  owned_ = true;
  return true;
}

bool TreeLock::take(const Folder& tree, const std::function<bool()>& keep_waiting) {
  while (!try_take(tree)) {
    if (!keep_waiting()) {
      return false;
    }
    const timespec tenth{0, 100'000'000};
    nanosleep(&tenth, nullptr);
  }
  return true;
}

void TreeLock::release() {
  if (handle_ >= 0) {
    close(static_cast<int>(handle_));  // which ends the lock
    handle_ = -1;
  }
  owned_ = false;
}
