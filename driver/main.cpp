#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "disk/folder.h"
#include "disk/tree_lock.h"
#include "driver/console_report.h"
#include "driver/game_judging.h"
#include "driver/options.h"
#include "driver/shown_text.h"
#include "mending/tree_mending.h"
#include "mending/undo_store.h"
#include "mending/undoing.h"
#include "settings/missing_settings.h"
#include "settings/reference_settings.h"
#include "steam/library_folders.h"
#include "steam/steam_path.h"

namespace {

// What --help, --version and a mistyped option do; none reads or writes anything else.
int answer_without_running(const Options& options) {
  switch (options.action) {
    case Action::kShowHelp: {
      const std::string usage = usage_text(kSlashOptions);
      for (std::size_t start = 0; start < usage.size();) {
        const std::size_t end = usage.find('\n', start);
        print_line(std::string_view(usage).substr(start, end - start));
        start = end + 1;
      }
      return 0;
    }
    case Action::kShowVersion:
      print_line("confmend " CONFMEND_VERSION);
      return 0;
    case Action::kRefuse:
      print_error_line("confmend: unknown option '" + options.refused + "'");
      print_error_line("Try 'confmend --help'.");
      return 2;
    case Action::kRefuseTogether:
      print_error_line("confmend: '" + options.refused + "' cannot be used together");
      print_error_line("Try 'confmend --help'.");
      return 2;
    case Action::kRefuseAlone:
      print_error_line("confmend: '" + options.refused + "' goes only with '--undo'");
      print_error_line("Try 'confmend --help'.");
      return 2;
    case Action::kRun:
      break;
  }
  return 0;
}

// A word that names nothing is a typo of an option, or of a file dropped onto the program:
// "confmend dry-run" must never run for real.
bool refuse_words_naming_nothing(const Options& options) {
  for (const std::string& word : options.words) {
    if (path_exists(word)) {
      continue;
    }
    const std::string meant = option_meant_by(word);
    print_error_line("confmend: '" + word + "' is neither an option nor a file" +
                     (meant.empty() ? "" : " (did you mean '" + meant + "'?)"));
    print_error_line("Try 'confmend --help'.");
    return true;
  }
  return false;
}

// A run without settings to give changes nothing but line ends and blanks: said first, so
// that nobody takes it for their settings applied.
void tell_of_missing_settings(const LoadedReference& loaded) {
  constexpr const char* kOnlyTrimmed = ": no setting will be changed, lines will only be trimmed.";
  if (loaded.file == ReferenceFile::kRead) {
    if (loaded.settings.empty()) {
      print_line(std::string("dosbox.conf holds no setting") + kOnlyTrimmed);
    }
    return;
  }
  const std::string here = working_folder();
  print_line("No dosbox.conf in " + shown_path(here) + kOnlyTrimmed);
  for (const char* hidden : {"dosbox.conf.txt", "dosbox.conf.conf"}) {
    if (path_exists(hidden)) {
      print_line(std::string(hidden) +
                 " lies there: that is probably it, saved with an extension Windows hides. "
                 "Rename it dosbox.conf.");
      return;
    }
  }
}

// The Steam folder and the steamapps folder of each further library, as a run opens them.
std::vector<Folder> steam_trees(const std::string& steam_folder) {
  std::vector<Folder> trees;
  trees.push_back(Folder::open(steam_folder));
  for (const std::string& library :
       further_steam_libraries(steam_folder, steam_sandbox_paths(steam_folder))) {
    if (Folder steamapps = open_steamapps_folder(library); steamapps.is_open()) {
      trees.push_back(std::move(steamapps));
    }
  }
  return trees;
}

// --undo: the newest run not wholly taken back, taken back (with --dry-run, shown).
int take_back_last_run(bool dry_run, bool skip) {
  const std::string folder = undo_store_folder();
  const OpenStore store = open_undo_store(folder, false);
  int status = 1;
  if (store.state.kind == StoreState::kCannotMake || store.state.kind == StoreState::kNotPrivate) {
    print_store_state(folder, store.state, true);
  } else {
    UndoCount count;
    ConsoleUndoReport report(dry_run);
    if (has_run_to_undo(store)) {
      // Copies go back only within today's Steam folder and libraries.
      const std::vector<Folder> trees = steam_trees(get_steam_path());
      count = undo_last_run(store, trees, dry_run ? MendingMode::kDryRun : MendingMode::kWrite,
                            skip, report);
    }
    report.print_summary(count);
    const bool whole = count.result == UndoCount::kNothingToUndo ||
                       (count.result == UndoCount::kTakenBack && count.changed_since == 0);
    status = whole ? 0 : 1;
  }
  pause_console();
  return status;
}

// --check: the reference's warnings and what it holds, nothing read beyond it.
int check_reference_only(const LoadedReference& loaded) {
  if (loaded.file != ReferenceFile::kRead) {
    tell_of_missing_settings(loaded);
    return 1;
  }
  const std::size_t warnings = tell_reference_warnings(loaded);
  print_line("dosbox.conf: " + counted(loaded.settings.size(), "setting") + ", " +
             counted(warnings, "warning") + ".");
  return warnings == 0 ? 0 : 1;
}

// CONFMEND_READ_AHEAD_THREADS, for tests and benchmarks: folders read ahead of the walk on
// that many threads from the first folder on (0: none); the program's own choice when unset
// or not a number.
ReadingAhead reading_ahead() {
  const char* given = std::getenv("CONFMEND_READ_AHEAD_THREADS");
  ReadingAhead chosen;
  if (given != nullptr) {
    const std::string_view text(given);
    std::size_t threads = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), threads);
    if (error == std::errc() && end == text.data() + text.size()) {
      chosen = {std::min<std::size_t>(threads, 64), true};
    }
  }
  return chosen;
}

