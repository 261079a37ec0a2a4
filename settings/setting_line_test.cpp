#include "settings/setting_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(TrimSettingText, RemovesOnlyTheFiveBlanksAtBothEnds) {
  const struct {
    std::string text, trimmed;
  } cases[] = {
      {"", ""},
      {" \t\r\n\f", ""},
      {"  a  b\t\r", "a  b"},
      {"\va\v", "\va\v"},          // vertical tab is kept
      {"\0a "s, "\0a"s},           // so is NUL
      {"\xA0x\xA0", "\xA0x\xA0"},  // and bytes from 0x80 up
      {"\f a = b \n", "a = b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trim_setting_text(c.text), c.trimmed) << "text: " << c.text;
  }
}

TEST(ParseSettingLine, SplitsAtTheFirstEqualsSign) {
  const struct {
    std::string line;
    SettingTable table;
  } cases[] = {
      {"a=b", {{"a", "b"}}},
      {"  a =\tb c \r", {{"a", "b c"}}},
      {"a=b=c", {{"a", "b=c"}}},
      {"a = b = c", {{"a", "b = c"}}},
      {"=b", {{"", "b"}}},
      {"a=", {}},
      {"=", {}},
      {"a = ", {{"a", ""}}},  // the "=" is not the last byte before trimming
      {"a", {}},
      {"", {}},
      {"[section]", {}},
      {"[a=b]", {{"[a", "b]"}}},
      {"# a=b", {{"# a", "b"}}},
  };
  for (const auto& c : cases) {
    SettingTable table;
    parse_setting_line(table, c.line);
    EXPECT_EQ(table, c.table) << "line: " << c.line;
  }
}

TEST(ParseSettingLine, LaterLinesReplaceValuesOfTheSameExactName) {
  const struct {
    std::vector<std::string> lines;
    SettingTable table;
  } cases[] = {
      {{"a=1", "a=2"}, {{"a", "2"}}},
      {{"A=1", "a=2"}, {{"A", "1"}, {"a", "2"}}},
      {{"a=1", "a="}, {{"a", "1"}}},
      {{"a=1", "a = "}, {{"a", ""}}},
  };
  for (const auto& c : cases) {
    SettingTable table;
    for (const auto& line : c.lines) {
      parse_setting_line(table, line);
    }
    EXPECT_EQ(table, c.table) << "first line: " << c.lines.front();
  }
}

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
