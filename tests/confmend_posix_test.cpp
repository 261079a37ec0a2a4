// Cases that only the native program meets: Steam's registry file, its root link, pipes and
// dangling links, and permissions that bind an unprivileged user.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/confmend_fixture.h"

namespace {

const std::string kNoKey = "Cannot access the registry key, perhaps Steam is missing?";
const std::string kNoValue = "Cannot access the registry value, perhaps Steam is missing?";

TEST_F(Confmend, ReadsTheRegistryFileAsSteamWritesIt) {
  const struct {
    const char* what;
    std::string registry;
    std::string output;
  } cases[] = {
      {"other keys, comments, escapes, lower-case names",
       "// Steam\n\"registry\"\n{\n\"hkcu\" { \"software\" { \"Other\" { \"SteamPath\" \"/no\" }\n"
       "\"valve\" { \"steam\" {\n\"language\" \"english\" // note\n"
       "\"steampath\" \"" +
           steam_ + "\"\n\"quoted\" \"a\\\"b\\\\c\"\n} } } }\n}\n",
       steam_ + "\n"},
      {"no Steam block", "\"Registry\" { \"HKCU\" { \"Software\" { \"Valve\" { } } } }",
       kNoKey + "\n"},
      {"malformed", "\"Registry\" { \"HKCU\" {", kNoKey + "\n"},
      {"key without value and no root link", steam_registry_file("\"language\" \"english\""),
       kNoValue + "\n"},
  };
  for (const auto& c : cases) {
    make_folders(home_ / ".steam");
    write_file(home_ / ".steam/registry.vdf", c.registry);
    const auto result = run();
    EXPECT_EQ(result.output, c.output + prompt()) << c.what;
  }
}

TEST_F(Confmend, FollowsTheSteamRootLinkWhenTheValueIsAbsent) {
  make_folders(home_ / ".steam");
  write_file(home_ / ".steam/registry.vdf", steam_registry_file("\"language\" \"english\""));
  ASSERT_EQ(make_link(steam_, home_ / ".steam/root"), 0);
  write_file(steam_ + "/a.conf", "a=1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/a.conf"}) + prompt());
}

TEST_F(Confmend, NeverOpensPipesAndReportsDanglingLinks) {
  point_registry_at(steam_);
  ASSERT_EQ(mkfifo((steam_ + "/pipe.conf").c_str(), 0600), 0);
  ASSERT_EQ(make_link("nowhere", steam_ + "/dangling.conf"), 0);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/dangling.conf",
                                    "Cannot read file " + steam_ + "/dangling.conf"}) +
                               prompt());
  EXPECT_FALSE(file_exists(steam_ + "/nowhere"));
}

TEST_F(Confmend, ReadOnlyFileIsReportedAndTheRunGoesOn) {
  point_registry_at(steam_);
  make_folders(steam_ + "/a");
  write_file(steam_ + "/a/locked.conf", " x \n");
  open_to_everyone(home_.path());
  chmod((steam_ + "/a/locked.conf").c_str(), 0444);
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  const auto result = run(as_nobody);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/a/locked.conf",
                                    "Cannot write to file " + steam_ + "/a/locked.conf"}) +
                               prompt());
  EXPECT_EQ(read_file(steam_ + "/a/locked.conf"), " x \n");
}

TEST_F(Confmend, PauseEndsAtTheFirstByteOfInputAndLeavesTheRest) {
  point_registry_at(steam_);
  ChildOptions typed;
  typed.standard_input = "q";
  const auto result = run(typed);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_}) + prompt());
}

}  // namespace
