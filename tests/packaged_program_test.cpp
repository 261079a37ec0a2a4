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

namespace {

// The download holds a command beside the program that takes the last run back.
TEST(PackagedProgram, TakesTheLastRunBackWithTheCommandBesideIt) {
  const std::string program = CONFMEND_PROGRAM;
  const std::string command = program.substr(0, program.rfind('/')) + "/undo-last-run";
  TempDir home;
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}, {"HOME", home.path()}};
  const auto result = run_program({command}, options);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  EXPECT_TRUE(result.output.starts_with("Nothing to undo.\n")) << result.output;
}

}  // namespace
