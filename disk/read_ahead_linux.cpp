#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "disk/read_ahead.h"

namespace {

// By the system calls themselves: what reads ahead is no part of the walk, and is not to be
// taken for it by anything that watches the program's calls to the C library.
int open_folder_once(int at, const char* name) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (int flags = kFlags | O_NOATIME;;) {
    const long fd = syscall(SYS_openat, at, name, flags);
    if (fd >= 0) {
      return static_cast<int>(fd);
    }
    if (errno == EPERM && flags != kFlags) {
      flags = kFlags;  // not the owner: the access time is the system's to keep
    } else if (errno != EINTR) {
      return -1;
    }
  }
}

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void list_below(int at, const char* name, int levels, const std::atomic<bool>& stop) {
  const int fd = open_folder_once(at, name);
  if (fd < 0) {
    return;
  }
  alignas(dirent64) char buffer[8192];
  while (!stop) {
    const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    for (long offset = 0; levels > 1 && offset < got && !stop;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      if (entry->d_type == DT_DIR && !is_dot_or_dot_dot(entry->d_name)) {
        list_below(fd, entry->d_name, levels - 1, stop);
      }
    }
  }
  (void)syscall(SYS_close, fd);  // only read through
}

}  // namespace

void list_folders_below(const Folder& folder, std::string_view name, int levels,
                        const std::atomic<bool>& stop) {
  char entry[256];
  if (name.size() >= sizeof entry) {
    return;
  }
  name.copy(entry, name.size());
  entry[name.size()] = '\0';
  list_below(static_cast<int>(folder.handle()), entry, levels, stop);
}

namespace {

void* run_thread(void* given) {
  const auto* start = static_cast<const ThreadStart*>(given);
  start->run(start->context);
  return nullptr;
}

}  // namespace

std::intptr_t start_small_thread(const ThreadStart& start) {
  static_assert(sizeof(pthread_t) <= sizeof(std::intptr_t));
  pthread_t thread;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    return -1;
  }
  // Three buffers and their frames; the sanitizers' builds take several times more. A larger
  // stack where this one is refused only costs address space.
  (void)pthread_attr_setstacksize(&attributes, 512 * 1024);
  // Only the time no other thread wants: where the folders are cached, the walk reads them as
  // fast alone, and the threads would only take the processors from it.
  const sched_param lowest{};
  const bool idle = pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED) == 0 &&
                    pthread_attr_setschedpolicy(&attributes, SCHED_IDLE) == 0 &&
                    pthread_attr_setschedparam(&attributes, &lowest) == 0;
  void* context = const_cast<ThreadStart*>(&start);
  int started = pthread_create(&thread, &attributes, run_thread, context);
  if (started != 0 && idle) {
    started = pthread_create(&thread, nullptr, run_thread, context);  // a system that refuses it
  }
  (void)pthread_attr_destroy(&attributes);  // frees nothing on Linux
  return started == 0 ? static_cast<std::intptr_t>(thread) : -1;
}

void wait_for_thread(std::intptr_t thread) {
  pthread_join(static_cast<pthread_t>(thread), nullptr);
}

std::optional<std::uint64_t> blocks_read_by_this_thread() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(usage.ru_inblock);
}
