#include "settings/setting_table.h"

#include <gtest/gtest.h>

#include "settings/setting_line.h"

namespace {

TEST(SettingTable, OrdersNamesByUnsignedBytes) {
  SettingTable table;
  for (const char* name : {"abc", "\xFF", "a", "Z", "ab", "\x01"}) {
    store_setting(table, name, "v");
  }
  std::string order;
  for (const auto& [name, value] : table) {
    order += name + "|";
  }
  EXPECT_EQ(order, "\x01|Z|a|ab|abc|\xFF|");
}

TEST(LookupSetting, GivesTheStoredValueOrTheCallersOwnDefault) {
  SettingTable table;
  parse_setting_line(table, "a=1");
  parse_setting_line(table, "empty = ");
  parse_setting_line(table, "=nameless");
  const std::string fallback;

  EXPECT_EQ(lookup_setting(table, "a", fallback), "1");
  EXPECT_EQ(lookup_setting(table, "", fallback), "nameless");
  EXPECT_EQ(&lookup_setting(table, "A", fallback), &fallback);
  EXPECT_EQ(&lookup_setting(table, "missing", fallback), &fallback);
  EXPECT_EQ(&lookup_setting(table, "empty", fallback), &fallback);
  EXPECT_EQ(table.size(), 3u) << "a lookup must never add an entry";
}

}  // namespace
