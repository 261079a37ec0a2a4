#include "mending/ordered_jobs.h"

OrderedJobs::OrderedJobs(std::size_t threads) : wanted_threads_(threads) {}

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
  for (const pthread_t thread : threads_) {
    pthread_join(thread, nullptr);
  }
}

void OrderedJobs::push(std::function<void()> job) {
  if (!started_threads_) {
    started_threads_ = true;
    for (std::size_t started = 0; started < wanted_threads_; ++started) {
      pthread_t thread;
      if (pthread_create(&thread, nullptr, run_thread, this) != 0) {
        break;
      }
      threads_.push_back(thread);
    }
  }
  auto entry = std::make_unique<Job>();
  entry->run = std::move(job);
  if (threads_.empty()) {
    entry->run();
    entry->done = true;
    jobs_.push_back(std::move(entry));
    ++started_;
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(entry));
  }
  job_ready_.notify_one();
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

void* OrderedJobs::run_thread(void* jobs) {
  static_cast<OrderedJobs*>(jobs)->work();
  return nullptr;
}

void OrderedJobs::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    job_ready_.wait(lock, [&] { return closing_ || started_ < jobs_.size(); });
    if (started_ == jobs_.size()) {
      return;  // closing, with nothing left
    }
    Job& job = *jobs_[started_++];
    lock.unlock();
    job.run();
    lock.lock();
    job.done = true;
    job_done_.notify_all();
  }
}
