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

}  // namespace
