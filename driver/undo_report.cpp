#include "driver/undo_report.h"

#include "console/console.h"
#include "driver/shown_text.h"
#include "driver/unified_diff.h"

namespace {

std::string run_of(std::int64_t made) {
  return "the run of " + local_date_time(made);
}

// "2 of 3 files were restored.", "1 of 3 files was restored."
std::string files_of(std::size_t done, std::size_t files, bool dry_run) {
  const bool one = done == 1 || files == 1;
  return std::to_string(done) + " of " + std::to_string(files) +
         (files == 1 ? " file " : " files ") +
         (dry_run ? "would be"
          : one   ? "was"
                  : "were") +
         " restored.";
}

}  // namespace

std::string store_problem_text(const StoreTrust& trust) {
  const std::string owner = !trust.owner_name.empty() ? trust.owner_name
                            : trust.owner == 0        ? "root"
                                                      : "user " + std::to_string(trust.owner);
  switch (trust.trust) {
    case Trust::kOtherOwner:
      return shown_path(trust.path) + " belongs to " + owner + ", not to you";
    case Trust::kOthersMayWrite:
      return "other users may write to " + shown_path(trust.path) + " (it belongs to " + owner +
             ")";
    case Trust::kCannotTell:
      return shown_path(trust.path) + ": " + system_error_text(trust.error);
    case Trust::kAltered:
      return shown_path(trust.path) +
             " no longer holds what the file held: a program that kept it open wrote into it";
    case Trust::kPrivate:
      break;
  }
  return "";
}

void print_store_state(const std::string& store, const StoreState& state, bool for_undo) {
  if (state.kind == StoreState::kNone) {
    print_line(
        "Cannot keep copies to undo this run: no home folder is set to keep them in, so "
        "no file will be changed.");
    return;
  }
  print_line((for_undo ? "Cannot use the undo store " + shown_path(store)
                       : "Cannot keep copies to undo this run in " + shown_path(store) +
                             ", so no file will be changed") +
             ":");
  print_line("  " + (state.kind == StoreState::kNotPrivate ? store_problem_text(state.trust)
                                                           : system_error_text(state.error)));
}

ConsoleUndoReport::ConsoleUndoReport(bool dry_run)
    : dry_run_(dry_run), colour_(dry_run && output_shows_colour()) {}

void ConsoleUndoReport::waiting_for_run(std::int64_t made) {
  print_line("Waiting for " + run_of(made) + " to finish");
}

void ConsoleUndoReport::waiting_for_other_run(const std::string& tree) {
  print_line("Waiting for another run of confmend to finish with " + shown_path(tree));
}

void ConsoleUndoReport::cannot_take_turns(const std::string& tree, SystemError error) {
  print_line("Cannot take turns with other runs of confmend for " + shown_path(tree));
  print_line("  " + system_error_text(error));
}

void ConsoleUndoReport::cannot_read(std::int64_t made, const StoreTrust& problem) {
  print_line("Cannot read the undo record of " + run_of(made) + ":");
  print_line("  " + store_problem_text(problem));
}

void ConsoleUndoReport::passed_over(std::int64_t made) {
  print_line((dry_run_ ? "Would pass over " : "Passed over ") + run_of(made) +
             "; its copies stay in the undo store until it ages out.");
}

void ConsoleUndoReport::finishing(std::int64_t made, std::size_t left) {
  print_line("Finishing " + run_of(made) + " first: " + counted(left, "file was", "files were") +
             " left last time.");
}

void ConsoleUndoReport::restored(const std::string& path, std::string_view now,
                                 std::string_view old) {
  print_line((dry_run_ ? "Would restore: " : "Restored: ") + shown_path(path));
  if (dry_run_) {
    if (diff_fits_in_memory(now, old)) {
      print_bytes(unified_diff(now, old, diff_label(path), colour_));
    } else {
      print_line("Not enough memory to show how");
    }
  }
}

void ConsoleUndoReport::changed_since(const std::string& path) {
  print_line("Left as it is, changed since the run: " + shown_path(path));
}

void ConsoleUndoReport::not_there(const std::string& path) {
  print_line("Not there now (a drive or card that is out?): " + shown_path(path));
}

void ConsoleUndoReport::not_restored(const std::string& path, FileOutcome outcome,
                                     SystemError error) {
  print_line((outcome == FileOutcome::kInUse ? "Left as it is, another program is using it: "
              : outcome == FileOutcome::kKeptChanging
                  ? "Left as it is, another program kept changing it: "
                  : "Cannot write to file ") +
             shown_path(path));
  if (error) {
    print_line("  " + system_error_text(error));
  }
}

void ConsoleUndoReport::print_summary(const UndoCount& count) const {
  switch (count.result) {
    case UndoCount::kNothingToUndo:
      print_line("Nothing to undo.");
      return;
    case UndoCount::kUnreadable:
      print_line(
          "Nothing was changed. To pass that run over and take back the one before it:"
          " confmend --undo --skip");
      return;
    case UndoCount::kInterrupted:
    case UndoCount::kTakenBack:
    case UndoCount::kLeftSome:
      break;
  }
  print_line(files_of(count.restored, count.files, dry_run_));
  if (count.changed_since > 0) {
    print_line(std::to_string(count.changed_since) +
               (count.changed_since == 1 ? " file was left as it is; its copy stays"
                                         : " files were left as they are; their copies stay") +
               " in the undo store.");
  }
  if (count.left > 0 || count.result == UndoCount::kInterrupted) {
    print_line(dry_run_ ? "The run would stay open: the next confmend --undo finishes it."
                        : "The run stays open: the next confmend --undo finishes it, or "
                          "confmend --undo --skip passes it over.");
  }
}
