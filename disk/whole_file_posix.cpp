#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "disk/posix_file.h"
#include "disk/whole_file.h"

namespace {

// Reads to the end into a buffer sized for the file and one byte more, so that a file that
// has not grown is read in one call and its end seen in the next.
bool read_to_end(int fd, off_t size, std::string& bytes) {
  std::size_t held = 0;
  bytes.resize(static_cast<std::size_t>(size) + 1);
  for (;;) {
    if (held == bytes.size()) {
      bytes.resize(bytes.size() + bytes.size() / 2 + 65536);
    }
    const ssize_t got = read(fd, bytes.data() + held, bytes.size() - held);
    if (got == 0) {
      bytes.resize(held);
      return true;
    }
    if (got < 0 && errno != EINTR) {
      bytes.clear();
      return false;
    }
    held += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
}

// The same into a block of the C heap, which tells when memory is short.
ReadResult read_to_end(int fd, std::uint64_t size, FileBytes& bytes) {
  if (size >= SIZE_MAX / 2 || !bytes.make_room(static_cast<std::size_t>(size) + 1)) {
    return ReadResult::kTooLarge;
  }
  std::size_t held = 0;
  for (;;) {
    if (held == bytes.capacity() &&
        !bytes.make_room(bytes.capacity() + bytes.capacity() / 2 + 65536)) {
      return ReadResult::kTooLarge;
    }
    const ssize_t got = read(fd, bytes.data() + held, bytes.capacity() - held);
    if (got == 0) {
      bytes.set_size(held);
      return ReadResult::kRead;
    }
    if (got < 0 && errno != EINTR) {
      bytes.clear();
      return ReadResult::kCannotRead;
    }
    held += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
  const int fd = open_retrying(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info;
  const bool read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<std::uintmax_t>(info.st_size) <= largest &&
                    read_to_end(fd, info.st_size, bytes) && bytes.size() <= largest;
  close(fd);
  return read;
}

// Without a new access time where the system lets the owner ask for that: a dry run leaves
// every time as it was.
ReadResult read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                        FileStamp& stamp) {
  const std::string entry(name);
  const int at = static_cast<int>(folder.handle());
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
  int fd = open_retrying(at, entry.c_str(), kFlags | O_NOATIME);
  if (fd < 0 && errno == EPERM) {
    fd = open_retrying(at, entry.c_str(), kFlags);  // not the owner's
  }
  if (fd < 0) {
    return ReadResult::kCannotRead;
  }
  struct stat info;
  ReadResult result = ReadResult::kCannotRead;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    stamp = stamp_of(info);
    result = read_to_end(fd, static_cast<std::uint64_t>(info.st_size), bytes);
  }
  close(fd);
  return result;
}

std::uint64_t size_of_file_in(const Folder& folder, std::string_view name) {
  struct stat info;
  const std::string entry(name);
  if (fstatat(static_cast<int>(folder.handle()), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return 0;
  }
  return static_cast<std::uint64_t>(info.st_size);
}
