// What the walk never opens and never follows: pipes, dangling links, links whose target
// cannot be told, folders outside the tree; and paths longer than the system takes at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "tests/confmend_fixture.h"

namespace {

std::string deep_name(int level, std::size_t length) {
  return std::to_string(level) + std::string(length, 'd');
}

// Folders made one inside the other below `folder`, each through the last, so that their path
// may be longer than the system takes at once. The descriptor of the deepest, for the caller
// to close.
int make_deep_folders(int folder, int first, int count, std::size_t length) {
  int at = dup(folder);
  for (int level = first; level < first + count && at >= 0; ++level) {
    mkdirat(at, deep_name(level, length).c_str(), 0755);
    const int below = openat(at, deep_name(level, length).c_str(), O_RDONLY | O_DIRECTORY);
    close(at);
    at = below;
  }
  EXPECT_GE(at, 0) << "cannot make deep folders";
  return at;
}

int open_folder(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_DIRECTORY);
}

void write_file_at(int folder, const std::string& name, const std::string& bytes) {
  const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
}

std::string read_file_at(int folder, const std::string& name) {
  const int file = openat(folder, name.c_str(), O_RDONLY);
  std::string bytes;
  char buffer[4096];
  for (ssize_t got; file >= 0 && (got = read(file, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  return bytes;
}

// rm walks a tree by descriptors, as deep as it goes; the test's own clean-up would not.
void remove_deep_tree(const std::string& path) {
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}};
  EXPECT_EQ(run_program({"rm", "-rf", path}, options).exit_status, 0);
}

TEST_F(Confmend, NeverOpensPipesAndReportsDanglingLinks) {
  point_registry_at(steam_);
  ASSERT_EQ(mkfifo((steam_ + "/pipe.conf").c_str(), 0600), 0);
  ASSERT_EQ(make_link("nowhere", steam_ + "/dangling.conf"), 0);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output,
            lines({steam_, "Found: " + steam_ + "/dangling.conf",
                   "Cannot read file " + steam_ + "/dangling.conf", "  No such file or directory",
                   "1 file was left unmended; the reason is under it."}) +
                prompt());
  EXPECT_FALSE(file_exists(steam_ + "/nowhere"));
}

// Opening a pipe for reading waits for a writer: the reference must not be waited for.
TEST_F(Confmend, AReferenceThatIsAPipeIsNone) {
  point_registry_at(steam_);
  ASSERT_EQ(unlink((work_ + "/dosbox.conf").c_str()), 0);
  ASSERT_EQ(mkfifo((work_ + "/dosbox.conf").c_str(), 0600), 0);
  write_file(steam_ + "/game.conf", " fullscreen = no \n");
  ChildOptions limited;
  limited.time_limit = std::chrono::seconds(10);
  const auto result = run(limited);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), "fullscreen = no\n");
}

TEST_F(Confmend, ReachesPathsLongerThanTheSystemTakesAtOnce) {
  point_registry_at(steam_);
  const int steam = open_folder(steam_);
  const int bottom = make_deep_folders(steam, 0, 25, 200);
  close(steam);
  write_file_at(bottom, "game.conf", " a = 1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  std::string path = steam_;
  for (int level = 0; level < 25; ++level) {
    path += "/" + deep_name(level, 200);
  }
  ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(result.output, lines({steam_, "Found: " + path + "/game.conf"}) + prompt());
  EXPECT_EQ(read_file_at(bottom, "game.conf"), "a = 1\n");
  close(bottom);
  remove_deep_tree(steam_ + "/" + deep_name(0, 200));
}

// A link whose target lies outside, but so deep that no path can say where, is never
// followed: what cannot be told to lie within is taken to lie without.
TEST_F(Confmend, NeverFollowsALinkWhoseTargetCannotBeTold) {
  point_registry_at(steam_);
  const std::string outside = home_ / "outside";
  make_folders(outside);
  // Two links, each short enough to be made, lead 20 folders of 221 bytes down.
  const int top = open_folder(outside);
  const int middle = make_deep_folders(top, 0, 10, 220);
  const int bottom = make_deep_folders(middle, 10, 10, 220);
  close(top);
  write_file_at(bottom, "target.conf", " fullscreen = no \n");
  std::string first, second;
  for (int level = 0; level < 10; ++level) {
    first += (level == 0 ? "" : "/") + deep_name(level, 220);
    second += (level == 0 ? "" : "/") + deep_name(level + 10, 220);
  }
  ASSERT_EQ(symlinkat(second.c_str(), middle, "onward"), 0);
  ASSERT_EQ(make_link(first, outside + "/down"), 0);
  make_folders(steam_ + "/game");
  ASSERT_EQ(make_link(outside + "/down/onward/target.conf", steam_ + "/game/far.conf"), 0);
  ASSERT_EQ(read_file(steam_ + "/game/far.conf"), " fullscreen = no \n") << "it leads there";

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({steam_}) + prompt());
  EXPECT_EQ(read_file_at(bottom, "target.conf"), " fullscreen = no \n");
  close(bottom);
  close(middle);
  remove_deep_tree(outside);
}

// Threads reading folders ahead of the walk list none that the walk itself would not: not
// through a link, not outside the tree. The kernel tells of every listing and opening.
TEST_F(Confmend, ReadingAheadListsNoFolderOutsideTheTree) {
  point_registry_at(steam_);
  const std::string outside = home_ / "outside";
  make_folders(outside + "/below/further");
  make_folders(steam_ + "/game/a/b");
  write_file(steam_ + "/game/a/b/game.conf", "swap34=true\n");
  for (const char* link : {"/link", "/game/link", "/game/a/link", "/game/a/b/link"}) {
    ASSERT_EQ(make_link(outside, steam_ + link), 0);
  }
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  // The walk opens a link to tell where it leads, and lists nothing it finds outside.
  ASSERT_GE(inotify_add_watch(watch, outside.c_str(), IN_ACCESS), 0);
  ASSERT_GE(inotify_add_watch(watch, (outside + "/below").c_str(), IN_OPEN | IN_ACCESS), 0);
  ChildOptions reading_ahead;
  reading_ahead.environment = {{"CONFMEND_READ_AHEAD_THREADS", "16"}};
  const auto result = run(reading_ahead);
  EXPECT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(read_file(steam_ + "/game/a/b/game.conf"), "swap34=false\n");
  alignas(inotify_event) char events[4096];
  EXPECT_EQ(read(watch, events, sizeof events), -1) << "a folder outside was read";
  close(watch);
}

}  // namespace
