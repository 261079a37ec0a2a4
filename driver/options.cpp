#include "driver/options.h"

namespace {

Options decided(Action action, const std::string& argument = "") {
  return Options{action, false, false, false, false, false, argument, {}};
}

constexpr const char* kLongOptions[] = {"add-missing", "check", "dry-run", "help",
                                        "skip",        "undo",  "version"};

// A check reads only dosbox.conf: asked to write too, or to preview, it would do neither.
Options refusing_what_conflicts(Options options) {
  if (options.action == Action::kRun && options.check && options.dry_run) {
    return decided(Action::kRefuseTogether, "--check --dry-run");
  }
  if (options.action == Action::kRun && options.check && options.add_missing) {
    return decided(Action::kRefuseTogether, "--check --add-missing");
  }
  if (options.action == Action::kRun && options.undo && (options.check || options.add_missing)) {
    return decided(Action::kRefuseTogether,
                   options.check ? "--undo --check" : "--undo --add-missing");
  }
  if (options.action == Action::kRun && options.skip && !options.undo) {
    return decided(Action::kRefuseAlone, "--skip");
  }
  return options;
}

}  // namespace

Options read_options(const std::vector<std::string>& arguments, bool slash_options) {
  Options options;
  bool options_ended = false;
  for (const std::string& argument : arguments) {
    if (options_ended) {
      options.words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    if (argument == "--help" || (slash_options && argument == "/?")) {
      return decided(Action::kShowHelp);
    }
    if (argument == "--version") {
      return decided(Action::kShowVersion);
    }
    if (argument == "--dry-run") {
      options.dry_run = true;
      continue;
    }
    if (argument == "--check") {
      options.check = true;
      continue;
    }
    if (argument == "--add-missing") {
      options.add_missing = true;
      continue;
    }
    if (argument == "--undo") {
      options.undo = true;
      continue;
    }
    if (argument == "--skip") {
      options.skip = true;
      continue;
    }
    const bool is_option =
        (argument.starts_with('-') || (slash_options && argument.starts_with('/')));
    if (!is_option) {
      options.words.push_back(argument);
      continue;
    }
    if (argument.size() < 2 || argument.starts_with("--") || argument[0] == '/') {
      return decided(Action::kRefuse, argument);
    }
    for (std::size_t at = 1; at < argument.size(); ++at) {
      if (argument[at] == 'h') {
        return decided(Action::kShowHelp);
      }
      if (argument[at] == 'a') {
        options.add_missing = true;
        continue;
      }
      if (argument[at] != 'n') {
        return decided(Action::kRefuse, argument);
      }
      options.dry_run = true;
    }
  }
  return refusing_what_conflicts(options);
}

std::string option_meant_by(const std::string& word) {
  for (const char* option : kLongOptions) {
    if (word == option) {
      return std::string("--") + option;
    }
  }
  return "";
}

std::string usage_text(bool slash_options) {
  std::string text =
      "Usage: confmend [OPTION]...\n"
      "Brings every .conf file below the Steam folder, and below the steamapps folder of\n"
      "every further Steam library, into line with the settings of dosbox.conf in the\n"
      "current folder: each name=value line whose name has a value there gets that value.\n"
      "\n"
      "  -a, --add-missing  also give DOSBox's configuration files the settings of\n"
      "                     dosbox.conf they lack, in the section DOSBox reads them from, and\n"
      "                     match names written in another case there, as DOSBox does;\n"
      "                     without it, a run changes only the lines each file has\n"
      "  -n, --dry-run      show what would change, as a unified diff, and change nothing\n"
      "      --check        check dosbox.conf against what DOSBox takes, and change nothing\n"
      "      --undo         take back the newest run not wholly taken back (with -n, show\n"
      "                     how); a run an earlier undo had to leave files of is finished\n"
      "      --skip         with --undo, pass the newest run not wholly taken back over\n"
      "                     (one that cannot be finished: its game gone, its record\n"
      "                     unreadable) and take back the run before it\n"
      "  -h, --help         show this help and end\n";
  if (slash_options) {
    text += "  /?                 the same\n";
  }
  text += "      --version      show the version and end\n";
  text +=
      "\n"
      "Before a run, and with --check, what in dosbox.conf DOSBox would not take as meant is\n"
      "told line by line, for example:\n"
      "  dosbox.conf:3: no DOSBox has a setting named \"fulscreen\"; did you mean \"fullscreen\"?\n"
      "\n"
      "Exit status: 0 when every file found was mended (in a dry run, could be); 1 when a\n"
      "file was left unmended, the reason shown under it; 2 for a command line it does not\n"
      "take; ";
  // Windows keeps the whole -1 of a failed lookup (ERRORLEVEL -1); Linux keeps one byte of it.
  text += slash_options ? "-1" : "255";
  text +=
      " when Steam cannot be found. With --check: 0 when dosbox.conf gives no\n"
      "warning, 1 when it gives one or is missing. With --undo: 0 when every file of the\n"
      "run was given back, or there was nothing to undo; 1 when a file was left, or the\n"
      "run's record could not be read.\n"
      "\n"
      "Each run first keeps the files it changes, as they were, in the undo store (";
  text += slash_options ? "%LOCALAPPDATA%\\confmend"
                        : "$XDG_STATE_HOME/confmend, else ~/.local/state/confmend";
  text +=
      "),\n"
      "which must be yours alone: a store another user could write to is refused, and then\n"
      "no file is changed. It keeps the last 20 runs in 256 MiB at most, letting the oldest\n"
      "go first; the newest run is always kept whole.\n";
  return text;
}
