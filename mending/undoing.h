#ifndef CONFMEND_MENDING_UNDOING_H_
#define CONFMEND_MENDING_UNDOING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disk/folder.h"
#include "disk/system_error.h"
#include "mending/config_rewriter.h"
#include "mending/mending_report.h"
#include "mending/undo_store.h"

// Taking back the newest run not wholly taken back, from the undo store: every file it
// changed gets its old bytes back, through the replacement a run writes with, under the locks
// of its trees; a file that no longer holds what that run wrote is left as it is. Each file is
// recorded as settled as it is, and the run is marked taken back only once all of its files
// are, so that an undo that had to leave some is finished by the next.
//
//   UndoingReport report ...;
//   UndoCount count = undo_last_run(store, today's trees, mode, skip, report);

// What taking back tells, in order; the driver decides what to show. A run is named by when
// it began (seconds since 1970).
class UndoingReport {
 public:
  virtual ~UndoingReport() = default;
  virtual void waiting_for_run(std::int64_t made) = 0;
  virtual void waiting_for_other_run(const std::string& tree) = 0;
  virtual void cannot_take_turns(const std::string& tree, SystemError error) = 0;
  // Its entry, or a file of it, cannot be read, or could be another user's doing.
  virtual void cannot_read(std::int64_t made, const StoreTrust& problem) = 0;
  virtual void passed_over(std::int64_t made) = 0;
  // An earlier undo left `left` of the run's files, which this one takes back first.
  virtual void finishing(std::int64_t made, std::size_t left) = 0;
  // Given its old bytes back (in a dry run: would be, from `now` to `old`).
  virtual void restored(const std::string& path, std::string_view now, std::string_view old) = 0;
  // It holds neither what the run wrote nor what it held before: left as it is for good.
  virtual void changed_since(const std::string& path) = 0;
  // Its folder is not there now, nor its tree among today's Steam folder and libraries.
  virtual void not_there(const std::string& path) = 0;
  // It could not be given them now: left as it is, for `outcome`'s reason.
  virtual void not_restored(const std::string& path, FileOutcome outcome, SystemError error) = 0;
};

// What an undo came to.
struct UndoCount {
  enum Result {
    kNothingToUndo,
    kTakenBack,    // the run's files each given back, or found changed since
    kLeftSome,     // some files left for now: the next undo finishes the run
    kUnreadable,   // an entry could not be read: said, and not gone past without --skip
    kInterrupted,  // stopped between two files; the next undo goes on with the same run
  } result = kNothingToUndo;
  std::size_t files = 0;     // of the run, not settled before
  std::size_t restored = 0;  // (in a dry run: would be)
  std::size_t changed_since = 0;
  std::size_t left = 0;  // for now: held, not there, not writable
};

// `trees` are today's Steam folder and the steamapps folders of its libraries, opened as a
// run opens them: a copy is given back only within the one it was taken from. With `skip`,
// the newest run not wholly taken back is passed over first.
UndoCount undo_last_run(const OpenStore& store, const std::vector<Folder>& trees, MendingMode mode,
                        bool skip, UndoingReport& report);

// The folder a copy was taken from, found today by walking down its names from its tree
// (links followed only where they stay within it), and its name checked to be a
// configuration file's. Not open when it is not there; `error` then says why.
Folder folder_of_copy(const KeptCopy& copy, const std::vector<Folder>& trees, SystemError& error);

#endif  // CONFMEND_MENDING_UNDOING_H_
