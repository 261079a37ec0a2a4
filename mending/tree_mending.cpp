#include "mending/tree_mending.h"

#include <algorithm>
#include <string_view>

#include "disk/file_writing.h"
#include "disk/tree_lock.h"
#include "disk/whole_file.h"

namespace {

bool is_config_file_name(std::string_view name) {
  constexpr std::string_view kEnding = ".conf";
  return name.size() > kEnding.size() && name.ends_with(kEnding);
}

// Descriptors the run holds besides the walk and the pool: standard streams, the lock, the
// Steam folder and its lists.
constexpr std::size_t kOtherDescriptors = 16;

// A folder opened in this long may have waited for the disk: cold, many take that long or
// milliseconds.
constexpr std::chrono::microseconds kWaitForTheDisk{250};

// Reading ahead takes descriptors from the walk's depth: only where the limit leaves plenty.
std::size_t read_ahead_threads(std::size_t wanted, const PoolBounds& bounds) {
  const std::size_t limit = most_open_files();
  const std::size_t taken = kOtherDescriptors + bounds.descriptors();
  std::size_t threads = wanted;
  while (threads > 0 && limit < taken + 4 * ReadAhead::descriptors(threads)) {
    --threads;
  }
  return threads;
}

std::size_t deepest_walk(const PoolBounds& bounds, const ReadAhead& read_ahead) {
  const std::size_t limit = most_open_files();
  const std::size_t taken = kOtherDescriptors + bounds.descriptors() + read_ahead.descriptors();
  return limit > taken + 1 ? limit - taken : 1;
}

}  // namespace

TreeMending::TreeMending(const MendingRules& rules, MendingMode mode, MendingReport& report,
                         std::size_t threads, UndoStore* undo, ReadingAhead reading_ahead)
    : mode_(mode),
      report_(report),
      bounds_(pool_bounds(most_open_files(), threads)),
      read_ahead_(read_ahead_threads(reading_ahead.threads, bounds_)),
      reading_ahead_(reading_ahead.from_the_start),
      deepest_(deepest_walk(bounds_, read_ahead_)),
      pool_(rules, mode, report, interruptions_, bounds_, undo) {}

TreeMending::Turn TreeMending::take_turn(const Folder& tree, TreeLock& lock) {
  if (mode_ != MendingMode::kWrite) {
    return Turn::kTaken;  // a dry run changes nothing another run could undo
  }
  SystemError error;
  LockTaking taking = lock.try_take(tree, error);
  if (taking == LockTaking::kHeld) {
    report_.waiting_for_other_run(tree.path());
    taking = lock.take(
        tree, [&] { return !interruptions_.requested(); }, error);
  }
  if (taking == LockTaking::kHeld) {
    return Turn::kInterrupted;
  }
  if (taking == LockTaking::kNotAllowed) {
    // Mending it beside a run that waits for its turn could undo that run's work.
    report_.cannot_take_turns(tree.path(), error);
    return Turn::kRefused;
  }
  return Turn::kTaken;
}

bool TreeMending::mend_tree(Folder tree, TreeLock* turn) {
  TreeLock lock;
  if (turn == nullptr) {
    switch (take_turn(tree, lock)) {
      case Turn::kTaken:
        break;
      case Turn::kInterrupted:
        return false;
      case Turn::kRefused:
        return true;
    }
  }
  const auto identity = tree.identity();
  if (identity && !walked_.insert(*identity).second) {
    return true;
  }
  const auto root = std::make_shared<const Folder>(std::move(tree));
  search_config_files(root, root, 1, 0, nullptr);
  read_ahead_.finish();
  pool_.finish();
  if (turn != nullptr) {
    turn->release();  // the next run's turn, once every file is whole
  }
  return !interruptions_.requested();
}

// Where the system counts the walk's reads from disks, one read while opening folders tells
// the cache is cold. Elsewhere, opening a folder takes much the same time every time where its
// metadata is cached (several hundred microseconds under Wine); one that takes far longer
// than the fastest waited for the disk, and a few such tell it.
void TreeMending::note_opening(std::chrono::steady_clock::time_point since) {
  if (reading_ahead_) {
    return;
  }
  const auto blocks = blocks_read_by_this_thread();
  if (blocks && blocks_read_before_ && *blocks > *blocks_read_before_) {
    reading_ahead_ = true;  // told exactly: the disk was read
    return;
  }
  const auto taken = std::chrono::steady_clock::now() - since;
  fastest_opening_ = std::min(fastest_opening_, taken);
  if (taken >=
      std::max<std::chrono::steady_clock::duration>(kWaitForTheDisk, 8 * fastest_opening_)) {
    reading_ahead_ = ++slow_openings_ >= 3;
  }
}

