// Two runs at once over one tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tests/confmend_fixture.h"

namespace {

// Two runs at once, a double-click while one works: one waits for the other, and neither
// damages, reports or leaves behind anything. A file with two names is written in place,
// where a second run reading it half written would cut it short.
TEST_F(Confmend, TwoRunsAtOnceLoseNothing) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  make_folders(steam_ + "/hard");
  std::string big;
  for (int i = 0; i < 200000; ++i) {
    big +=
        i % 2 ? "cycles = " + std::to_string(i) + "\r\n" : "# line " + std::to_string(i) + "\r\n";
  }
  write_file(steam_ + "/hard/dosbox.conf", big);
  ASSERT_EQ(link((steam_ + "/hard/dosbox.conf").c_str(), (steam_ + "/hard/other name").c_str()), 0);
  std::string mended;
  for (int i = 0; i < 200000; ++i) {
    mended += i % 2 ? "cycles=max\n" : "# line " + std::to_string(i) + "\n";
  }
  for (int game = 0; game < 500; ++game) {
    make_folders(steam_ + "/games/" + std::to_string(game));
    write_file(steam_ + "/games/" + std::to_string(game) + "/game.conf", " cycles = 1 \r\n");
  }
  ChildOptions options;
  options.working_folder = work_;
  options.environment = {{"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}};
  options.time_limit = std::chrono::seconds(60);
  const auto result = run_program(
      {"/bin/sh", "-c", "\"$0\" </dev/null >one 2>&1 & \"$0\" </dev/null >two 2>&1 & wait",
       CONFMEND_PROGRAM},
      options);
  ASSERT_EQ(result.exit_status, 0);
  for (const char* output : {"one", "two"}) {
    const std::string shown = read_file(work_ + "/" + output);
    EXPECT_EQ(count_of("Found: ", shown), 501u) << output;
    EXPECT_EQ(shown.find("Cannot"), std::string::npos) << output << ":\n" << shown;
    EXPECT_TRUE(shown.ends_with(prompt())) << output << ":\n" << shown;
  }
  EXPECT_TRUE(read_file(steam_ + "/hard/dosbox.conf") == mended) << "the file was cut short";
  EXPECT_EQ(status_of(steam_ + "/hard/dosbox.conf").st_nlink, 2u);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(steam_)) {
    files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entry.path().filename().string().find(".confmend-"), std::string::npos)
        << entry.path() << " was left behind";
  }
  EXPECT_EQ(files, 502u);
}

}  // namespace
