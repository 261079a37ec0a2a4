#include "disk/ordered_jobs.h"

OrderedJobs::OrderedJobs(std::size_t threads, Priority priority)
    : most_threads_(threads),
      priority_(priority),
      start_{[](void* jobs) { static_cast<OrderedJobs*>(jobs)->work(); }, this} {}

OrderedJobs::~OrderedJobs() {
  while (in_hand() > 0) {
    wait_for_oldest();
    take_oldest();
  }
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  job_ready_.notify_all();
  for (const std::intptr_t thread : threads_) {
    wait_for_thread(thread);
  }
}

void OrderedJobs::push(std::function<void()> job) {
  if (try_push(job)) {
    return;
  }
  job();
  auto entry = std::make_unique<Job>();
  entry->done = true;
  const std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(entry));
  ++started_;
}

bool OrderedJobs::try_push(std::function<void()>& job) {
  bool wants_thread = false;
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::make_unique<Job>(Job{std::move(job), false}));
    // Only the pushing thread starts threads, so `threads_` does not change meanwhile.
    wants_thread = jobs_.size() - started_ > threads_.size() - busy_;
  }
  if (wants_thread && !refused_ && threads_.size() < most_threads_) {
    const std::intptr_t thread = start_thread(start_, priority_);
    if (thread == -1) {
      refused_ = true;  // those there are take the jobs
    } else {
      threads_.push_back(thread);
    }
  }
  if (threads_.empty()) {
    const std::lock_guard lock(mutex_);
    job = std::move(jobs_.back()->run);
    jobs_.pop_back();
    return false;
  }
  job_ready_.notify_one();
  return true;
}

bool OrderedJobs::oldest_done() {
  const std::lock_guard lock(mutex_);
  return !jobs_.empty() && jobs_.front()->done;
}

void OrderedJobs::wait_for_oldest() {
  std::unique_lock lock(mutex_);
  job_done_.wait(lock, [&] { return jobs_.empty() || jobs_.front()->done; });
}

void OrderedJobs::take_oldest() {
  const std::lock_guard lock(mutex_);
  jobs_.pop_front();
  --started_;
}

void OrderedJobs::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    job_ready_.wait(lock, [&] { return closing_ || started_ < jobs_.size(); });
    if (started_ == jobs_.size()) {
      return;  // closing, with nothing left
    }
    Job& job = *jobs_[started_++];
    ++busy_;
    lock.unlock();
    job.run();
    lock.lock();
    job.done = true;
    --busy_;
    job_done_.notify_all();
  }
}
