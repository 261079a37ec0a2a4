#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
