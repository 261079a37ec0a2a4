#include "steam/key_values.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::vector<std::string> kSteam = {"Registry", "HKCU", "Software", "Valve", "Steam"};

// The block's values as "key=value;" pairs, or "none".
std::string found(std::string_view text, const std::vector<std::string>& path = kSteam) {
  const auto values = find_key_values_block(text, path);
  if (!values) {
    return "none";
  }
  std::string pairs;
  for (const KeyValue& value : *values) {
    pairs += value.key + "=" + value.value + ";";
  }
  return pairs;
}

TEST(FindKeyValuesBlock, ReadsTheBlockAsSteamWritesIt) {
  const std::string text = R"(// written by Steam
"Registry"
{
	"HKCU" { "Software" { "Other" { "SteamPath" "no" }
	"valve" { "STEAM" {
		"language"  "english"   [$LINUX]
		SteamPath   "/home/me/.local/share/Steam"
		"quoted"    "a \"b\" c\\d\te\nf\q"
		"Apps" { "10" { "Installed" "1" } }
		"after"     "apps"
	} } } }
}
)";
  EXPECT_EQ(found(text),
            "language=english;SteamPath=/home/me/.local/share/Steam;quoted=a \"b\" c\\d\te\nf\\q;"
            "after=apps;");
  const auto values = find_key_values_block(text, kSteam);
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(find_key_value(*values, "steampath")->value, "/home/me/.local/share/Steam");
  EXPECT_EQ(find_key_value(*values, "missing"), nullptr);
  EXPECT_EQ(found(text, {"Registry", "HKCU", "Software", "Valve", "Steam", "Apps", "10"}),
            "Installed=1;");
}

TEST(FindKeyValuesBlock, TakesTheFirstBlockOnThePathOnly) {
  EXPECT_EQ(found(R"("a" { "b" { "x" "1" } } "a" { "b" { "x" "2" } })", {"a", "b"}), "x=1;");
  EXPECT_EQ(found(R"("a" { "c" { "b" { "x" "1" } } })", {"a", "b"}), "none");
  EXPECT_EQ(found(R"("a" { "b" { } })", {"a", "b"}), "");
}

TEST(FindKeyValuesBlock, RefusesMalformedText) {
  for (const char* text : {"\"Registry\" { \"HKCU\" {", "\"a\" \"b\" }", "\"a\" \"unterminated",
                           "\"key\"", "{ \"a\" \"b\" }", "\"a\" [$X]", "", "\"Registry\" { } }"}) {
    EXPECT_EQ(found(text), "none") << text;
  }
}

// Nesting costs a count, not the stack: a hostile file cannot overflow it.
TEST(FindKeyValuesBlock, ReadsAnyDepthOfNesting) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) {
    deep += "a{";
  }
  EXPECT_EQ(found(deep, {"a"}), "none");
  deep += std::string(100000, '}');
  EXPECT_EQ(found(deep, {"a"}), "");
}

}  // namespace
