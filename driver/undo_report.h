#ifndef CONFMEND_DRIVER_UNDO_REPORT_H_
#define CONFMEND_DRIVER_UNDO_REPORT_H_

#include <cstddef>
#include <string>

#include "mending/undoing.h"

// Shows an undo on the console: "Restored: " and the path of every file given back (in a dry
// run, with the diff from what it holds to what it would get), and every file left.
class ConsoleUndoReport : public UndoingReport {
 public:
  explicit ConsoleUndoReport(bool dry_run);

  void waiting_for_other_run(const std::string& tree) override;
  void cannot_take_turns(const std::string& tree, SystemError error) override;
  void restored(const std::string& path, std::string_view now, std::string_view old) override;
  void changed_since(const std::string& path) override;
  void not_restored(const std::string& path, FileOutcome outcome, SystemError error) override;
  // How many were left, if any.
  void print_summary() const;
  bool left_anything() const { return left_ > 0; }

 private:
  const bool dry_run_;
  const bool colour_;
  std::size_t left_ = 0;
};

#endif  // CONFMEND_DRIVER_UNDO_REPORT_H_
