#ifndef CONFMEND_DRIVER_UNDO_REPORT_H_
#define CONFMEND_DRIVER_UNDO_REPORT_H_

#include <cstddef>
#include <string>

#include "mending/undoing.h"

// Shows an undo on the console: "Restored: " and the path of every file given back (in a dry
// run "Would restore: ", with the diff from what it holds to what it would get), every file
// left and why, and at the end how many of the run's files were given back.
class ConsoleUndoReport : public UndoingReport {
 public:
  explicit ConsoleUndoReport(bool dry_run);

  void waiting_for_run(std::int64_t made) override;
  void waiting_for_other_run(const std::string& tree) override;
  void cannot_take_turns(const std::string& tree, SystemError error) override;
  void cannot_read(std::int64_t made, const StoreTrust& problem) override;
  void passed_over(std::int64_t made) override;
  void finishing(std::int64_t made, std::size_t left) override;
  void restored(const std::string& path, std::string_view now, std::string_view old) override;
  void changed_since(const std::string& path) override;
  void not_there(const std::string& path) override;
  void not_restored(const std::string& path, FileOutcome outcome, SystemError error) override;
  // The count, and how to go on where files were left.
  void print_summary(const UndoCount& count) const;

 private:
  const bool dry_run_;
  const bool colour_;
};

// Why the store may not be used, in words: what, whose, and why.
std::string store_problem_text(const StoreTrust& trust);
// The line that refuses a store, naming it: "Cannot keep copies to undo this run in ...".
void print_store_state(const std::string& store, const StoreState& state, bool for_undo);

#endif  // CONFMEND_DRIVER_UNDO_REPORT_H_
