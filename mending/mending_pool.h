#ifndef CONFMEND_MENDING_MENDING_POOL_H_
#define CONFMEND_MENDING_MENDING_POOL_H_

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console/interruptions.h"
#include "disk/folder.h"
#include "mending/config_rewriter.h"
#include "mending/mending_report.h"
#include "settings/setting_table.h"

// One file to mend: where it lies, and how it is announced.
struct FileToMend {
  std::shared_ptr<const Folder> folder;
  std::string name;
  std::string path;
  std::uint64_t size = 0;  // as the walk saw it, to bound the memory in use
};

// Mends files on a few threads at once, so that their flushes to the disk overlap: a file
// system commits flushes that overlap together. What became of each file is reported in the
// order the files were handed in, on the thread that hands them in, and only once it is
// whole. The folders new files were renamed into are flushed by the same threads, a batch
// at a time, each once in a batch, and all of them before finish() returns. Threads start as
// they are needed; the bytes of the files in hand are bounded, as is their number. An
// interruption lets the files being written finish and starts no other.
class MendingPool {
 public:
  MendingPool(const SettingTable& reference, MendingMode mode, MendingReport& report,
              const HeldInterruptions& interruptions, std::size_t most_threads);
  ~MendingPool();
  MendingPool(const MendingPool&) = delete;
  MendingPool& operator=(const MendingPool&) = delete;

  // Hands a file in; waits while too much is in hand, reporting what is done meanwhile.
  void add(FileToMend file);
  // Waits until every file handed in is done, and reported.
  void finish();

 private:
  struct Slot;
  static void* run_thread(void* pool);
  void work();
  bool may_start(const Slot& slot) const;
  void start_thread_if_needed();
  void report_done(std::unique_lock<std::mutex>& lock);
  void hand_over_folders_to_flush();

  const SettingTable& reference_;
  const MendingMode mode_;
  MendingReport& report_;
  const HeldInterruptions& interruptions_;
  const std::size_t most_threads_;

  std::mutex mutex_;
  std::condition_variable work_ready_;  // a slot to start, room in memory, or the end
  std::condition_variable slot_done_;
  std::deque<std::unique_ptr<Slot>> slots_;  // not yet reported, in the order handed in
  std::size_t started_ = 0;                  // of slots_, how many have been taken
  std::uint64_t bytes_in_hand_ = 0;
  std::vector<pthread_t> threads_;
  std::size_t idle_ = 0;
  bool closing_ = false;
  // Folders that new files were renamed into, not yet handed to the threads to flush; the
  // reporting thread's own.
  std::vector<std::shared_ptr<const Folder>> to_flush_;
  std::vector<std::shared_ptr<const Folder>> flushing_;  // handed over, not yet taken
  std::size_t flushes_under_way_ = 0;
};

#endif  // CONFMEND_MENDING_MENDING_POOL_H_
