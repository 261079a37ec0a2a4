#include <windows.h>

#include "disk/ordered_jobs.h"

std::intptr_t start_thread(const ThreadStart& start, OrderedJobs::Priority priority) {
  const HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* given) -> DWORD {
        const auto* what = static_cast<const ThreadStart*>(given);
        what->run(what->context);
        return 0;
      },
      const_cast<ThreadStart*>(&start), 0, nullptr);
  if (thread == nullptr) {
    return -1;
  }
  if (priority == OrderedJobs::Priority::kLowest) {
    // Background mode would lower its disk priority too, which is what the threads are for.
    (void)SetThreadPriority(thread, THREAD_PRIORITY_IDLE);  // refused, it only competes more
  }
  return reinterpret_cast<std::intptr_t>(thread);
}

void wait_for_thread(std::intptr_t thread) {
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  (void)CloseHandle(handle);  // the thread has ended
}

// Windows counts a process's reads, cached or not, and no thread's.
std::optional<std::uint64_t> blocks_read_by_this_thread() {
  return std::nullopt;
}
