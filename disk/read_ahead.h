#ifndef CONFMEND_DISK_READ_AHEAD_H_
#define CONFMEND_DISK_READ_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/folder.h"
#include "disk/ordered_jobs.h"

// Lists folders ahead of a walk, on a few threads of its own, so that the walk finds them in
// the cache instead of waiting for the disk one folder at a time. Nothing it reads is kept:
// what the walk sees, and in which order, is what it would see without it. It follows no
// link, and reads only through folders the walk has opened.
//
// Calling sequence, on the walking thread alone: `offer` each folder the walk will come to,
// as long as it says yes; `finish` before the folders offered may be let go for good.
class ReadAhead {
 public:
  // Folders listed below each one offered, the offered one included.
  static constexpr int kLevels = 3;

  // With no thread it reads nothing. Threads start with the first offer.
  explicit ReadAhead(std::size_t threads);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Descriptors it holds at most with `threads` threads, the folders offered to it included;
  // and with its own.
  static std::size_t descriptors(std::size_t threads);
  std::size_t descriptors() const { return descriptors(threads_); }

  // Has the folder `name` in `folder`, and those below it, listed soon. False when as many
  // are waiting as it will hold: offer it again later, or let the walk read it.
  bool offer(const std::shared_ptr<const Folder>& folder, std::string_view name);
  // Stops the threads once what they are listing is listed, and lets go of every folder
  // offered.
  void finish();

 private:
  enum class SlotState { kFree, kWaiting, kListing };
  struct Slot {
    SlotState state = SlotState::kFree;
    std::uint64_t offered = 0;
    std::shared_ptr<const Folder> folder;
    std::string name;
  };

  void list_offered();
  Slot* oldest_waiting();

  const std::size_t threads_;
  std::mutex mutex_;
  std::condition_variable offered_;
  std::vector<Slot> slots_;
  std::uint64_t offers_ = 0;
  std::atomic<bool> stopping_{false};
  OrderedJobs listing_;  // last: its threads end before what they use goes
};

// The platform's part, for read_ahead.cpp alone.

// Lists the folder `name` in `folder`, and, `levels` deep in all, the folders below it that
// are no link, until `stop` is set.
void list_folders_below(const Folder& folder, std::string_view name, int levels,
                        const std::atomic<bool>& stop);

#endif  // CONFMEND_DISK_READ_AHEAD_H_
