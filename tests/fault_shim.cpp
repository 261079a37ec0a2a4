// Preloaded into confmend by the fault-injection suite to make the file system misbehave at
// chosen moments. It is steered by environment variables:
//   CONFMEND_FAIL_READ=PATH        every read() from PATH fails with EIO
//   CONFMEND_FAIL_WRITE=PATH       every write() or pwrite() to PATH fails with ENOSPC
//   CONFMEND_FULL_DISK=1|PATH      a full disk: every write that needs a new block (one past the
//                                  end of a file, or to a new file) fails with ENOSPC, while
//                                  one over bytes a file holds succeeds; given a folder, only
//                                  the disk below it is full (the undo store lies elsewhere)
//   CONFMEND_SLOW_WRITE=MS         every write() or pwrite() to a file first waits MS ms
//   CONFMEND_SLOW_CREATE=MS        every openat() that creates a file waits MS ms after it
//   CONFMEND_WHEN_OPENED=PATH      when PATH is first opened (open, openat, fopen or opendir),
//   CONFMEND_WHEN_LISTED=PATH      or when its listing has been read to its end, ...
//   CONFMEND_DO=remove|folder|swap ... remove CONFMEND_TARGET (a file or a whole folder), or
//     |away                            replace it by an empty folder, or move it to PATH.moved
//   CONFMEND_TARGET=PATH               and put a link to CONFMEND_LINK_TO in its place, or
//   CONFMEND_LINK_TO=PATH              move it to CONFMEND_LINK_TO; then carry on.
//   CONFMEND_APPEND_ON_READ=PATH   when PATH has been read to its end, another program appends
//   CONFMEND_APPENDS=N                 a line to it: the first N times (1 when not set).
//   CONFMEND_KILL_ON_RENAME=PATH   the process kills itself (SIGKILL) when it is about to rename
//                                  a file over PATH, as a power cut just then would stop it
//   CONFMEND_SAME_SIZE_ON_READ=PATH when PATH has been read to its end the first time, another
//                                  program changes its first byte to "#", then puts its
//                                  modification time back (as rsync --inplace -t, touch -r)
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool names(const char* variable, const char* path) {
  const char* wanted = std::getenv(variable);
  return wanted != nullptr && path != nullptr && std::strcmp(wanted, path) == 0;
}

// The threads that read folders ahead of the walk run at the idle priority. What they open
// and list is no part of the walk, and must not set off what a test aims at the walk's own
// calls.
bool is_reading_ahead() {
  return sched_getscheduler(0) == SCHED_IDLE;
}

void sabotage(const char* trigger, const char* path) {
  static bool done = false;
  if (done || !names(trigger, path) || is_reading_ahead()) {
    return;
  }
  done = true;
  const char* target = std::getenv("CONFMEND_TARGET");
  const char* action = std::getenv("CONFMEND_DO");
  if (target == nullptr || action == nullptr) {
    return;
  }
  std::error_code ignored;
  if (std::strcmp(action, "away") == 0) {
    std::filesystem::rename(target, std::getenv("CONFMEND_LINK_TO"), ignored);
    return;
  }
  if (std::strcmp(action, "swap") == 0) {
    std::filesystem::rename(target, std::string(target) + ".moved", ignored);
    std::filesystem::create_directory_symlink(std::getenv("CONFMEND_LINK_TO"), target, ignored);
    return;
  }
  std::filesystem::remove_all(target, ignored);
  if (std::strcmp(action, "folder") == 0) {
    std::filesystem::create_directory(target, ignored);
  }
}

void sabotage_on_open(const char* path) {
  sabotage("CONFMEND_WHEN_OPENED", path);
}

// Where a descriptor leads, as the kernel tells it.
std::string path_of(int fd) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
  return length < 0 ? "" : std::string(path, static_cast<std::size_t>(length));
}

bool is_failing_file(const char* variable, int fd) {
  const char* failing = std::getenv(variable);
  return failing != nullptr && path_of(fd) == failing;
}

// Another program appending to the file just after it was read: its line must not be lost.
void append_after_reading(int fd) {
  static std::atomic<int> appended{0};
  const char* times = std::getenv("CONFMEND_APPENDS");
  if (!is_failing_file("CONFMEND_APPEND_ON_READ", fd) ||
      appended >= (times == nullptr ? 1 : std::atoi(times))) {
    return;
  }
  const std::string line = "appended=" + std::to_string(++appended) + "\n";
  const int file = real<int (*)(const char*, int, ...)>("open")(
      std::getenv("CONFMEND_APPEND_ON_READ"), O_WRONLY | O_APPEND);
  real<ssize_t (*)(int, const void*, size_t)>("write")(file, line.data(), line.size());
  close(file);
}

