#include "settings/setting_table.h"

#include <fstream>

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

SettingTable load_reference_settings(const std::string& file_name) {
  SettingTable table;
  std::ifstream file(file_name, std::ios::in | std::ios::binary);
  std::string line;
  // A read error sets badbit and ends the loop; what was stored before it stays.
  while (std::getline(file, line)) {
    const std::string_view trimmed = trim_setting_text(line);
    if (!trimmed.empty()) {
      parse_setting_line(table, trimmed);
    }
  }
  return table;
}
