#ifndef CONFMEND_DRIVER_CONSOLE_REPORT_H_
#define CONFMEND_DRIVER_CONSOLE_REPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "mending/mending_report.h"
#include "mending/undoing.h"
#include "settings/missing_settings.h"
#include "settings/reference_settings.h"

// Shows the run on the console: a "Found: " line for every file, then what went wrong with
// it, if anything. A dry run shows, after each file that would change, how, as a unified
// diff, and at the end how many would; given the settings kept in sections, it first tells
// of each how many DOSBox configuration files lack it.
class ConsoleReport : public MendingReport {
 public:
  explicit ConsoleReport(bool dry_run, const std::vector<SectionSetting>* lacking = nullptr);

  void waiting_for_other_run(const std::string& tree) override;
  void cannot_take_turns(const std::string& tree, SystemError error) override;
  void file_done(const FoundFile& file) override;
  void folder_too_deep(const std::string& path) override;
  // Games whose launch is known and whose DOSBox reads files the run mends, each by its
  // folder's path and the settings kept in sections that none of those files sets: counted
  // by game, and their files not counted one by one.
  struct KnownGame {
    std::string folder;
    std::vector<std::size_t> lacking;
  };
  void count_games(const std::vector<KnownGame>& games);
  // The dry run's count, and what was left unmended, if anything.
  void print_summary() const;
  // Whether any file was left unmended (or, in a dry run, would be), or a folder not walked.
  bool left_anything() const { return unmended_ > 0 || not_walked_ > 0; }

 private:
  void print_reason(const FoundFile& file) const;
  void count_what_it_lacks(const FoundFile& file);

  const bool dry_run_;
  const bool colour_;
  std::size_t found_ = 0;
  std::size_t changing_ = 0;
  std::size_t unmended_ = 0;
  std::size_t not_walked_ = 0;
  const std::vector<SectionSetting>* settings_lacking_;
  std::vector<std::size_t> lacking_;  // of each, the DOSBox files that lack it
  std::size_t dosbox_files_ = 0;
  std::vector<std::string> game_folders_;   // each ended by "/"
  std::vector<std::size_t> games_lacking_;  // of each, the known games that lack it
};

// Tells, one line each, what in the loaded reference DOSBox would not take as meant, in the
// form compilers use ("dosbox.conf:3: ..."), and returns how many warnings there were. A
// reference that was not read gives none.
std::size_t tell_reference_warnings(const LoadedReference& loaded);

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

#endif  // CONFMEND_DRIVER_CONSOLE_REPORT_H_
