#include "steam/key_values.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::vector<std::string> kSteam = {"Registry", "HKCU", "Software", "Valve", "Steam"};

// The key's value in the block, "(no value)" when the block lacks it, or "(no block)".
std::string found(std::string_view text, const std::vector<std::string>& path = kSteam,
                  std::string_view key = "SteamPath") {
  const KeyValuesLookup found = look_up_key_value(text, path, key);
  return !found.block_found ? "(no block)" : found.value ? *found.value : "(no value)";
}

TEST(FindInKeyValues, ReadsTheBlockAsSteamWritesIt) {
  const std::string text = R"(// written by Steam
"Registry"
{
	"HKCU" { "Software" { "Other" { "SteamPath" "no" }
	"valve" { "STEAM" {
		"language"  "english"   [$LINUX]
		"Apps" { "10" { "SteamPath" "inner" } }
		steampath   "/home/me/.local/share/Steam"
		"quoted"    "a \"b\" c\\d\te\nf\q"
		"SteamPath" "second"
	} } } }
}
)";
  EXPECT_EQ(found(text), "/home/me/.local/share/Steam");
  EXPECT_EQ(found(text, kSteam, "quoted"), "a \"b\" c\\d\te\nf\\q");
  EXPECT_EQ(found(text, kSteam, "missing"), "(no value)");
  EXPECT_EQ(found(text, kSteam, "Apps"), "(no value)") << "a block is no text value";
  EXPECT_EQ(found(text, {"Registry", "HKCU", "Software", "Valve", "Steam", "Apps", "10"}), "inner");
}

TEST(FindInKeyValues, TakesTheFirstBlockOnThePathOnly) {
  EXPECT_EQ(found(R"("a" { "b" { "x" "1" } } "a" { "b" { "x" "2" } })", {"a", "b"}, "x"), "1");
  EXPECT_EQ(found(R"("a" { "c" { "b" { "x" "1" } } })", {"a", "b"}, "x"), "(no block)");
  EXPECT_EQ(found(R"("a" { "b" { } })", {"a", "b"}, "x"), "(no value)");
}

TEST(FindInKeyValues, RefusesMalformedText) {
  for (const char* text : {"\"Registry\" { \"HKCU\" {", "\"a\" \"b\" }", "\"a\" \"unterminated",
                           "\"key\"", "{ \"a\" \"b\" }", "\"a\" [$X]", "", "\"Registry\" { } }"}) {
    EXPECT_EQ(found(text), "(no block)") << text;
  }
}

// Nesting costs a count, not the stack: a hostile file cannot overflow it.
TEST(FindInKeyValues, ReadsAnyDepthOfNesting) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) {
    deep += "a{";
  }
  EXPECT_EQ(found(deep, {"a"}, "x"), "(no block)");
  deep += "x 1" + std::string(100000, '}');
  EXPECT_EQ(found(deep, {"a"}, "x"), "(no value)");
}

}  // namespace
