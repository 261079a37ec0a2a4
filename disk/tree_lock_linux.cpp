#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

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

LockTaking TreeLock::try_take(const Folder& tree, SystemError&) {
  release();
  const int fd = lock_descriptor(tree);
  if (fd < 0) {
    return LockTaking::kTaken;  // nothing to lock through: no other run can lock it either
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    (void)close(fd);  // a lock file only opened
    return LockTaking::kHeld;
  }
  handle_ = fd;
  owned_ = true;
  return LockTaking::kTaken;
}

void TreeLock::release() {
  if (handle_ >= 0) {
    (void)close(static_cast<int>(handle_));  // which ends the lock, failing or not
    handle_ = -1;
  }
  owned_ = false;
}
