#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "disk/posix_file.h"
#include "disk/whole_file.h"

namespace {

// A piece of the open file, asked again when a signal cut the read short.
FileOutcome read_to_end(int fd, std::uint64_t size, std::uint64_t largest, bool stop_at_nul,
                        FileBytes& bytes, SystemError& error) {
  const auto read_piece = [&](char* buffer, std::size_t most) -> long long {
    for (;;) {
      const ssize_t got = read(fd, buffer, most);
      if (got >= 0 || errno != EINTR) {
        error = got < 0 ? last_system_error() : error;
        return got;
      }
    }
  };
  return read_in_pieces(read_piece, size, largest, stop_at_nul, bytes);
}

}  // namespace

FileOutcome read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
  const int fd =
      open_keeping_access_time(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return FileOutcome::kCannotRead;
  }
  struct stat info;
  FileOutcome result = FileOutcome::kCannotRead;
  FileBytes read;
  SystemError ignored;  // the reference's reasons are not shown
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    result =
        read_to_end(fd, static_cast<std::uint64_t>(info.st_size), largest, false, read, ignored);
  }
  (void)close(fd);  // only read through: nothing to lose
  if (result == FileOutcome::kUnchanged) {
    bytes.assign(read.view());
  }
  return result;
}

FileOutcome read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                         FileStamp& stamp, SystemError& error) {
  const std::string entry(name);
  const int fd = open_keeping_access_time(static_cast<int>(folder.handle()), entry.c_str(),
                                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = last_system_error();
    struct stat target;
    // A link, never read through its name: what matters is that it leads nowhere.
    if (errno == ELOOP &&
        fstatat(static_cast<int>(folder.handle()), entry.c_str(), &target, 0) != 0) {
      error = last_system_error();
    }
    return FileOutcome::kCannotRead;
  }
  struct stat info;
  FileOutcome result = FileOutcome::kCannotRead;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    stamp = stamp_of(info);
    result = read_to_end(fd, static_cast<std::uint64_t>(info.st_size), SIZE_MAX / 2 - 1, true,
                         bytes, error);
  } else if (S_ISDIR(info.st_mode)) {
    error = SystemError{EISDIR};  // a folder has taken the file's name since it was listed
  }
  (void)close(fd);  // as above
  return result;
}

std::optional<FileStamp> stamp_of_file_in(const Folder& folder, std::string_view name) {
  struct stat info;
  const std::string entry(name);
  if (fstatat(static_cast<int>(folder.handle()), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return stamp_of(info);
}

void ask_for_large_pages(char* block, std::size_t size) {
  constexpr std::uintptr_t kLargePage = 2 << 20;
  if (size < 2 * kLargePage) {
    return;
  }
  // The whole large pages within the block: the kernel backs only those with large pages.
  const auto start = (reinterpret_cast<std::uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kLargePage - 1);
  // Refused (a kernel without them), the pages are only smaller.
  (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

std::intptr_t open_file_to_read(const std::string& path, std::uint64_t& size) {
  const int fd =
      open_keeping_access_time(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    (void)close(fd);  // only looked at
    return -1;
  }
  size = fd < 0 ? 0 : static_cast<std::uint64_t>(info.st_size);
  return fd;
}

void close_read_file(std::intptr_t file) {
  (void)close(static_cast<int>(file));  // only read through: nothing to lose
}
