#ifndef CONFMEND_DISK_LINUX_FILE_H_
#define CONFMEND_DISK_LINUX_FILE_H_

// Linux only: what disk/'s Linux files share beyond POSIX.

#include <fcntl.h>

#include <cerrno>

#include "disk/posix_file.h"

// Opened without a new access time where the system lets the owner (or root) ask for that,
// so that a dry run leaves every time as it was; as usual where it does not.
inline int open_keeping_access_time(int folder, const char* name, int flags) {
  const int fd = open_retrying(folder, name, flags | O_NOATIME);
  return fd >= 0 || errno != EPERM ? fd : open_retrying(folder, name, flags);
}

#endif  // CONFMEND_DISK_LINUX_FILE_H_
