#include "settings/setting_line.h"

void store_setting(SettingTable& table, std::string_view name, std::string_view value) {
  const auto found = table.find(name);
  if (found != table.end()) {
    found->second.assign(value);
    return;
  }
  table.emplace(std::string(name), std::string(value));
}

const std::string& lookup_setting(const SettingTable& table, std::string_view name,
                                  const std::string& fallback) {
  const auto found = table.find(name);
  if (found == table.end() || found->second.empty()) {
    return fallback;
  }
  return found->second;
}

void parse_setting_line(SettingTable& table, std::string_view line) {
  if (const auto setting = split_setting_line(line)) {
    store_setting(table, setting->name, setting->value);
  }
}
