// Preloaded into confmend by the fault-injection suite to make the file system misbehave at
// chosen moments. It is steered by environment variables:
//   CONFMEND_FAIL_READ=PATH        every read() from PATH fails with EIO
//   CONFMEND_WHEN_OPENED=PATH      when PATH is first opened (open, fopen or opendir) ...
//   CONFMEND_DO=remove|folder      ... remove CONFMEND_TARGET (a file or a whole folder), or
//   CONFMEND_TARGET=PATH               replace it by an empty folder, then carry on.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

void sabotage_on_open(const char* path) {
  static bool done = false;
  if (done || !names("CONFMEND_WHEN_OPENED", path)) {
    return;
  }
  done = true;
  const char* target = std::getenv("CONFMEND_TARGET");
  const char* action = std::getenv("CONFMEND_DO");
  if (target == nullptr || action == nullptr) {
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(target, ignored);
  if (std::strcmp(action, "folder") == 0) {
    std::filesystem::create_directory(target, ignored);
  }
}

bool reads_failing_file(int fd) {
  const char* failing = std::getenv("CONFMEND_FAIL_READ");
  if (failing == nullptr) {
    return false;
  }
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
  if (length < 0) {
    return false;
  }
  path[length] = '\0';
  return std::strcmp(path, failing) == 0;
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

DIR* opendir(const char* path) {
  sabotage_on_open(path);
  return real<DIR* (*)(const char*)>("opendir")(path);
}

ssize_t read(int fd, void* buffer, size_t count) {
  if (reads_failing_file(fd)) {
    errno = EIO;
    return -1;
  }
  return real<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
}

}  // extern "C"
