#ifndef CONFMEND_DISK_POSIX_FILE_H_
#define CONFMEND_DISK_POSIX_FILE_H_

// POSIX only: what disk/'s POSIX and Linux files share.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "disk/folder.h"
#include "disk/whole_file.h"

inline FileIdentity identity_of(const struct stat& info) {
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                      {static_cast<std::uint64_t>(info.st_ino), 0}};
}

inline std::int64_t nanoseconds_of(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

inline FileStamp stamp_of(const struct stat& info) {
  return FileStamp{identity_of(info), static_cast<std::uint64_t>(info.st_size),
                   nanoseconds_of(info.st_mtim), nanoseconds_of(info.st_ctim)};
}

// openat, asked again when a signal cut it short.
inline int open_retrying(int folder, const char* name, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = openat(folder, name, flags, mode);
    if (fd >= 0 || errno != EINTR) {
      return fd;
    }
  }
}

// pwrite until every byte is written at `at`, asked again when a signal cut it short; errno
// tells why not.
inline bool write_all(int fd, std::string_view bytes, off_t at) {
  while (!bytes.empty()) {
    const ssize_t put = pwrite(fd, bytes.data(), bytes.size(), at);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      errno = put == 0 ? EIO : errno;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
    at += put;
  }
  return true;
}

#ifdef O_NOATIME
// Opened without a new access time where the system lets the owner (or root) ask for that,
// so that a dry run leaves every time as it was; as usual where it does not.
inline int open_keeping_access_time(int folder, const char* name, int flags) {
  const int fd = open_retrying(folder, name, flags | O_NOATIME);
  return fd >= 0 || errno != EPERM ? fd : open_retrying(folder, name, flags);
}
#endif

#endif  // CONFMEND_DISK_POSIX_FILE_H_
