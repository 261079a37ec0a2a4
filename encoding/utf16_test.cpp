#include "encoding/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16, ConvertsEveryScriptBothWays) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"game.conf", u"game.conf"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE6\xBC\xA2\xE5\xAD\x97", u"\u6F22\u5B57"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},  // a surrogate pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf16_from_utf8(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(utf8_from_utf16(c.utf16), c.utf8) << c.utf8;
  }
}

// Windows allows a surrogate without its partner in a name: it is carried as its own three
// bytes, and comes back as it was.
TEST(Utf16, CarriesALoneSurrogateThereAndBack) {
  const std::u16string lone = {u'a', 0xD800, u'b'};
  const std::string carried = utf8_from_utf16(lone);
  EXPECT_EQ(carried,
            "a\xED\xA0\x80"
            "b");
  EXPECT_EQ(utf16_from_utf8(carried), lone);
}

TEST(Utf16, TakesBytesThatAreNoUtf8ForTheReplacementCharacter) {
  const struct {
    const char* what;
    std::string utf8;
  } cases[] = {
      {"a lone continuation byte", "\x80"},
      {"a sequence cut short", "\xE6\xBC"},
      {"an overlong form", "\xC0\xAF"},
      {"past U+10FFFF", "\xF4\x90\x80\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf16_from_utf8("a" + c.utf8 + "b").substr(0, 2), u"a\uFFFD") << c.what;
    EXPECT_EQ(utf16_from_utf8("a" + c.utf8 + "b").back(), u'b') << c.what;
  }
}

}  // namespace
