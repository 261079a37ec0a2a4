#include "disk/ordered_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace {

// Jobs that take longer the earlier they were handed in still come back in order, each run
// once, however many threads run them, and with none at all.
TEST(OrderedJobs, GivesJobsBackInTheOrderHandedIn) {
  for (const std::size_t threads : {0, 1, 4, 32}) {
    OrderedJobs jobs(threads);
    std::vector<int> runs(200, 0);
    std::atomic<int> running{0}, most_at_once{0};
    std::size_t taken = 0;
    for (std::size_t job = 0; job < runs.size(); ++job) {
      jobs.push([&, job] {
        const int now = ++running;
        for (int seen = most_at_once;
             now > seen && !most_at_once.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds((200 - job % 8 * 25) * 2));
        ++runs[job];
        --running;
      });
      while (jobs.in_hand() > 16) {
        jobs.wait_for_oldest();
        EXPECT_EQ(runs[taken], 1) << "job " << taken << " came back before it was done";
        jobs.take_oldest();
        ++taken;
      }
    }
    while (jobs.in_hand() > 0) {
      jobs.wait_for_oldest();
      EXPECT_TRUE(jobs.oldest_done());
      jobs.take_oldest();
      ++taken;
    }
    EXPECT_EQ(taken, runs.size());
    EXPECT_EQ(std::vector<int>(runs.size(), 1), runs) << threads << " threads";
    EXPECT_LE(static_cast<std::size_t>(most_at_once.load()), std::max<std::size_t>(threads, 1));
  }
}

// A thread is started only for a job that finds every thread busy: jobs handed in one at a
// time all run on the one thread, however many are allowed.
TEST(OrderedJobs, StartsNoMoreThreadsThanJobsInHand) {
  OrderedJobs jobs(32);
  std::set<std::thread::id> ran_on;
  for (int job = 0; job < 50; ++job) {
    jobs.push([&] { ran_on.insert(std::this_thread::get_id()); });
    jobs.wait_for_oldest();
    jobs.take_oldest();
  }
  EXPECT_EQ(ran_on.size(), 1u);
  EXPECT_EQ(ran_on.count(std::this_thread::get_id()), 0u);
}

// Without a thread, try_push() leaves the job to its caller, unrun; push() runs it there.
TEST(OrderedJobs, WithoutThreadsLeavesTheJobToTheCaller) {
  OrderedJobs jobs(0);
  int runs = 0;
  std::function<void()> job = [&] { ++runs; };
  EXPECT_FALSE(jobs.try_push(job));
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(jobs.in_hand(), 0u);
  ASSERT_TRUE(job);
  jobs.push(job);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(jobs.oldest_done());
}

}  // namespace
