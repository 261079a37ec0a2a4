// The built program, run as a user runs it: in a sandbox with its own HOME, working folder
// and Steam library, checking console output, exit status and file bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/sandbox.h"

namespace {

const std::string kPrompt = "Press any key to continue . . .\n";

std::string registry_with(const std::string& steam_block) {
  return "\"Registry\" { \"HKCU\" { \"Software\" { \"Valve\" { \"Steam\" {\n" + steam_block +
         "\n} } } } }\n";
}

class Confmend : public testing::Test {
 protected:
  void SetUp() override {
    make_folders(home_ / ".steam");
    make_folders(steam_);
    make_folders(work_);
  }

  void point_registry_at(const std::string& folder) {
    write_file(home_ / ".steam/registry.vdf", registry_with("\"SteamPath\" \"" + folder + "\""));
  }

  ChildResult run(ChildOptions options = {}) {
    if (options.working_folder.empty()) {
      options.working_folder = work_;
    }
    options.environment = {{"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}};
    return run_program({CONFMEND_BINARY}, options);
  }

  TempDir home_;
  std::string steam_ = home_ / "Steam";
  std::string work_ = home_ / "work";
};

TEST_F(Confmend, MendsEveryConfFileBelowTheSteamFolder) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "[sdl]\nfullscreen=true\noutput=opengl\n");
  make_folders(steam_ + "/steamapps/common/Game/sub");
  write_file(steam_ + "/steamapps/common/Game/dosbox.conf",
             "[sdl]\r\n  fullscreen = false\r\noutput=surface\r\n[autoexec]\r\nmount c .\r\n");
  write_file(steam_ + "/steamapps/common/Game/sub/extra.conf", "fullscreen=0");
  write_file(steam_ + "/steamapps/common/Game/readme.txt", " fullscreen=0 ");

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.errors, "");
  const std::string game = steam_ + "/steamapps/common/Game";
  // Listing order within a folder is the platform's; these two lie in different folders.
  const std::string found_conf = "Found: " + game + "/dosbox.conf\n";
  const std::string found_extra = "Found: " + game + "/sub/extra.conf\n";
  EXPECT_TRUE(result.output == steam_ + "\n" + found_conf + found_extra + kPrompt ||
              result.output == steam_ + "\n" + found_extra + found_conf + kPrompt)
      << result.output;
  EXPECT_EQ(read_file(game + "/dosbox.conf"),
            "[sdl]\nfullscreen=true\noutput=opengl\n[autoexec]\nmount c .\n");
  EXPECT_EQ(read_file(game + "/sub/extra.conf"), "fullscreen=true\n");
  EXPECT_EQ(read_file(game + "/readme.txt"), " fullscreen=0 ");
}

