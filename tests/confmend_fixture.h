#ifndef CONFMEND_TESTS_CONFMEND_FIXTURE_H_
#define CONFMEND_TESTS_CONFMEND_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <initializer_list>
#include <string>

#include "tests/program_under_test.h"

// What lstat tells of the path; a path that is not there fails the test.
inline struct stat status_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

// How often `part` stands in `text`.
inline std::size_t count_of(const std::string& part, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) {
    ++count;
  }
  return count;
}

// How the program names the run whose undo store entry is `entry` ("run-7-1796824980"): "the
// run of 2026-12-09 14:03", in local time.
inline std::string run_of_entry(const std::string& entry) {
  const time_t made = std::stol(entry.substr(entry.rfind('-') + 1));
  struct tm local {};
  localtime_r(&made, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return std::string("the run of ") + text;
}

// A sandbox for one run: a HOME, a working folder and an empty Steam library inside it. The
// working folder holds a reference with one setting that no game has, as a run without
// settings to give says so; a case that is about that removes it.
class Confmend : public testing::Test {
 protected:
  void SetUp() override {
    make_folders(steam_);
    make_folders(work_);
    write_file(work_ + "/dosbox.conf", "swap34=false\n");
  }

  static const ProgramUnderTest& program() { return program_under_test(); }
  static std::string spelled(const std::string& path) { return program().spelled(path); }
  static std::string prompt() { return program().pause_prompt(); }

  // The lines, each ended by the platform's line end.
  static std::string lines(std::initializer_list<std::string> texts) {
    std::string joined;
    for (const auto& text : texts) {
      joined += text + program().line_end();
    }
    return joined;
  }

  static int make_link(const std::string& target, const std::string& link) {
    return symlink(target.c_str(), link.c_str());
  }

  void point_registry_at(const std::string& folder) {
    program().set_steam_path(home_.path(), spelled(folder));
  }

  ChildResult run(ChildOptions options = {}) { return run_in(work_, options); }
  ChildResult run_with(const std::vector<std::string>& arguments, ChildOptions options = {}) {
    return program().run(home_.path(), work_, options, arguments);
  }
  ChildResult run_in(const std::string& folder, ChildOptions options = {}) {
    return program().run(home_.path(), folder, options);
  }

  TempDir home_;
  std::string steam_ = home_ / "Steam";
  std::string work_ = home_ / "work";
};

#endif  // CONFMEND_TESTS_CONFMEND_FIXTURE_H_
