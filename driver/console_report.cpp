#include "driver/console_report.h"

#include "console/console.h"
#include "driver/unified_diff.h"

ConsoleReport::ConsoleReport(bool dry_run)
    : dry_run_(dry_run), colour_(dry_run && output_shows_colour()) {}

void ConsoleReport::waiting_for_other_run(const std::string& tree) {
  print_line("Waiting for another run of confmend to finish with " + tree);
}

void ConsoleReport::file_done(const FoundFile& file) {
  print_line("Found: " + file.path);
  const bool first_name = file.same_file_as.empty();
  if (first_name) {
    ++found_;
  } else if (dry_run_) {
    print_line("The same file as " + file.same_file_as + ", shown there");
  }
  switch (file.outcome) {
    case FileOutcome::kMended:
      if (dry_run_ && first_name && file.old_bytes != file.new_bytes) {
        ++changing_;
        if (diff_fits_in_memory(file.old_bytes, file.new_bytes)) {
          print_bytes(unified_diff(file.old_bytes, file.new_bytes, file.path, colour_));
        } else {
          print_line("Not enough memory, left unchanged: " + file.path);
        }
      }
      break;
    case FileOutcome::kCannotRead:
      print_line("Cannot read file " + file.path);
      break;
    case FileOutcome::kHoldsNul:
      print_line("Left unchanged, it holds NUL bytes: " + file.path);
      break;
    case FileOutcome::kTooLarge:
      print_line("Not enough memory, left unchanged: " + file.path);
      break;
    case FileOutcome::kCannotWrite:
      print_line("Cannot write to file " + file.path);
      break;
    case FileOutcome::kDamaged:
      print_line("Cannot write to file " + file.path);
      print_line("The old content could not be put back, the file may be damaged: " + file.path);
      break;
    case FileOutcome::kKeptChanging:
      print_line("Left unchanged, another program kept changing it: " + file.path);
      break;
    case FileOutcome::kInUse:
      print_line("Left unchanged, another program is using it: " + file.path);
      break;
    case FileOutcome::kMovedAway:
      print_line("Left unchanged, its folder was moved during the run: " + file.path);
      break;
  }
}

void ConsoleReport::folder_too_deep(const std::string& path) {
  print_line("Not walked, more folders deep than the open file limit allows: " + path);
}

void ConsoleReport::print_summary() const {
  if (dry_run_) {
    print_line(std::to_string(changing_) + " of " + std::to_string(found_) +
               " files would change.");
  }
}
