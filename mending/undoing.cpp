#include "mending/undoing.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <thread>
#include <utility>

#include "console/console.h"
#include "disk/file_writing.h"
#include "disk/ordered_jobs.h"
#include "disk/tree_lock.h"
#include "disk/whole_file.h"

namespace {

// A name a folder can hold: never one that climbs out of it or names a place of its own.
bool is_plain_name(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return false;
  }
  return !kBackslashSeparates || name.find_first_of("\\:") == std::string_view::npos;
}

bool is_config_name(std::string_view name) {
  constexpr std::string_view kEnding = ".conf";
  return is_plain_name(name) && name.size() > kEnding.size() && name.ends_with(kEnding);
}

const Folder* tree_named(const std::vector<Folder>& trees, const std::string& path) {
  const auto tree = std::find_if(trees.begin(), trees.end(),
                                 [&](const Folder& folder) { return folder.path() == path; });
  return tree == trees.end() ? nullptr : &*tree;
}

// The trees the copies lie in, in the order the run walked them.
std::vector<std::string> trees_of(const std::vector<const KeptCopy*>& copies) {
  std::vector<std::string> trees;
  for (const KeptCopy* copy : copies) {
    if (std::find(trees.begin(), trees.end(), copy->tree) == trees.end()) {
      trees.push_back(copy->tree);
    }
  }
  return trees;
}

// The copies left to settle, tree by tree in the order the run walked them, and in each the
// order of their paths, so that the files of a folder come together.
std::vector<const KeptCopy*> copies_to_settle(const EntryRecords& records) {
  std::vector<const KeptCopy*> copies;
  for (const KeptCopy& copy : records.copies) {
    if (records.settled.count(copy.number) == 0) {
      copies.push_back(&copy);
    }
  }
  const std::vector<std::string> trees = trees_of(copies);
  const auto tree_order = [&](const KeptCopy* copy) {
    return std::find(trees.begin(), trees.end(), copy->tree) - trees.begin();
  };
  std::stable_sort(copies.begin(), copies.end(), [&](const KeptCopy* x, const KeptCopy* y) {
    return std::pair(tree_order(x), x->path) < std::pair(tree_order(y), y->path);
  });
  return copies;
}

// Removes the temporary files that an undo killed while writing left in the folder.
void remove_leftovers(const Folder& folder) {
  std::vector<FolderEntry> entries;
  if (folder.list(entries)) {
    for (const FolderEntry& entry : entries) {
      if (entry.kind == EntryKind::kFile && is_replacement_name(entry.name)) {
        remove_leftover_replacement(folder, entry.name);
      }
    }
  }
}

// What became of one file, told on the thread that reports.
struct FileSettling {
  enum What { kAlready, kRestored, kChangedSince, kNotThere, kLeft };
  const KeptCopy* copy = nullptr;
  What what = kLeft;
  FileOutcome outcome = FileOutcome::kCannotWrite;
  SystemError error;
  FileBytes now;  // in a dry run, what the file holds, to show how it would change
};

// The files of one folder, settled together, their folder flushed once.
struct FolderSettling {
  std::vector<const KeptCopy*> copies;
  bool unlocked = false;                  // its tree's lock could not be taken: left
  bool started = false;                   // false when an interruption came first
  std::unique_ptr<FileSettling[]> files;  // one for each copy
};

// Takes one run back, once its trees are held: folders are settled on a few threads at once,
// so that their flushes overlap as a run's do, and reported in order on the calling thread,
// which records what was settled once its folders are flushed.
class RunUndoing {
 public:
  static constexpr std::size_t kThreads = 16;

  RunUndoing(const OpenStore& store, const UndoEntry& entry, const std::vector<Folder>& trees,
             MendingMode mode, const HeldInterruptions& interruptions, UndoingReport& report,
             UndoCount& count)
      : trees_(trees),
        mode_(mode),
        interruptions_(interruptions),
        report_(report),
        count_(count),
        log_(store, entry.name),
        jobs_(std::clamp<std::size_t>(most_open_files() / 16, 1, kThreads)) {}

