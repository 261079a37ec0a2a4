#include "settings/setting_line.h"

void parse_setting_line(SettingTable& table, std::string_view line) {
  if (const auto setting = split_setting_line(line)) {
    store_setting(table, setting->name, setting->value);
  }
}
