// What only the Linux download must show: it runs where no shared library but the kernel's
// own is there, as on a Steam Deck.
#include <gtest/gtest.h>

#include "tests/child_process.h"

namespace {

TEST(PackagedProgram, NeedsNoSharedLibrary) {
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}, {"LC_ALL", "C"}};
  const auto result =
      run_program({"readelf", "--program-headers", "--dynamic", CONFMEND_PROGRAM}, options);
  ASSERT_EQ(result.exit_status, 0) << result.errors;
  EXPECT_EQ(result.output.find("(NEEDED)"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("INTERP"), std::string::npos) << "it asks for a dynamic loader";
}

}  // namespace
