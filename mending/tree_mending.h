#ifndef CONFMEND_MENDING_TREE_MENDING_H_
#define CONFMEND_MENDING_TREE_MENDING_H_

#include <set>
#include <vector>

#include "console/interruptions.h"
#include "disk/folder.h"
#include "mending/config_rewriter.h"
#include "mending/mending_pool.h"
#include "mending/mending_report.h"
#include "settings/setting_table.h"

// Mends the configuration files of folder trees: the Steam folder, then each further
// library. While it lives, interruptions wait until the files being written are whole; once
// it is gone, one that came meanwhile ends the process.
class TreeMending {
 public:
  // Threads mending at once. On the benchmark's library (2,400 files on an ext4 disk), 1
  // thread took 1.11 s, 8 threads 0.80 s, 16 0.53 s, 32 0.46 s and 64 0.52 s.
  static constexpr std::size_t kThreads = 32;

  // Files are mended on up to `threads` threads at once; the program's own choice by default.
  TreeMending(const SettingTable& reference, MendingMode mode, MendingReport& report,
              std::size_t threads = kThreads);
  ~TreeMending() = default;
  TreeMending(const TreeMending&) = delete;
  TreeMending& operator=(const TreeMending&) = delete;

  // Walks the tree, depth first in listing order, hands every file whose name ends in ".conf"
  // (and is longer than that) to the rewriter, and removes what earlier runs left behind;
  // all reported in walk order before it returns. Links are followed where they lead within
  // the tree, and only there, so that nothing outside is ever read or written; each real
  // folder is walked once in all the trees. Another run mending the same tree is waited
  // for. False when an interruption stopped it.
  bool mend_tree(Folder tree);

  // Whether the folder is one walked, or lies within a tree walked.
  bool has_walked(const Folder& folder) const;

 private:
  // `tree` bounds the walk: nothing that lies elsewhere is read or written, however a link
  // inside leads there (Proton's dosdevices/z: leads to "/").
  void search_config_files(const Folder& tree, const std::shared_ptr<const Folder>& folder);
  void mend_file(const Folder& tree, const std::shared_ptr<const Folder>& folder,
                 const FolderEntry& entry);

  const MendingMode mode_;
  MendingReport& report_;
  // Held before the pool's threads start, and let go after they end.
  HeldInterruptions interruptions_;
  MendingPool pool_;
  std::set<FileIdentity> walked_;
  std::vector<std::shared_ptr<const Folder>> trees_;
};

#endif  // CONFMEND_MENDING_TREE_MENDING_H_
