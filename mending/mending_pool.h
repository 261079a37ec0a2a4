#ifndef CONFMEND_MENDING_MENDING_POOL_H_
#define CONFMEND_MENDING_MENDING_POOL_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/console.h"
#include "disk/folder.h"
#include "disk/ordered_jobs.h"
#include "disk/whole_file.h"
#include "mending/config_rewriter.h"
#include "mending/mending_report.h"
#include "mending/undo_store.h"
#include "settings/setting_line.h"

// The files a run has taken on, by identity, so that each is mended once and by one thread,
// however many names (hard links, symbolic links) lead to it. Safe from any thread.
class FileClaims {
 public:
  // True when nobody had claimed the file yet: it is now the caller's.
  bool claim(const FileIdentity& file) {
    const std::lock_guard lock(mutex_);
    return claimed_.insert(file).second;
  }

 private:
  std::mutex mutex_;
  std::set<FileIdentity> claimed_;
};

// One file to mend: where it lies, and how it is announced.
struct FileToMend {
  std::shared_ptr<const Folder> folder;
  std::string name;
  std::string path;
  // Its identity and size as the walk saw them; unknown when it could not be looked at.
  std::optional<FileStamp> found;
  // The tree its folder must still lie within when it is written.
  std::shared_ptr<const Folder> tree;
  // Its game's own rules, where its game's DOSBox asks for them; else the run's.
  const MendingRules* rules = nullptr;
};

// How much the pool holds at once. Each file in hand may hold a folder open, each thread a
// few files, and each folder waiting to be flushed one more descriptor.
struct PoolBounds {
  std::size_t threads = 32;
  std::size_t files_in_hand = 128;
  std::uint64_t bytes_in_hand = 64 << 20;  // a larger file is mended alone
  std::size_t folders_to_flush = 256;      // flushed together, each held open until then
  // Descriptors that all of this may hold at once.
  std::size_t descriptors() const { return threads * 3 + files_in_hand + folders_to_flush; }
};

// Bounds that leave most of `open_files` descriptors to the walk, but no more than
// `most_threads` threads.
PoolBounds pool_bounds(std::size_t open_files, std::size_t most_threads);

// Mends files on a few threads at once, so that their flushes to the disk overlap: a file
// system commits flushes that overlap together. The policy lives here, on the thread that
// hands the files in: which file starts (each file once, within the bounds), when folders are
// flushed (a batch at a time, each once, all before finish() returns), and what is reported
// (every name handed in, in order, once its file is done). An interruption lets the files
// being written finish and starts no other.
class MendingPool {
 public:
  // With `undo`, every file whose bytes change is first kept there, to take the run back by.
  MendingPool(const MendingRules& rules, MendingMode mode, MendingReport& report,
              const HeldInterruptions& interruptions, const PoolBounds& bounds,
              UndoStore* undo = nullptr);
  ~MendingPool();
  MendingPool(const MendingPool&) = delete;
  MendingPool& operator=(const MendingPool&) = delete;

  // Hands a file in; waits while too much is in hand, reporting what is done meanwhile. A
  // file that an earlier name led to is not mended again: it is reported with that outcome.
  void add(FileToMend file);
  // A folder the walk could not go into for lack of descriptors, reported in its place.
  void add_folder_too_deep(std::string path);
  // Waits until every file handed in is done and reported, and their folders are flushed.
  void finish();

 private:
  struct Slot;
  void push_file(Slot& slot);
  void push_flushes();
  // Reports the slots done at the front, in order; with `wait`, waits for the first.
  void report_done(bool wait);
  void report(Slot& slot);

  const MendingRules rules_;
  UndoStore* const undo_;
  const MendingMode mode_;
  MendingReport& report_;
  const HeldInterruptions& interruptions_;
  const PoolBounds bounds_;
  FileClaims claims_;

  std::deque<std::unique_ptr<Slot>> slots_;  // not yet reported, in the order handed in
  std::uint64_t bytes_in_hand_ = 0;
  // Folders that temporary files were renamed into, not yet flushed.
  std::vector<std::shared_ptr<const Folder>> to_flush_;
  // What became of each file reported so far, for the later names that lead to it.
  std::map<FileIdentity, FoundFile> first_names_;  // without their bytes
  OrderedJobs jobs_;                               // last: its threads end before what they use
};

#endif  // CONFMEND_MENDING_MENDING_POOL_H_
