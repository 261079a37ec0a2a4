#include "mending/undoing.h"

#include <algorithm>
#include <map>
#include <vector>

#include "console/interruptions.h"
#include "disk/tree_lock.h"
#include "disk/whole_file.h"
#include "mending/undo_store.h"

namespace {

// The copies of the entry, the last of each file only: a file mended again because it
// changed under the run was kept again.
std::vector<KeptCopy> last_copy_of_each_file(std::vector<KeptCopy> copies) {
  std::map<std::pair<std::string, std::string>, std::size_t> last;
  for (std::size_t at = 0; at < copies.size(); ++at) {
    last[{copies[at].folder_path, copies[at].name}] = at;
  }
  std::vector<KeptCopy> kept;
  for (std::size_t at = 0; at < copies.size(); ++at) {
    if (last[{copies[at].folder_path, copies[at].name}] == at) {
      kept.push_back(std::move(copies[at]));
    }
  }
  // Kept as the run's threads finished them: given back in the order of their paths.
  std::stable_sort(kept.begin(), kept.end(),
                   [](const KeptCopy& x, const KeptCopy& y) { return x.path < y.path; });
  return kept;
}

void take_back(const KeptCopy& copy, MendingMode mode, UndoingReport& report) {
  const Folder folder = Folder::open(copy.folder_path);
  FileBytes now;
  FileStamp stamp;
  SystemError error;
  if (!folder.is_open() || folder.identity() != copy.folder ||
      read_file_in(folder, copy.name, now, stamp, error) != ReadResult::kRead) {
    report.changed_since(copy.path);
    return;
  }
  const std::string_view bytes = now.view();
  if (bytes == copy.old_bytes) {
    return;  // given back already, by an undo that was stopped
  }
  if (bytes.size() != copy.new_size || bytes_digest(bytes) != copy.new_digest) {
    report.changed_since(copy.path);
    return;
  }
  if (mode == MendingMode::kDryRun) {
    report.restored(copy.path, bytes, copy.old_bytes);
    return;
  }
  bool replaced = false;
  const FileOutcome outcome =
      give_file_bytes(folder, copy.name, copy.old_bytes, FileAsRead{stamp, bytes}, error, replaced);
  if (outcome != FileOutcome::kChanged) {
    report.not_restored(copy.path, outcome, error);
    return;
  }
  if (replaced) {
    folder.flush();
  }
  report.restored(copy.path, bytes, copy.old_bytes);
}

}  // namespace

UndoResult undo_last_run(const std::string& store, MendingMode mode, UndoingReport& report) {
  if (store.empty()) {
    return UndoResult::kNoStore;
  }
  HeldInterruptions interruptions;
  for (const UndoEntry& entry : undo_entries(store)) {
    if (entry.taken_back) {
      continue;
    }
    const std::vector<KeptCopy> copies = last_copy_of_each_file(kept_copies(store, entry.name));
    SystemError error;
    if (copies.empty()) {
      if (mode == MendingMode::kWrite) {
        mark_taken_back(store, entry.name, error);  // a run killed before its first copy
      }
      continue;
    }
    // Tree by tree, in the order the run walked them, each under its lock.
    std::vector<std::string> trees;
    for (const KeptCopy& copy : copies) {
      if (trees.empty() || trees.back() != copy.tree) {
        trees.push_back(copy.tree);
      }
    }
    for (const std::string& tree : trees) {
      TreeLock lock;
      if (mode == MendingMode::kWrite) {
        const Folder root = Folder::open(tree);
        LockTaking taking = lock.try_take(root, error);
        if (taking == LockTaking::kHeld) {
          report.waiting_for_other_run(tree);
          taking = lock.take(
              root, [&] { return !interruptions.requested(); }, error);
        }
        if (taking == LockTaking::kHeld) {
          return UndoResult::kInterrupted;
        }
        if (taking == LockTaking::kNotAllowed) {
          report.cannot_take_turns(tree, error);
          continue;
        }
      }
      for (const KeptCopy& copy : copies) {
        if (copy.tree != tree) {
          continue;
        }
        if (interruptions.requested()) {
          return UndoResult::kInterrupted;
        }
        take_back(copy, mode, report);
      }
    }
    if (mode == MendingMode::kWrite) {
      mark_taken_back(store, entry.name, error);
    }
    return UndoResult::kTakenBack;
  }
  return UndoResult::kNothingToUndo;
}
