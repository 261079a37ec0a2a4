#include "settings/reference_settings.h"

#include <gtest/gtest.h>

#include "tests/temp_files.h"

namespace {

using namespace std::string_literals;

// The text as Notepad saves "Unicode": a byte-order mark, then UTF-16 little-endian.
std::string u16le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(LoadReferenceSettings, ReadsEverySettingLineOfTheFileAsRawBytes) {
  const struct {
    const char* what;
    std::string content;
    SettingTable table;
  } cases[] = {
      {"empty file", "", {}},
      {"last line without LF", "a=b", {{"a", "b"}}},
      {"CR LF line ends", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
      {"nothing but blanks, comments and headers", "\n  \t\n# note\n[sdl]\n;x\n", {}},
      {"last occurrence wins", "[a]\nx=1\n[b]\nx=2\n", {{"x", "2"}}},
      {"names differ by case", "Cycles=1\ncycles=2", {{"Cycles", "1"}, {"cycles", "2"}}},
      {"equals sign at the end", "a=\na = \n", {}},
      {"several equals signs", "a = b = c\n", {{"a", "b = c"}}},
      {"CR line ends", "a=1\rb=2\r", {{"a", "1"}, {"b", "2"}}},
      {"CR line ends and one final LF", "a=1\rb=2\n", {{"a", "1"}, {"b", "2"}}},
      {"UTF-8 byte-order mark",
       "\xEF\xBB\xBF"
       "a=1\n",
       {{"a", "1"}}},
      {"UTF-16 little-endian with its mark",
       u16le(u"fullscreen=true\r\nname=\u00E9\u20AC\U0001F600\r\n"),
       {{"fullscreen", "true"}, {"name", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}}},
      {"UTF-16 big-endian with its mark",
       "\xFE\xFF\0a\0=\0"
       "1"s,
       {{"a", "1"}}},
      // 0x1A does not end the file, but ends a value: written into a game's file, it would end
      // that file there for DOSBox for Windows.
      {"0x1A ends a value, not the file",
       "a=1 \x1A"
       "2\nb=3\n",
       {{"a", "1"}, {"b", "3"}}},
      {"a value ends at its first NUL",
       "a=1 \0"
       "2\n"s,
       {{"a", "1"}}},
      {"a value empty before its NUL is none",
       "a=1\na=\0"
       "2\n"s,
       {{"a", "1"}}},
      {"empty name", "=b\n", {{"", "b"}}},
  };
  for (const auto& c : cases) {
    TempDir folder;
    write_file(folder / "dosbox.conf", c.content);
    EXPECT_EQ(load_reference_settings(folder / "dosbox.conf"), c.table) << c.what;
  }
}

TEST(LoadReferenceSettings, GivesAnEmptyTableForWhatCannotBeRead) {
  TempDir folder;
  EXPECT_TRUE(load_reference_settings(folder / "missing.conf").empty());
  make_folders(folder / "folder.conf");
  EXPECT_TRUE(load_reference_settings(folder / "folder.conf").empty());
}

}  // namespace
