#ifndef CONFMEND_SETTINGS_SETTING_TABLE_H_
#define CONFMEND_SETTINGS_SETTING_TABLE_H_

#include <functional>
#include <map>
#include <string>
#include <string_view>

// Setting name to value, both raw bytes; names unique, in byte-wise ascending order.
// std::less<> lets a name be looked up from a string_view without a copy.
using SettingTable = std::map<std::string, std::string, std::less<>>;

// Adds the entry, or replaces the value of the entry that has this exact name.
void store_setting(SettingTable& table, std::string_view name, std::string_view value);

// The non-empty value stored under exactly `name`, or `fallback` itself. Never a copy, and
// never adds an entry.
const std::string& lookup_setting(const SettingTable& table, std::string_view name,
                                  const std::string& fallback);

#endif  // CONFMEND_SETTINGS_SETTING_TABLE_H_