TEST_F(Confmend, WithoutReferenceFileOnlyTrims) {
  point_registry_at(steam_);
  write_file(steam_ + "/a.conf", "  fullscreen = false \r\n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, steam_ + "\nFound: " + steam_ + "/a.conf\n" + kPrompt);
  EXPECT_EQ(read_file(steam_ + "/a.conf"), "fullscreen = false\n");
}

TEST_F(Confmend, FailedLookupPrintsItsMessagePausesOnceAndExitsWithMinusOne) {
  const struct {
    const char* what;
    std::string registry;  // empty: no registry file at all
    std::string message;
  } cases[] = {
      {"no registry file", "", "Cannot access the registry key, perhaps Steam is missing?"},
      {"no Steam key", "\"Registry\" { \"HKCU\" { \"Software\" { } } }",
       "Cannot access the registry key, perhaps Steam is missing?"},
      {"key without the value", registry_with("\"language\" \"english\""),
       "Cannot access the registry value, perhaps Steam is missing?"},
      {"1024 bytes and the terminator",
       registry_with("SteamPath \"/" + std::string(1024, 'x') + "\""),
       "Cannot access the registry value, length is invalid, perhaps Steam is missing or badly "
       "installed?"},
      {"empty value", registry_with("SteamPath \"\""),
       "Cannot access the registry value, length is invalid, perhaps Steam is missing or badly "
       "installed?"},
  };
  for (const auto& c : cases) {
    unlink((home_ / ".steam/registry.vdf").c_str());
    if (!c.registry.empty()) {
      write_file(home_ / ".steam/registry.vdf", c.registry);
    }
    write_file(steam_ + "/a.conf", " x \n");
    const auto result = run();
    EXPECT_EQ(result.exit_status, 255) << c.what;
    EXPECT_EQ(result.output, c.message + "\n" + kPrompt) << c.what;
    EXPECT_EQ(read_file(steam_ + "/a.conf"), " x \n") << c.what;
  }
}

TEST_F(Confmend, AcceptsAValueOf1024BytesWithItsTerminator) {
  std::string root = steam_;
  while (root.size() < 1023) {  // folders of at most 200 bytes, 1023 bytes in all
    root += "/" + std::string(std::min<std::size_t>(199, 1022 - root.size()), 'd');
  }
  ASSERT_EQ(root.size(), 1023u);
  make_folders(root);
  point_registry_at(root);
  write_file(root + "/a.conf", "x \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, root + "\nFound: " + root + "/a.conf\n" + kPrompt);
}

TEST_F(Confmend, FollowsTheSteamRootLinkWhenTheValueIsAbsent) {
  write_file(home_ / ".steam/registry.vdf", registry_with("\"language\" \"english\""));
  ASSERT_EQ(symlink(steam_.c_str(), (home_ / ".steam/root").c_str()), 0);
  write_file(steam_ + "/a.conf", "a=1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, steam_ + "\nFound: " + steam_ + "/a.conf\n" + kPrompt);
}

TEST_F(Confmend, RootThatCannotBeListedEndsCleanly) {
  point_registry_at(home_ / "nowhere");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, home_ / "nowhere" + "\n" + kPrompt);
}

TEST_F(Confmend, RootWithTrailingSlashDoublesTheSeparator) {
  point_registry_at(steam_ + "/");
  write_file(steam_ + "/a.conf", "");
  const auto result = run();
  EXPECT_EQ(result.output, steam_ + "/\nFound: " + steam_ + "//a.conf\n" + kPrompt);
}

TEST_F(Confmend, SelectsOnlyFilesEndingInDotConf) {
  point_registry_at(steam_);
  for (const char* name : {"x.conf", ".conf", "x.conf.bak", "X.CONF", "y.Conf"}) {
    write_file(steam_ + "/" + name, " a \n");
  }
  make_folders(steam_ + "/old.conf");
  write_file(steam_ + "/old.conf/y.conf", " b \n");
  ASSERT_EQ(mkfifo((steam_ + "/pipe.conf").c_str(), 0600), 0);
  ASSERT_EQ(symlink("nowhere", (steam_ + "/dangling.conf").c_str()), 0);

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  for (const std::string& line :
       {"Found: " + steam_ + "/x.conf\n", "Found: " + steam_ + "/old.conf/y.conf\n",
        "Found: " + steam_ + "/dangling.conf\nCannot read file " + steam_ + "/dangling.conf\n"}) {
    EXPECT_NE(result.output.find(line), std::string::npos) << line << " in\n" << result.output;
  }
  EXPECT_EQ(result.output.find("pipe.conf"), std::string::npos) << result.output;
  EXPECT_EQ(read_file(steam_ + "/x.conf"), "a\n");
  EXPECT_EQ(read_file(steam_ + "/old.conf/y.conf"), "b\n");
  for (const char* name : {".conf", "x.conf.bak", "X.CONF", "y.Conf"}) {
    EXPECT_EQ(read_file(steam_ + "/" + name), " a \n") << name;
  }
  EXPECT_FALSE(file_exists(steam_ + "/nowhere"));
}

TEST_F(Confmend, WalksEachRealFolderOnceThroughLinksAndCycles) {
  point_registry_at(steam_);
  make_folders(steam_ + "/a/b");
  write_file(steam_ + "/a/b/game.conf", "x=1\n");
  ASSERT_EQ(symlink("..", (steam_ + "/a/b/up").c_str()), 0);     // a cycle
  ASSERT_EQ(symlink("a/b", (steam_ + "/shortcut").c_str()), 0);  // a second path to b
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  std::size_t found = 0;
  for (std::size_t at = 0; (at = result.output.find("Found: ", at)) != std::string::npos; ++at) {
    ++found;
  }
  EXPECT_EQ(found, 1u) << result.output;
}

TEST_F(Confmend, MendsTheReferenceFileItselfWhenItLiesBelowTheRoot) {
  point_registry_at(steam_);
  write_file(steam_ + "/dosbox.conf", " cycles = max \n");
  ChildOptions in_steam;
  in_steam.working_folder = steam_;
  const auto result = run(in_steam);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, steam_ + "\nFound: " + steam_ + "/dosbox.conf\n" + kPrompt);
  EXPECT_EQ(read_file(steam_ + "/dosbox.conf"), "cycles=max\n");
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
  EXPECT_EQ(result.output, steam_ + "\nFound: " + steam_ + "/a/locked.conf\nCannot write to file " +
                               steam_ + "/a/locked.conf\n" + kPrompt);
  EXPECT_EQ(read_file(steam_ + "/a/locked.conf"), " x \n");
}

TEST_F(Confmend, PauseEndsAtTheFirstByteOfInput) {
  point_registry_at(steam_);
  ChildOptions typed;
  typed.standard_input = "q";
  const auto result = run(typed);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, steam_ + "\n" + kPrompt);
}

}  // namespace