  // Settles the copies; false when an interruption stopped it.
  bool settle(const std::vector<const KeptCopy*>& copies, const std::set<std::string>& unlocked) {
    for (std::size_t start = 0; start < copies.size();) {
      auto folder = std::make_unique<FolderSettling>();
      std::size_t end = start;
      while (end < copies.size() && copies[end]->folder_path == copies[start]->folder_path &&
             copies[end]->tree == copies[start]->tree) {
        folder->copies.push_back(copies[end++]);
      }
      folder->unlocked = unlocked.count(copies[start]->tree) > 0;
      FolderSettling& settling = *folder;
      jobs_.push([this, &settling] { settle_folder(settling); });
      in_hand_.push_back(std::move(folder));
      while (in_hand_.size() > 2 * kThreads) {
        report_oldest();
      }
      start = end;
    }
    while (!in_hand_.empty()) {
      report_oldest();
    }
    record();
    return !interrupted_;
  }

 private:
  void settle_folder(FolderSettling& settling) {
    if (interruptions_.requested()) {
      return;
    }
    settling.started = true;
    settling.files = std::make_unique<FileSettling[]>(settling.copies.size());
    SystemError error;
    const Folder folder =
        settling.unlocked ? Folder() : folder_of_copy(*settling.copies.front(), trees_, error);
    bool replaced = false;
    for (std::size_t at = 0; at < settling.copies.size(); ++at) {
      FileSettling& file = settling.files[at];
      file.copy = settling.copies[at];
      if (settling.unlocked) {
        file.what = FileSettling::kLeft;  // said with its tree
      } else if (!folder.is_open()) {
        file.error = error;
        file.what = !error || says_not_found(error) ? FileSettling::kNotThere : FileSettling::kLeft;
      } else {
        take_back(folder, file, replaced);
      }
    }
    if (mode_ == MendingMode::kWrite && folder.is_open()) {
      // Flushed before the files are recorded given back: a record never outlasts a rename.
      if (replaced) {
        folder.flush();
      }
      remove_leftovers(folder);
    }
  }

  void take_back(const Folder& folder, FileSettling& file, bool& replaced) {
    const KeptCopy& copy = *file.copy;
    FileStamp stamp;
    const FileOutcome read = read_file_in(folder, copy.name, file.now, stamp, file.error);
    const std::string_view bytes = file.now.view();
    if (read == FileOutcome::kUnchanged && bytes == copy.old_bytes) {
      file.what = FileSettling::kAlready;  // by an undo stopped before it could record it
    } else if (read == FileOutcome::kInUse) {
      file.what = FileSettling::kLeft;
      file.outcome = FileOutcome::kInUse;
    } else if (read != FileOutcome::kUnchanged || bytes.size() != copy.new_size ||
               bytes_digest(bytes) != copy.new_digest) {
      file.what = FileSettling::kChangedSince;
    } else if (mode_ == MendingMode::kDryRun) {
      file.what = FileSettling::kRestored;
      return;  // its bytes kept, to show how
    } else {
      file.outcome = give_file_bytes(folder, copy.name, copy.old_bytes, FileAsRead{stamp, bytes},
                                     file.error, replaced);
      file.what =
          file.outcome == FileOutcome::kChanged ? FileSettling::kRestored : FileSettling::kLeft;
    }
    file.now.clear();
  }

  void report_oldest() {
    jobs_.wait_for_oldest();
    jobs_.take_oldest();
    FolderSettling& settling = *in_hand_.front();
    interrupted_ = interrupted_ || !settling.started;
    for (std::size_t at = 0; settling.started && at < settling.copies.size(); ++at) {
      FileSettling& file = settling.files[at];
      const std::string& path = file.copy->path;
      count_.files += file.what != FileSettling::kAlready;
      switch (file.what) {
        case FileSettling::kAlready:
          settled_.emplace_back(file.copy->number, Settled::kGivenBack);
          break;
        case FileSettling::kRestored:
          ++count_.restored;
          report_.restored(path, file.now.view(), file.copy->old_bytes);
          settled_.emplace_back(file.copy->number, Settled::kGivenBack);
          break;
        case FileSettling::kChangedSince:
          ++count_.changed_since;
          report_.changed_since(path);
          settled_.emplace_back(file.copy->number, Settled::kChangedSince);
          break;
        case FileSettling::kNotThere:
          ++count_.left;
          report_.not_there(path);
          settled_.emplace_back(file.copy->number, Settled::kLeft);
          break;
        case FileSettling::kLeft:
          ++count_.left;
          if (!settling.unlocked) {
            report_.not_restored(path, file.outcome, file.error);
          }
          settled_.emplace_back(file.copy->number, Settled::kLeft);
          break;
      }
    }
    in_hand_.pop_front();
    if (settled_.size() >= 256) {
      record();
    }
  }

