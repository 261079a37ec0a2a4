// A dry run as the native program makes it: every access time kept, and diff headers that
// patch reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "tests/confmend_fixture.h"

namespace {

// A dry run reads without touching a time: not of the files, nor of the folders it lists, the
// reference or Steam's lists of libraries (their access times are old enough that any read
// would move them, relatime or not).
TEST_F(Confmend, ADryRunKeepsEveryAccessTime) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/steamapps/common/game");
  write_file(steam_ + "/steamapps/common/game/dosbox.conf", "fullscreen=false\n");
  write_file(steam_ + "/steamapps/libraryfolders.vdf", "\"libraryfolders\" { }\n");
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) {
    paths.push_back(entry.path().string());
  }
  const timespec two_days_ago[2] = {{time(nullptr) - 2 * 86400, 0}, {UTIME_OMIT, UTIME_OMIT}};
  for (const auto& path : paths) {
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), two_days_ago, AT_SYMLINK_NOFOLLOW), 0) << path;
  }
  EXPECT_EQ(run_with({"--dry-run"}).exit_status, 0);
  for (const auto& path : paths) {
    EXPECT_EQ(status_of(path).st_atim.tv_sec, two_days_ago[0].tv_sec) << path << " was read";
  }
}

// Names with a tab, a line feed, a double quote or a backslash: the dry run's headers are
// quoted as git quotes them, and GNU patch, finding each file by its header alone, turns
// every file into what the run writes.
TEST_F(Confmend, QuotesNamesInDiffHeadersSoThatPatchFindsTheFiles) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::vector<std::string> names = {"tab\there.conf", "line\nfeed.conf", "say \"hi\".conf",
                                          "back\\slash.conf", "plain.conf"};
  for (const auto& name : names) {
    write_file(steam_ + "/" + name, " fullscreen = false \r\n");
  }
  const auto preview = run_with({"--dry-run"});
  EXPECT_NE(preview.output.find("\n--- \"" + steam_ + "/tab\\there.conf\"\n"), std::string::npos)
      << preview.output;
  EXPECT_NE(preview.output.find("\n+++ \"" + steam_ + "/back\\\\slash.conf\"\n"), std::string::npos)
      << preview.output;
  write_file(work_ + "/changes.diff", preview.output);
  ChildOptions quiet;
  quiet.environment = {{"PATH", "/usr/bin:/bin"}};
  quiet.working_folder = work_;
  const auto patched =
      run_program({"patch", "--force", "-d", "/", "-p1", "-i", work_ + "/changes.diff"}, quiet);
  EXPECT_EQ(patched.exit_status, 0) << patched.output << patched.errors;
  for (const auto& name : names) {
    EXPECT_EQ(read_file(steam_ + "/" + name), "fullscreen=true\n") << name;
  }
}

}  // namespace