// Whether a write of `count` bytes at `at` fails; not those to the console.
bool refuse_write(int fd, off_t at, size_t count) {
  if (fd <= STDERR_FILENO) {
    return false;
  }
  if (const char* wait = std::getenv("CONFMEND_SLOW_WRITE")) {
    usleep(static_cast<useconds_t>(std::atoi(wait)) * 1000);
  }
  struct stat info;
  const char* full = std::getenv("CONFMEND_FULL_DISK");
  const bool on_full_disk =
      full != nullptr && (std::strcmp(full, "1") == 0 || path_of(fd).starts_with(full));
  const bool grows = on_full_disk && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                     static_cast<off_t>(at + static_cast<off_t>(count)) > info.st_size;
  if (grows || is_failing_file("CONFMEND_FAIL_WRITE", fd)) {
    errno = ENOSPC;
    return true;
  }
  return false;
}

// A change that keeps the size and puts the modification time back: only the bytes tell.
void change_keeping_size_and_time(int fd) {
  static std::atomic<bool> changed{false};
  if (!is_failing_file("CONFMEND_SAME_SIZE_ON_READ", fd) || changed.exchange(true)) {
    return;
  }
  const int file = real<int (*)(const char*, int, ...)>("open")(
      std::getenv("CONFMEND_SAME_SIZE_ON_READ"), O_WRONLY);
  struct stat before;
  fstat(file, &before);
  real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(file, "#", 1, 0);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  futimens(file, times);
  close(file);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const auto mode = static_cast<mode_t>(va_arg(arguments, unsigned));
  va_end(arguments);
  sabotage_on_open(path);
  return real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
  sabotage_on_open(path);
  return real<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  sabotage_on_open(path);
  return real<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}

int openat(int folder, const char* name, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const auto mode = static_cast<mode_t>(va_arg(arguments, unsigned));
  va_end(arguments);
  if (std::getenv("CONFMEND_WHEN_OPENED") != nullptr) {
    const std::string path =
        folder == AT_FDCWD || name[0] == '/' ? name : path_of(folder) + "/" + name;
    sabotage_on_open(path.c_str());
  }
  const int fd = real<int (*)(int, const char*, int, ...)>("openat")(folder, name, flags, mode);
  if (const char* wait = std::getenv("CONFMEND_SLOW_CREATE");
      wait != nullptr && (flags & O_CREAT)) {
    usleep(static_cast<useconds_t>(std::atoi(wait)) * 1000);
  }
  return fd;
}

DIR* opendir(const char* path) {
  sabotage_on_open(path);
  return real<DIR* (*)(const char*)>("opendir")(path);
}

ssize_t read(int fd, void* buffer, size_t count) {
  if (is_failing_file("CONFMEND_FAIL_READ", fd)) {
    errno = EIO;
    return -1;
  }
  const ssize_t got = real<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
  if (got == 0 && std::getenv("CONFMEND_APPEND_ON_READ") != nullptr) {
    append_after_reading(fd);
  }
  if (got == 0 && std::getenv("CONFMEND_SAME_SIZE_ON_READ") != nullptr) {
    change_keeping_size_and_time(fd);
  }
  return got;
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  if (const char* victim = std::getenv("CONFMEND_KILL_ON_RENAME"); victim != nullptr) {
    const std::string path =
        to_folder == AT_FDCWD || to[0] == '/' ? to : path_of(to_folder) + "/" + to;
    if (path == victim) {
      raise(SIGKILL);
    }
  }
  return real<int (*)(int, const char*, int, const char*)>("renameat")(from_folder, from, to_folder,
                                                                       to);
}

ssize_t getdents64(int fd, void* buffer, size_t count) {
  const ssize_t got = real<ssize_t (*)(int, void*, size_t)>("getdents64")(fd, buffer, count);
  if (got == 0 && std::getenv("CONFMEND_WHEN_LISTED") != nullptr) {
    sabotage("CONFMEND_WHEN_LISTED", path_of(fd).c_str());
  }
  return got;
}

ssize_t write(int fd, const void* buffer, size_t count) {
  if (refuse_write(fd, lseek(fd, 0, SEEK_CUR), count)) {
    return -1;
  }
  return real<ssize_t (*)(int, const void*, size_t)>("write")(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t at) {
  if (refuse_write(fd, at, count)) {
    return -1;
  }
  return real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, buffer, count, at);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t at) {
  if (refuse_write(fd, at, count)) {
    return -1;
  }
  return real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64")(fd, buffer, count, at);
}

}  // extern "C"
