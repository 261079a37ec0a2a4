#include "disk/file_writing.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// Only names of the exact pattern are ever taken for a leftover, and removed.
TEST(ReplacementName, IsOneExactPattern) {
  EXPECT_EQ(replacement_name(0x0123456789abcdef), ".confmend-0123456789abcdef.tmp");
  EXPECT_EQ(replacement_name(0), ".confmend-0000000000000000.tmp");
  EXPECT_TRUE(is_replacement_name(".confmend-0123456789abcdef.tmp"));
  for (const char* name : {".confmend-0123456789abcdeg.tmp", ".confmend-0123456789ABCDEF.tmp",
                           ".confmend-0123456789abcde.tmp", ".confmend-0123456789abcdef0.tmp",
                           ".confmend-0123456789abcdef.tmp.bak", "x.confmend-0123456789abcdef.tmp",
                           ".confmend-0123456789abcdef.TMP", "game.conf", ""}) {
    EXPECT_FALSE(is_replacement_name(name)) << name;
  }
}

TEST(ReplacementName, NumbersDifferFromCallToCall) {
  std::set<std::uint64_t> numbers;
  for (int i = 0; i < 1000; ++i) {
    numbers.insert(replacement_number());
  }
  EXPECT_EQ(numbers.size(), 1000u);
}

}  // namespace
