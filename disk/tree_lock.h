#ifndef CONFMEND_DISK_TREE_LOCK_H_
#define CONFMEND_DISK_TREE_LOCK_H_

#include <cstdint>
#include <functional>

#include "disk/folder.h"

// Keeps other runs of confmend out of a folder tree while this one mends it: on POSIX a lock
// on the folder itself, on Windows a mutex named for the folder's volume and file ID.
class TreeLock {
 public:
  TreeLock() = default;
  ~TreeLock();
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;

  // Takes the lock if nobody holds it; false when another run does.
  bool try_take(const Folder& tree);
  // Waits for the lock, asking `keep_waiting` every tenth of a second; false when it said no.
  bool take(const Folder& tree, const std::function<bool()>& keep_waiting);
  void release();

 private:
  std::intptr_t handle_ = -1;
  bool owned_ = false;  // Windows: the mutex is open, but another run may own it
};

#endif  // CONFMEND_DISK_TREE_LOCK_H_
