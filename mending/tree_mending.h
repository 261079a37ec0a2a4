#ifndef CONFMEND_MENDING_TREE_MENDING_H_
#define CONFMEND_MENDING_TREE_MENDING_H_

#include <chrono>
#include <map>
#include <memory>
#include <set>

#include "console/console.h"
#include "disk/folder.h"
#include "disk/read_ahead.h"
#include "disk/tree_lock.h"
#include "mending/config_rewriter.h"
#include "mending/mending_pool.h"
#include "mending/mending_report.h"
#include "settings/setting_line.h"

// How folders are read ahead of the walk: on up to `threads` threads (fewer where the open
// file limit is low), once the walk has waited for the disk (a warm cache gains nothing from
// it), or from the first folder on.
struct ReadingAhead {
  static constexpr std::size_t kThreads = 8;
  std::size_t threads = kThreads;
  bool from_the_start = false;
};

// Mends the configuration files of folder trees: the Steam folder, then each further
// library. While it lives, interruptions wait until the files being written are whole; once
// it is gone, one that came meanwhile ends the process.
class TreeMending {
 public:
  // Threads mending at once, at most (the benchmark's figures are in docs/design.md).
  static constexpr std::size_t kThreads = 32;

  // Files are mended on up to `threads` threads at once, fewer where the open file limit is
  // low; the program's own choice by default.
  // With `undo`, every file whose bytes change is first kept there, to take the run back by.
  TreeMending(const MendingRules& rules, MendingMode mode, MendingReport& report,
              std::size_t threads = kThreads, UndoStore* undo = nullptr,
              ReadingAhead reading_ahead = {});
  ~TreeMending() = default;
  TreeMending(const TreeMending&) = delete;
  TreeMending& operator=(const TreeMending&) = delete;

  // Walks the tree, depth first in listing order, hands every file whose name ends in ".conf"
  // (and is longer than that) to the rewriter, and removes what earlier runs left behind;
  // all reported in walk order before it returns. Links are followed where they lead within
  // the tree, and only there, so that nothing outside is ever read or written; each real
  // folder is walked once, and each file mended once, in all the trees. Another run mending
  // the same tree is waited for. False when an interruption stopped it.
  bool mend_tree(Folder tree, TreeLock* turn = nullptr);

  // Waits for the tree's turn, as mend_tree does first, holding it in `lock`: for a caller that
  // must do something once its turn has come and before the walk, which it then starts with
  // mend_tree(tree, &lock), which lets the turn go once the tree is mended. kInterrupted when an
  // interruption came while waiting; kRefused (said) when this run may not take part in the turns,
  // and leaves the tree.
  enum class Turn { kTaken, kInterrupted, kRefused };
  Turn take_turn(const Folder& tree, TreeLock& lock);

  // Whether the folder is one walked, or lies within a tree walked.
  bool has_walked(const Folder& folder) const;

  // The rules the files below each of these folders get instead of the run's: a game's, whose
  // DOSBox does not take some of the reference. They must outlive the mending.
  void give_rules_below(std::map<FileIdentity, const MendingRules*> rules) {
    rules_below_ = std::move(rules);
  }

 private:
  // `tree` bounds the walk: nothing that lies elsewhere is read or written, however a link
  // inside leads there (Proton's dosdevices/z: leads to "/"). `depth` counts the folders
  // held open above; `levels_read_ahead`, the levels from this folder down already offered
  // to be read ahead.
  void search_config_files(const std::shared_ptr<const Folder>& tree,
                           const std::shared_ptr<const Folder>& folder, std::size_t depth,
                           int levels_read_ahead, const MendingRules* rules);
  // Reads ahead from now on once opening folders (this one begun `since`) has waited for the
  // disk.
  void note_opening(std::chrono::steady_clock::time_point since);
  void mend_file(const std::shared_ptr<const Folder>& tree,
                 const std::shared_ptr<const Folder>& folder, const FolderEntry& entry,
                 const MendingRules* rules);

  const MendingMode mode_;
  MendingReport& report_;
  // Held before the pool's threads start, and let go after they end.
  HeldInterruptions interruptions_;
  const PoolBounds bounds_;
  ReadAhead read_ahead_;
  bool reading_ahead_;
  std::chrono::steady_clock::duration fastest_opening_ = std::chrono::steady_clock::duration::max();
  std::size_t slow_openings_ = 0;
  const std::optional<std::uint64_t> blocks_read_before_ = blocks_read_by_this_thread();
  // Folders the walk may hold open at once, one a level: what the pool leaves of the limit.
  const std::size_t deepest_;
  MendingPool pool_;
  std::set<FileIdentity> walked_;
  std::map<FileIdentity, const MendingRules*> rules_below_;
};

#endif  // CONFMEND_MENDING_TREE_MENDING_H_
