#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include "disk/ordered_jobs.h"

namespace {

void* run_thread(void* given) {
  const auto* start = static_cast<const ThreadStart*>(given);
  start->run(start->context);
  return nullptr;
}

}  // namespace

std::intptr_t start_thread(const ThreadStart& start, OrderedJobs::Priority priority) {
  static_assert(sizeof(pthread_t) <= sizeof(std::intptr_t));
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    return -1;
  }
  const sched_param lowest{};
  const bool idle = priority == OrderedJobs::Priority::kLowest &&
                    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED) == 0 &&
                    pthread_attr_setschedpolicy(&attributes, SCHED_IDLE) == 0 &&
                    pthread_attr_setschedparam(&attributes, &lowest) == 0;
  void* context = const_cast<ThreadStart*>(&start);
  pthread_t thread;
  int started = pthread_create(&thread, &attributes, run_thread, context);
  if (started != 0 && idle) {
    started = pthread_create(&thread, nullptr, run_thread, context);  // a system that refuses it
  }
  (void)pthread_attr_destroy(&attributes);  // frees nothing on Linux
  return started == 0 ? static_cast<std::intptr_t>(thread) : -1;
}

void wait_for_thread(std::intptr_t thread) {
  (void)pthread_join(static_cast<pthread_t>(thread), nullptr);  // fails only on a wrong thread
}

std::optional<std::uint64_t> blocks_read_by_this_thread() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(usage.ru_inblock);
}
