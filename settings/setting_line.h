#ifndef CONFMEND_SETTINGS_SETTING_LINE_H_
#define CONFMEND_SETTINGS_SETTING_LINE_H_

#include <optional>
#include <string_view>

#include "settings/setting_table.h"

// The text without its leading and trailing " \t\r\n\f" bytes; a view into `text`.
std::string_view trim_setting_text(std::string_view text);

struct SettingLine {
  std::string_view name;
  std::string_view value;
};

// Splits `line` at its first "=" into a trimmed name and value. No setting when the line has
// no "=" or the "=" is its last byte (tested on the line as given, before any trimming).
std::optional<SettingLine> split_setting_line(std::string_view line);

// Stores the setting that `line` holds, if any, in `table`; a stored name keeps its place and
// takes the new value.
void parse_setting_line(SettingTable& table, std::string_view line);

#endif  // CONFMEND_SETTINGS_SETTING_LINE_H_
