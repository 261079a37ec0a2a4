#ifndef CONFMEND_MENDING_ORDERED_JOBS_H_
#define CONFMEND_MENDING_ORDERED_JOBS_H_

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A fixed number of threads that run jobs in the order they are handed in; the caller takes
// them back, done, in the same order. Mechanism only: which job may be handed in, and what
// is done once one is back, is the caller's. Used from one thread.
//
//   OrderedJobs jobs(8);
//   jobs.push([&] { ... });        // started as soon as a thread is free
//   if (jobs.oldest_done()) jobs.take_oldest();
//   jobs.wait_for_oldest(); jobs.take_oldest();
class OrderedJobs {
 public:
  // The threads start with the first job, so that a walk that finds nothing starts none. A
  // thread the system will not start leaves the jobs to those there are; with none at all,
  // push() runs each job itself.
  explicit OrderedJobs(std::size_t threads);
  // Waits for every job handed in, then ends the threads.
  ~OrderedJobs();
  OrderedJobs(const OrderedJobs&) = delete;
  OrderedJobs& operator=(const OrderedJobs&) = delete;

  void push(std::function<void()> job);
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
  static void* run_thread(void* jobs);
  void work();

  std::mutex mutex_;
  std::condition_variable job_ready_;
  std::condition_variable job_done_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the order handed in
  std::size_t started_ = 0;                // of jobs_, how many a thread has taken
  bool closing_ = false;
  const std::size_t wanted_threads_;
  bool started_threads_ = false;
  std::vector<pthread_t> threads_;
};

#endif  // CONFMEND_MENDING_ORDERED_JOBS_H_
