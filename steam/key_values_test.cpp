#include "steam/key_values.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseKeyValues, ReadsNestedBlocksCommentsEscapesAndBareTokens) {
  const auto root = parse_key_values(R"(// written by Steam
"Registry"
{
	"HKCU" { "Software" { "Valve" { "Steam" {
		"language"  "english"   [$LINUX]
		SteamPath   "/home/me/.local/share/Steam"
		"quoted"    "a \"b\" c\\d\te\nf\q"
		"Apps" { "10" { "Installed" "1" } }
	} } } }
}
)");
  ASSERT_TRUE(root.has_value());
  const KeyValues* steam = root->find("registry");
  for (const char* key : {"hkcu", "SOFTWARE", "valve", "steam"}) {
    ASSERT_NE(steam, nullptr) << key;
    steam = steam->find(key);
  }
  ASSERT_NE(steam, nullptr);
  EXPECT_EQ(steam->find("steampath")->value, "/home/me/.local/share/Steam");
  EXPECT_EQ(steam->find("language")->value, "english");
  EXPECT_EQ(steam->find("quoted")->value, "a \"b\" c\\d\te\nf\\q");
  EXPECT_TRUE(steam->find("apps")->is_block);
  EXPECT_EQ(steam->find("missing"), nullptr);
}

TEST(ParseKeyValues, RefusesMalformedText) {
  for (const char* text : {"\"a\" { \"b\" \"c\"", "\"a\" \"b\" }", "\"a\" \"unterminated",
                           "\"key\"", "{ \"a\" \"b\" }", "\"a\" [$X]"}) {
    EXPECT_FALSE(parse_key_values(text).has_value()) << text;
  }
  EXPECT_TRUE(parse_key_values("").has_value());
}

}  // namespace