  // Unrecorded, a file given back is known again by its bytes, and one changed since is said
  // again: a record that cannot be written loses nothing.
  void record() {
    if (mode_ == MendingMode::kWrite) {
      SystemError error;
      (void)log_.record(settled_, error);
    }
    settled_.clear();
  }

  const std::vector<Folder>& trees_;
  const MendingMode mode_;
  const HeldInterruptions& interruptions_;
  UndoingReport& report_;
  UndoCount& count_;
  UndoLog log_;
  std::vector<std::pair<std::uint64_t, Settled>> settled_;  // not yet recorded, left ones too
  bool interrupted_ = false;
  std::deque<std::unique_ptr<FolderSettling>> in_hand_;  // in the order handed in
  OrderedJobs jobs_;  // last: its threads end before what they use
};

// The newest entry not wholly taken back, nor passed over.
std::optional<UndoEntry> newest_open_entry(const OpenStore& store,
                                           const std::set<std::string>& passed_over) {
  for (UndoEntry& entry : undo_entries(store.folder)) {
    if (entry.state == UndoEntry::kOpen && passed_over.count(entry.name) == 0) {
      return std::move(entry);
    }
  }
  return std::nullopt;
}

// Whether the entry is still the newest one not wholly taken back, and its run has ended:
// asked under the store's lock, under which runs number their entries, held for a moment.
bool is_still_newest(const OpenStore& store, const UndoEntry& entry,
                     const std::set<std::string>& passed_over) {
  TreeLock lock;
  SystemError error;
  // Where this process may not take it, no run can number an entry under it either.
  (void)lock.take(
      store.folder, [] { return true; }, error);
  const auto newest = newest_open_entry(store, passed_over);
  return newest && newest->name == entry.name && !is_run_going(store.folder, entry);
}

enum class Taking { kTaken, kInterrupted };

// Takes the locks of the trees in the order given; a tree this process may not lock is said,
// and its files are left.
Taking take_tree_locks(const std::vector<std::string>& paths, const std::vector<Folder>& trees,
                       const HeldInterruptions& interruptions, UndoingReport& report,
                       std::vector<std::unique_ptr<TreeLock>>& locks,
                       std::set<std::string>& unlocked) {
  for (const std::string& path : paths) {
    const Folder* tree = tree_named(trees, path);
    if (tree == nullptr) {
      continue;  // not there today: its files are said so, and nothing of it is touched
    }
    auto lock = std::make_unique<TreeLock>();
    SystemError error;
    LockTaking taking = lock->try_take(*tree, error);
    if (taking == LockTaking::kHeld) {
      report.waiting_for_other_run(path);
      taking = lock->take(
          *tree, [&] { return !interruptions.requested(); }, error);
    }
    if (taking == LockTaking::kHeld) {
      return Taking::kInterrupted;
    }
    if (taking == LockTaking::kNotAllowed) {
      report.cannot_take_turns(path, error);
      unlocked.insert(path);
      continue;
    }
    locks.push_back(std::move(lock));
  }
  return Taking::kTaken;
}

}  // namespace

