#include "mending/text_accumulator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(TextAccumulator, HasNoBlockUntilTheFirstAppend) {
  TextAccumulator text;
  EXPECT_EQ(text.text(), nullptr);
}

TEST(TextAccumulator, AppendingNulGivesTheEmptyTextAndChangesNothingElse) {
  TextAccumulator empty;
  empty.append_char('\0');
  ASSERT_NE(empty.text(), nullptr);
  EXPECT_STREQ(empty.text(), "");

  TextAccumulator nothing;
  nothing.append_text("");
  ASSERT_NE(nothing.text(), nullptr);
  EXPECT_STREQ(nothing.text(), "");

  TextAccumulator some;
  some.append_text("ab").append_char('\0');
  EXPECT_STREQ(some.text(), "ab");
  EXPECT_EQ(some.size(), 2u);
}

TEST(TextAccumulator, ChainsPiecesInOrderAndCutsEachAtItsFirstNul) {
  TextAccumulator text;
  text.append_text("name").append_char('=').append_text("va\0ignored"s).append_text("lue");
  text.append_char('\n');
  EXPECT_EQ(std::string(text.text(), text.size()), "name=value\n");
  EXPECT_EQ(std::string(text.text()), "name=value\n") << "the text must stay NUL-terminated";
}

TEST(TextAccumulator, KeepsEveryByteAcrossManyGrowths) {
  TextAccumulator text;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string piece = std::to_string(i) + (i % 7 == 0 ? "\n" : ",");
    text.append_text(piece);
    expected += piece;
  }
  ASSERT_FALSE(text.failed());
  EXPECT_EQ(std::string(text.text(), text.size()), expected);
}

TEST(TextAccumulator, ReserveKeepsTheTextAndAllowsLaterGrowth) {
  TextAccumulator text;
  text.append_text("abc");
  text.reserve(1);
  text.reserve(1000);
  text.append_text(std::string(2000, 'x'));
  EXPECT_EQ(std::string(text.text(), text.size()), "abc" + std::string(2000, 'x'));
}

TEST(TextAccumulator, ReportsMemoryItCannotGetAndKeepsItsText) {
  TextAccumulator text;
  text.append_text("kept");
  text.reserve(std::size_t{1} << 60);  // far more than any machine has
  EXPECT_TRUE(text.failed());
  EXPECT_STREQ(text.text(), "kept");
}

}  // namespace

// The sanitizers' allocator aborts on an impossible request unless told to fail it instead,
// as the plain allocator does.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options() {
  return "allocator_may_return_null=1";
}