// The Steam folder, its turn already taken (none where it could not be), then the steamapps
// folder of every further library that is not already part of what was walked, each announced
// by its path as the Steam folder is.
void mend_every_library(TreeMending& mending, Folder steam, TreeLock* turn,
                        const std::vector<std::string>& libraries) {
  if (turn != nullptr && !mending.mend_tree(std::move(steam), turn)) {
    return;
  }
  for (const std::string& library : libraries) {
    Folder steamapps = open_steamapps_folder(library);
    if (steamapps.is_open() && mending.has_walked(steamapps)) {
      continue;
    }
    print_line(shown_path(library));
    if (steamapps.is_open() && !mending.mend_tree(std::move(steamapps))) {
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  const Options options =
      read_options(std::vector<std::string>(argv + 1, argv + argc), kSlashOptions);
  if (options.action != Action::kRun) {
    return answer_without_running(options);
  }
  if (refuse_words_naming_nothing(options)) {
    return 2;
  }
  if (options.undo) {
    return take_back_last_run(options.dry_run, options.skip);
  }
  const LoadedReference loaded = read_reference_file("dosbox.conf");
  if (loaded.file == ReferenceFile::kTooLarge) {
    print_line("dosbox.conf is larger than " + std::to_string(kLargestReference >> 20) +
               " MiB, too large to be a configuration: no file was changed.");
    if (!options.check) {
      pause_console();
    }
    return 1;
  }
  if (options.check) {
    return check_reference_only(loaded);
  }
  const std::size_t warnings = tell_reference_warnings(loaded);
  tell_of_missing_settings(loaded);
  // A plain run looks for nothing but the names it replaces; a dry run also for what files
  // lack, to tell it; --add-missing adds that.
  const std::vector<SectionSetting> kept = settings_kept_in_sections(loaded.text, loaded.settings);
  MendingRules rules(loaded.settings);
  if (options.dry_run || options.add_missing) {
    rules.kept_in_sections = &kept;
    rules.add_missing = options.add_missing;
  }
  const std::string steam_folder = get_steam_path();
  print_line(shown_path(steam_folder));
  ConsoleReport report(options.dry_run, options.add_missing ? nullptr : &kept);
  const MendingMode mode = options.dry_run ? MendingMode::kDryRun : MendingMode::kWrite;
  // What every changed file held is kept first, so that the run can be taken back; where it
  // cannot be, no file is changed, and that is said once, before the files.
  UndoStore undo(undo_store_folder());
  bool store_refused = false;
  if (!options.dry_run) {
    const StoreState store = undo.prepare();
    store_refused = store.kind != StoreState::kReady;
    if (store_refused) {
      print_store_state(undo_store_folder(), store, false);
    }
  }
  std::optional<GamesJudged> games;
  {
    // While it lives, an interruption waits until the files being written are whole.
    TreeMending mending(rules, mode, report, TreeMending::kThreads,
                        options.dry_run ? nullptr : &undo, reading_ahead());
    // Another run mending the Steam folder is waited for first: this run's place among the
    // runs an undo takes back is where its turn came, the order in which they change files,
    // and its games are judged as the run before it left them.
    Folder steam = Folder::open(steam_folder);
    TreeLock turn;
    const TreeMending::Turn taken = mending.take_turn(steam, turn);
    if (taken != TreeMending::Turn::kInterrupted) {
      if (!options.dry_run) {
        undo.take_place();
      }
      const auto libraries =
          further_steam_libraries(steam_folder, steam_sandbox_paths(steam_folder));
      // Judged before any file is changed: what a game's files set is what the game had.
      games.emplace(steam_folder, libraries, rules, kept);
      report.count_games(games->known_games());
      mending.give_rules_below(games->rules_below());
      mend_every_library(mending, std::move(steam),
                         taken == TreeMending::Turn::kTaken ? &turn : nullptr, libraries);
    }
  }
  if (games) {
    games->print_lines();
  }
  report.print_summary();
  if (warnings > 0) {
    // Said again where a double-click user looks last, before the window closes.
    print_line("dosbox.conf: " + counted(warnings, "warning") + ", shown at the top.");
  }
  pause_console();
  return report.left_anything() || store_refused ? 1 : 0;
}
