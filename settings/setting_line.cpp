#include "settings/setting_line.h"

namespace {

constexpr std::string_view kTrimSet = " \t\r\n\f";

}  // namespace

std::string_view trim_setting_text(std::string_view text) {
  const auto last = text.find_last_not_of(kTrimSet);
  if (last == std::string_view::npos) {
    return {};
  }
  text = text.substr(0, last + 1);
  return text.substr(text.find_first_not_of(kTrimSet));
}

std::optional<SettingLine> split_setting_line(std::string_view line) {
  const auto separator = line.find('=');
  if (separator == std::string_view::npos || separator + 1 == line.size()) {
    return std::nullopt;
  }
  return SettingLine{trim_setting_text(line.substr(0, separator)),
                     trim_setting_text(line.substr(separator + 1))};
}

void parse_setting_line(SettingTable& table, std::string_view line) {
  if (const auto setting = split_setting_line(line)) {
    store_setting(table, setting->name, setting->value);
  }
}
