#include "driver/console_report.h"

#include "console/console.h"
#include "driver/shown_text.h"
#include "driver/unified_diff.h"
#include "settings/reference_check.h"

ConsoleReport::ConsoleReport(bool dry_run, const std::vector<SectionSetting>* lacking)
    : dry_run_(dry_run),
      colour_(dry_run && output_shows_colour()),
      settings_lacking_(lacking),
      lacking_(lacking == nullptr ? 0 : lacking->size()) {}

void ConsoleReport::waiting_for_other_run(const std::string& tree) {
  print_line("Waiting for another run of confmend to finish with " + shown_path(tree));
}

void ConsoleReport::cannot_take_turns(const std::string& tree, SystemError error) {
  ++not_walked_;
  print_line("Cannot take turns with other runs of confmend for " + shown_path(tree));
  print_line("  " + system_error_text(error));
}

// The system's own words, and what they mean where that helps.
void ConsoleReport::print_reason(const FoundFile& file) const {
  if (!file.error) {
    if (file.outcome == FileOutcome::kInUse) {
      print_line("  Another program holds it open for writing.");
    } else if (file.outcome == FileOutcome::kNoCopyKept) {
      print_line("  The undo store cannot be used, as said above.");
    }
    return;
  }
  std::string reason = "  " + system_error_text(file.error);
  if (file.outcome == FileOutcome::kCannotWrite && says_read_only(file.error)) {
    reason += " (the file is read-only, or not yours to change)";
  }
  print_line(reason);
}

void ConsoleReport::file_done(const FoundFile& file) {
  const std::string path = shown_path(file.path);
  print_line("Found: " + path);
  const bool first_name = file.same_file_as.empty();
  if (first_name) {
    ++found_;
    unmended_ += is_mended(file.outcome) ? 0 : 1;
    count_what_it_lacks(file);
  } else if (dry_run_) {
    print_line("The same file as " + shown_path(file.same_file_as) + ", shown there");
  }
  switch (file.outcome) {
    case FileOutcome::kChanged:
    case FileOutcome::kUnchanged:
      return;
    case FileOutcome::kWouldChange:
      if (first_name) {
        ++changing_;
        if (diff_fits_in_memory(file.old_bytes, file.new_bytes)) {
          print_bytes(unified_diff(file.old_bytes, file.new_bytes, diff_label(file.path), colour_,
                                   file.lines));
        } else {
          print_line("Not enough memory, left unchanged: " + path);
        }
      }
      return;
    case FileOutcome::kCannotRead:
      print_line("Cannot read file " + path);
      break;
    case FileOutcome::kHoldsNul:
      print_line("Left unchanged, it holds NUL bytes: " + path);
      break;
    case FileOutcome::kOutOfMemory:
      print_line("Not enough memory, left unchanged: " + path);
      break;
    case FileOutcome::kCannotWrite:
    case FileOutcome::kInPlaceOnly:  // the write path goes on in place: never reported
      print_line("Cannot write to file " + path);
      break;
    case FileOutcome::kDamaged:
      print_line("Cannot write to file " + path);
      print_line("The old content could not be put back, the file may be damaged: " + path);
      break;
    case FileOutcome::kKeptChanging:
      print_line("Left unchanged, another program kept changing it: " + path);
      break;
    case FileOutcome::kInUse:
      print_line("Left unchanged, another program is using it: " + path);
      break;
    case FileOutcome::kMovedAway:
      print_line("Left unchanged, its folder was moved during the run: " + path);
      break;
    case FileOutcome::kNoCopyKept:
      print_line("Left unchanged, no copy could be kept to undo it: " + path);
      break;
  }
  print_reason(file);
}

void ConsoleReport::folder_too_deep(const std::string& path) {
  ++not_walked_;
  print_line("Not walked, more folders deep than the open file limit allows: " + shown_path(path));
}

void ConsoleReport::count_games(const std::vector<KnownGame>& games) {
  if (settings_lacking_ == nullptr || !dry_run_) {
    return;  // what files lack is told by a dry run without --add-missing alone
  }
  games_lacking_.assign(lacking_.size(), 0);
  for (const KnownGame& game : games) {
    game_folders_.push_back(game.folder + "/");
    for (const std::size_t setting : game.lacking) {
      ++games_lacking_[setting];
    }
  }
}

void ConsoleReport::count_what_it_lacks(const FoundFile& file) {
  if (settings_lacking_ == nullptr || file.lacks == nullptr || !file.lacks->dosbox_file) {
    return;
  }
  for (const std::string& folder : game_folders_) {
    if (file.path.starts_with(folder)) {
      return;  // counted with its game
    }
  }
  ++dosbox_files_;
  for (const std::size_t setting : file.lacks->settings) {
    ++lacking_[setting];
  }
}

void ConsoleReport::print_summary() const {
  for (std::size_t setting = 0; setting < lacking_.size(); ++setting) {
    const std::size_t games = game_folders_.empty() ? 0 : games_lacking_[setting];
    const std::size_t files = lacking_[setting];
    if (games == 0 && files == 0) {
      continue;
    }
    // By game where the games' launches tell what their DOSBox reads, by file elsewhere.
    std::string counts;
    if (game_folders_.empty()) {
      counts = "not set in " + std::to_string(files) + " of " + std::to_string(dosbox_files_) +
               " DOSBox configuration files";
    } else if (games == 0) {
      counts = "not set in " + counted(files, "file") + " of games whose launch is unknown";
    } else {
      counts = "not set for " + std::to_string(games) + " of " +
               std::to_string(game_folders_.size()) + " DOSBox games";
      if (files > 0) {
        counts += ", and in " + counted(files, "file") + " of games whose launch is unknown";
      }
    }
    print_line(shown_path((*settings_lacking_)[setting].name) + ": " + counts +
               " (--add-missing adds it)");
  }
  if (dry_run_) {
    print_line(std::to_string(changing_) + " of " + std::to_string(found_) +
               " files would change.");
  }
  // Before the pause, so that one who double-clicked sees it before the window closes.
  if (unmended_ > 0) {
    print_line(counted(unmended_, "file was", "files were") + " left unmended; the reason is " +
               (unmended_ == 1 ? "under it." : "under each."));
  }
  if (not_walked_ > 0) {
    print_line(counted(not_walked_, "folder was", "folders were") + " not walked; the reason is " +
               (not_walked_ == 1 ? "beside it." : "beside each."));
  }
}

std::size_t tell_reference_warnings(const LoadedReference& loaded) {
  if (loaded.file != ReferenceFile::kRead) {
    return 0;
  }
  const ReferenceCheck check = check_reference(loaded.text);
  // Warnings and notes together, in the order of their lines.
  std::vector<ReferenceWarning> told = check.warnings;
  told.insert(told.end(), check.notes.begin(), check.notes.end());
  std::stable_sort(
      told.begin(), told.end(),
      [](const ReferenceWarning& a, const ReferenceWarning& b) { return a.line < b.line; });
  for (const ReferenceWarning& warning : told) {
    const std::string where =
        warning.line == 0 ? "dosbox.conf: " : "dosbox.conf:" + std::to_string(warning.line) + ": ";
    print_line(shown_path(where + warning.text));
  }
  if (check.count > check.warnings.size()) {
    print_line("dosbox.conf: " + counted(check.count - check.warnings.size(), "further warning") +
               " not shown.");
  }
  return check.count;
}

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
