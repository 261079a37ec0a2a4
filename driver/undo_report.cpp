#include "driver/undo_report.h"

#include "console/console.h"
#include "driver/shown_text.h"
#include "driver/unified_diff.h"

ConsoleUndoReport::ConsoleUndoReport(bool dry_run)
    : dry_run_(dry_run), colour_(dry_run && output_shows_colour()) {}

void ConsoleUndoReport::waiting_for_other_run(const std::string& tree) {
  print_line("Waiting for another run of confmend to finish with " + shown_path(tree));
}

void ConsoleUndoReport::cannot_take_turns(const std::string& tree, SystemError error) {
  ++left_;
  print_line("Cannot take turns with other runs of confmend for " + shown_path(tree));
  print_line("  " + system_error_text(error));
}

void ConsoleUndoReport::restored(const std::string& path, std::string_view now,
                                 std::string_view old) {
  print_line("Restored: " + shown_path(path));
  if (dry_run_) {
    if (diff_fits_in_memory(now, old)) {
      print_bytes(unified_diff(now, old, diff_label(path), colour_));
    } else {
      print_line("Not enough memory to show how");
    }
  }
}

void ConsoleUndoReport::changed_since(const std::string& path) {
  ++left_;
  print_line("Left as it is, changed since the run: " + shown_path(path));
}

void ConsoleUndoReport::not_restored(const std::string& path, FileOutcome outcome,
                                     SystemError error) {
  ++left_;
  print_line((outcome == FileOutcome::kInUse ? "Left as it is, another program is using it: "
              : outcome == FileOutcome::kKeptChanging
                  ? "Left as it is, another program kept changing it: "
                  : "Cannot write to file ") +
             shown_path(path));
  if (error) {
    print_line("  " + system_error_text(error));
  }
}

void ConsoleUndoReport::print_summary() const {
  if (left_ > 0) {
    print_line(std::to_string(left_) +
               (left_ == 1 ? " file was left as it is; its copy stays"
                           : " files were left as they are; their copies stay") +
               " in the undo store.");
  }
}
