#include "driver/reference_warnings.h"

#include "console/console.h"
#include "driver/shown_text.h"
#include "settings/reference_check.h"

std::string counted(std::size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::size_t tell_reference_warnings(const LoadedReference& loaded) {
  if (loaded.file != ReferenceFile::kRead) {
    return 0;
  }
  const ReferenceCheck check = check_reference(loaded.text);
  for (const ReferenceWarning& warning : check.warnings) {
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
