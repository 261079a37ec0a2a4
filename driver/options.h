#ifndef CONFMEND_DRIVER_OPTIONS_H_
#define CONFMEND_DRIVER_OPTIONS_H_

#include <string>
#include <vector>

enum class Action {
  kRun,
  kShowHelp,
  kShowVersion,
  kRefuse,          // an option that is none of the program's
  kRefuseTogether,  // two options that make no sense together
  kRefuseAlone,     // an option that goes only with another
};

struct Options {
  Action action = Action::kRun;
  bool dry_run = false;
  bool check = false;              // only check dosbox.conf
  bool add_missing = false;        // add what DOSBox files lack
  bool undo = false;               // take the last run back
  bool skip = false;               // with undo: pass the newest run over
  std::string refused;             // the argument refused; both, for kRefuseTogether
  std::vector<std::string> words;  // the arguments that are no options, in order
};

// Whether options may also begin with "/", as on Windows ("/?").
#ifdef _WIN32
constexpr bool kSlashOptions = true;
#else
constexpr bool kSlashOptions = false;
#endif

// Reads the arguments as GNU programs do, from the left: the first of help, version and an
// unknown option decides; short options may be bundled ("-nh"); "--" ends the options.
// Arguments that are no options are kept in `words`, for the caller to judge (a file dropped
// onto the program passes its path). `slash_options` also takes "/?" for help, and anything
// else beginning with "/" as an option, as Windows programs do.
Options read_options(const std::vector<std::string>& arguments, bool slash_options);

// The long option a word would be with "--" before it ("dry-run"), or empty.
std::string option_meant_by(const std::string& word);

// What --help shows.
std::string usage_text(bool slash_options);

#endif  // CONFMEND_DRIVER_OPTIONS_H_