// By identity, climbing from the folder: a library inside a walked tree has a walked folder
// above it, whatever the number of trees.
bool TreeMending::has_walked(const Folder& folder) const {
  for (const FileIdentity& above : folder.lineage()) {
    if (walked_.count(above) == 1) {
      return true;
    }
  }
  return false;
}

// The whole listing is read before any file in the folder is replaced: a temporary file renamed
// into a folder being listed may be listed again (btrfs, FAT), and would be mended again.
// The folders below are offered to be read ahead, those after the one walked into first, as
// many as are taken; those already offered with a folder above are not offered again.
void TreeMending::search_config_files(const std::shared_ptr<const Folder>& tree,
                                      const std::shared_ptr<const Folder>& folder,
                                      std::size_t depth, int levels_read_ahead,
                                      const MendingRules* rules) {
  std::vector<FolderEntry> entries;
  if (!folder->list(entries)) {
    return;
  }
  if (interruptions_.requested()) {
    return;
  }
  std::vector<bool> offered(entries.size(), false);
  std::size_t next_offer = 0;
  const auto offer_after = [&](std::size_t walked) {
    if (!reading_ahead_ || levels_read_ahead > 1) {
      return;
    }
    for (next_offer = std::max(next_offer, walked + 1); next_offer < entries.size(); ++next_offer) {
      if (entries[next_offer].kind == EntryKind::kFolder) {
        if (!read_ahead_.offer(folder, entries[next_offer].name)) {
          return;
        }
        offered[next_offer] = true;
      }
    }
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FolderEntry& entry = entries[i];
    if (entry.kind == EntryKind::kFolder) {
      offer_after(i);
      if (depth >= deepest_) {
        pool_.add_folder_too_deep(folder->path_of(entry.name));
        continue;
      }
      const auto opening = std::chrono::steady_clock::now();
      Folder below =
          folder->open_folder(entry.name, entry.may_be_link ? Follow::kLinks : Follow::kNoLink);
      note_opening(opening);
      if (!below.is_open() || (entry.may_be_link && !below.lies_within(*tree))) {
        continue;
      }
      const auto identity = below.identity();
      if (identity && !walked_.insert(*identity).second) {
        continue;
      }
      const int levels_below = levels_read_ahead > 1 ? levels_read_ahead - 1
                               : offered[i]          ? ReadAhead::kLevels
                                                     : 0;
      const auto game = identity ? rules_below_.find(*identity) : rules_below_.end();
      search_config_files(tree, std::make_shared<const Folder>(std::move(below)), depth + 1,
                          levels_below, game != rules_below_.end() ? game->second : rules);
    } else if (entry.kind == EntryKind::kFile && is_config_file_name(entry.name)) {
      mend_file(tree, folder, entry, rules);
    } else if (entry.kind == EntryKind::kFile && is_replacement_name(entry.name) &&
               mode_ == MendingMode::kWrite) {
      remove_leftover_replacement(*folder, entry.name);
    }
  }
}

// A link to a file is mended where the file lies, if that is within the tree; one that leads
// nowhere is announced, and then reported as unreadable.
void TreeMending::mend_file(const std::shared_ptr<const Folder>& tree,
                            const std::shared_ptr<const Folder>& folder, const FolderEntry& entry,
                            const MendingRules* rules) {
  FileToMend file{folder, entry.name, folder->path_of(entry.name), std::nullopt, tree, rules};
  FilePlace place = entry.may_be_link ? place_of_file(*folder, entry.name)
                                      : FilePlace{FilePlaceKind::kHere, Folder(), entry.name};
  switch (place.kind) {
    case FilePlaceKind::kHere:
    case FilePlaceKind::kNowhere:
      break;
    case FilePlaceKind::kElsewhere:
      if (!place.folder.lies_within(*tree)) {
        return;
      }
      file.folder = std::make_shared<const Folder>(std::move(place.folder));
      file.name = place.name;
      break;
    case FilePlaceKind::kUntold:
      return;
  }
  if (!interruptions_.requested()) {
    file.found = stamp_of_file_in(*file.folder, file.name);
    pool_.add(std::move(file));
  }
}
