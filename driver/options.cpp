#include "driver/options.h"

namespace {

Options decided(Action action, const std::string& argument = "") {
  return Options{action, false, argument};
}

}  // namespace

Options read_options(const std::vector<std::string>& arguments, bool slash_options) {
  Options options;
  for (const std::string& argument : arguments) {
    if (argument == "--") {
      break;
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
    const bool is_option =
        (argument.starts_with('-') || (slash_options && argument.starts_with('/')));
    if (!is_option) {
      continue;
    }
    if (argument.size() < 2 || argument.starts_with("--") || argument[0] == '/') {
      return decided(Action::kRefuse, argument);
    }
    for (std::size_t at = 1; at < argument.size(); ++at) {
      if (argument[at] == 'h') {
        return decided(Action::kShowHelp);
      }
      if (argument[at] != 'n') {
        return decided(Action::kRefuse, argument);
      }
      options.dry_run = true;
    }
  }
  return options;
}

std::string usage_text(bool slash_options) {
  std::string text =
      "Usage: confmend [OPTION]...\n"
      "Brings every .conf file below the Steam folder, and below the steamapps folder of\n"
      "every further Steam library, into line with the settings of dosbox.conf in the\n"
      "current folder: each name=value line whose name has a value there gets that value.\n"
      "\n"
      "  -n, --dry-run  show what would change, as a unified diff, and change nothing\n"
      "  -h, --help     show this help and end\n";
  if (slash_options) {
    text += "  /?             the same\n";
  }
  text += "      --version  show the version and end\n";
  return text;
}
