#ifndef CONFMEND_MENDING_UNDOING_H_
#define CONFMEND_MENDING_UNDOING_H_

#include <string>
#include <string_view>

#include "disk/system_error.h"
#include "mending/config_rewriter.h"
#include "mending/mending_report.h"

// Taking back the most recent run not yet taken back, from the undo store: every file it
// changed gets its old bytes back, through the replacement a run writes with, under the
// tree's lock; a file that no longer holds what that run wrote is left as it is.
//
//   UndoingReport report ...;
//   if (undo_last_run(undo_store_folder(), MendingMode::kWrite, report) == ...)

// What taking back tells, in order; the driver decides what to show.
class UndoingReport {
 public:
  virtual ~UndoingReport() = default;
  virtual void waiting_for_other_run(const std::string& tree) = 0;
  virtual void cannot_take_turns(const std::string& tree, SystemError error) = 0;
  // Given its old bytes back (in a dry run: would be, from `now` to `old`).
  virtual void restored(const std::string& path, std::string_view now, std::string_view old) = 0;
  // It holds neither what the run wrote nor what it held before: left as it is.
  virtual void changed_since(const std::string& path) = 0;
  // It could not be given them: left as it is, for `outcome`'s reason.
  virtual void not_restored(const std::string& path, FileOutcome outcome, SystemError error) = 0;
};

enum class UndoResult {
  kNothingToUndo,
  kTakenBack,    // the run taken back (some of its files may have been left)
  kInterrupted,  // stopped between two files; the next undo goes on with the same run
  kNoStore,      // the store could not be told (no home folder) or read
};

UndoResult undo_last_run(const std::string& store, MendingMode mode, UndoingReport& report);

#endif  // CONFMEND_MENDING_UNDOING_H_