Folder folder_of_copy(const KeptCopy& copy, const std::vector<Folder>& trees, SystemError& error) {
  error = {};
  const Folder* tree = tree_named(trees, copy.tree);
  std::string_view rest = copy.folder_path;
  if (tree == nullptr || !is_config_name(copy.name) || !rest.starts_with(copy.tree)) {
    return Folder();
  }
  rest.remove_prefix(copy.tree.size());
  Folder folder = Folder::open(tree->path());
  while (folder.is_open() && !rest.empty()) {
    if (rest.front() != '/') {
      return Folder();
    }
    rest.remove_prefix(1);
    const std::string_view name = rest.substr(0, rest.find('/'));
    rest.remove_prefix(name.size());
    if (!is_plain_name(name)) {
      return Folder();
    }
    folder = folder.open_folder(name, Follow::kLinks);
    if (!folder.is_open()) {
      error = last_system_error();
    }
  }
  // Links are followed as the run followed them, and only where they stay within the tree.
  if (folder.is_open() && !folder.lies_within(*tree)) {
    return Folder();
  }
  return folder;
}

UndoCount undo_last_run(const OpenStore& store, const std::vector<Folder>& trees, MendingMode mode,
                        bool skip, UndoingReport& report) {
  UndoCount count;
  if (store.state.kind != StoreState::kReady) {
    return count;
  }
  HeldInterruptions interruptions;
  std::set<std::string> passed_over;
  std::string waited_for;
  for (;;) {
    const std::optional<UndoEntry> entry = newest_open_entry(store, passed_over);
    if (!entry) {
      return count;
    }
    if (skip) {
      skip = false;
      SystemError error;
      if (mode == MendingMode::kWrite && !mark_entry(store, *entry, UndoEntry::kSkipped, error)) {
        report.cannot_read(entry->made,
                           {Trust::kCannotTell, store.folder.path_of(entry->name), 0, "", error});
        count.result = UndoCount::kUnreadable;
        return count;
      }
      passed_over.insert(entry->name);
      report.passed_over(entry->made);
      continue;
    }
    // A run that goes on is waited for: what it has kept so far is not all it will change.
    if (is_run_going(store.folder, *entry)) {
      if (waited_for != entry->name) {
        report.waiting_for_run(entry->made);
        waited_for = entry->name;
      }
      if (interruptions.requested()) {
        count.result = UndoCount::kInterrupted;
        return count;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    EntryRecords records = read_entry(store, *entry);
    if (records.problem.trust != Trust::kPrivate) {
      report.cannot_read(entry->made, records.problem);
      count.result = UndoCount::kUnreadable;
      return count;
    }
    const std::vector<std::string> paths = trees_of(copies_to_settle(records));
    std::vector<std::unique_ptr<TreeLock>> locks;
    std::set<std::string> unlocked;
    if (mode == MendingMode::kWrite) {
      if (take_tree_locks(paths, trees, interruptions, report, locks, unlocked) ==
          Taking::kInterrupted) {
        count.result = UndoCount::kInterrupted;
        return count;
      }
      if (!is_still_newest(store, *entry, passed_over)) {
        continue;  // a newer run ended, or another undo settled this one, meanwhile
      }
      // Its run has ended, and its trees are held: no other undo can settle any of it now.
      records = read_entry(store, *entry);
      if (records.problem.trust != Trust::kPrivate) {
        report.cannot_read(entry->made, records.problem);
        count.result = UndoCount::kUnreadable;
        return count;
      }
    }
    const std::vector<const KeptCopy*> copies = copies_to_settle(records);
    if (records.undone_before && !copies.empty()) {
      report.finishing(entry->made, copies.size());
    }
    RunUndoing undoing(store, *entry, trees, mode, interruptions, report, count);
    if (!undoing.settle(copies, unlocked)) {
      count.result = UndoCount::kInterrupted;
      return count;
    }
    if (count.left > 0) {
      count.result = UndoCount::kLeftSome;
      return count;
    }
    if (mode == MendingMode::kWrite) {
      // Unmarked, every file of it is recorded settled: the next undo marks it.
      SystemError error;
      (void)mark_entry(store, *entry, UndoEntry::kTakenBack, error);
    }
    if (count.files == 0) {
      // A run killed before it changed a file, or one an undo had settled before it could
      // mark it: the next run back is the one to take.
      passed_over.insert(entry->name);
      continue;
    }
    count.result = UndoCount::kTakenBack;
    return count;
  }
}
