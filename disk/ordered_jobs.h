#ifndef CONFMEND_DISK_ORDERED_JOBS_H_
#define CONFMEND_DISK_ORDERED_JOBS_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What a thread runs.
struct ThreadStart {
  void (*run)(void* context);
  void* context;
};

// Every thread of the program runs in one of these: a few threads that run jobs in the order
// they are handed in, which the caller takes back, done, in the same order. Mechanism only:
// which job may be handed in, and what is done once one is back, is the caller's. Used from
// one thread.
//
//   OrderedJobs jobs(8);
//   jobs.push([&] { ... });        // started as soon as a thread is free
//   if (jobs.oldest_done()) jobs.take_oldest();
//   jobs.wait_for_oldest(); jobs.take_oldest();
class OrderedJobs {
 public:
  // kLowest: only the time no other thread wants, for work that merely saves the others
  // waiting (reading folders ahead).
  enum class Priority { kNormal, kLowest };

  // At most `threads` threads, each started only when a job finds every thread there busy,
  // so that a walk that finds one file starts one.
  explicit OrderedJobs(std::size_t threads, Priority priority = Priority::kNormal);
  // Waits for every job handed in, then ends the threads.
  ~OrderedJobs();
  OrderedJobs(const OrderedJobs&) = delete;
  OrderedJobs& operator=(const OrderedJobs&) = delete;

  // Hands the job to a thread, or, where none can be had (none asked for, or the system
  // starts none), runs it here before it returns.
  void push(std::function<void()> job);
  // Hands the job to a thread; false, and the job not run, where none can be had.
  bool try_push(std::function<void()>& job);
  // Handed in and not yet taken back, done or not.
  std::size_t in_hand() const { return jobs_.size(); }
  bool oldest_done();
  void wait_for_oldest();
  // Forgets the oldest job, which must be done.
  void take_oldest();

 private:
  struct Job {
    std::function<void()> run;
    bool done = false;
  };
  void work();

  std::mutex mutex_;
  std::condition_variable job_ready_;
  std::condition_variable job_done_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the order handed in
  std::size_t started_ = 0;                // of jobs_, how many a thread has taken
  std::size_t busy_ = 0;                   // threads running a job
  bool closing_ = false;
  const std::size_t most_threads_;
  const Priority priority_;
  const ThreadStart start_;
  bool refused_ = false;  // the system would start no more threads
  std::vector<std::intptr_t> threads_;
};

// How many blocks the calling thread has read from disks so far, where the system counts
// them (Linux); none where it does not.
std::optional<std::uint64_t> blocks_read_by_this_thread();

// The platform's part, for ordered_jobs.cpp alone.

// A thread running `start`, which the caller keeps until the thread has ended; -1 when none
// could be started. And waiting for it to end.
std::intptr_t start_thread(const ThreadStart& start, OrderedJobs::Priority priority);
void wait_for_thread(std::intptr_t thread);

#endif  // CONFMEND_DISK_ORDERED_JOBS_H_
