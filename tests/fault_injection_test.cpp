// Faults injected into real runs of the built program: a full disk, read errors, files and
// folders that vanish or change under it, permissions, and interruptions at random moments.
// After each, every ".conf" file must hold exactly its old or exactly its new content.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "tests/child_process.h"
#include "tests/program_under_test.h"
#include "tests/steam_registry.h"

namespace fs = std::filesystem;

namespace {

using Contents = std::map<std::string, std::string>;  // path below the root -> bytes

struct Tally {
  int faults = 0;
  int killed = 0;       // runs ended by SIGKILL, of the native program
  int killed_wine = 0;  // and of the Windows program under Wine
  int files = 0;
  int damaged = 0;
} tally;

class SummaryLine : public testing::Environment {
 public:
  void TearDown() override {
    std::printf(
        "fault injection: %d faults injected (%d SIGKILL on Linux, %d under Wine), %d files "
        "checked, %d files damaged\n",
        tally.faults, tally.killed, tally.killed_wine, tally.files, tally.damaged);
  }
};

const auto* const kSummary = testing::AddGlobalTestEnvironment(new SummaryLine);

const std::string kReference = "[sdl]\nfullscreen=true\noutput=opengl\n[cpu]\ncycles=max\n";

// Game configurations with settings to change, blank-padded lines and CR LF ends.
std::string game_config(std::size_t lines, unsigned seed) {
  std::string text;
  std::mt19937 random(seed);
  while (text.size() / 24 < lines) {
    switch (random() % 4) {
      case 0:
        text += "  fullscreen = false\r\n";
        break;
      case 1:
        text += "cycles=fixed " + std::to_string(random() % 9000) + "\r\n";
        break;
      case 2:
        text += "# comment " + std::to_string(random()) + "\r\n";
        break;
      default:
        text += "[section]\r\n";
        break;
    }
  }
  return text;
}

// Four files of about 1.4 MB: large enough that an interruption often falls in a write.
Contents large_library() {
  Contents files;
  for (unsigned i = 0; i < 4; ++i) {
    files["game" + std::to_string(i) + "/dosbox.conf"] = game_config(60000, 10 + i);
  }
  return files;
}

// The regular files below the root, each with what it holds: every one, or (`only_conf`) those
// whose names end in ".conf".
Contents files_below(const std::string& root, bool only_conf) {
  Contents contents;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && (!only_conf || it->path().extension() == ".conf")) {
      contents[fs::relative(it->path(), root).string()] = read_file(it->path().string());
    }
  }
  return contents;
}

Contents every_file(const std::string& root) {
  return files_below(root, false);
}

Contents snapshot(const std::string& root) {
  return files_below(root, true);
}

void write_tree(const std::string& root, const Contents& files) {
  for (const auto& [path, bytes] : files) {
    make_folders(fs::path(root + "/" + path).parent_path().string());
    write_file(root + "/" + path, bytes);
  }
}

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override {
    make_folders(work_);
    write_file(work_ + "/dosbox.conf", kReference);
    point_home_at(home_.path(), steam_);
  }

  // Lays the library out, and works out what a run without faults makes of it.
  void lay_out(const Contents& files) {
    old_ = files;
    TempDir scratch;
    ChildOptions options;
    options.working_folder = work_;
    options.environment = {{"HOME", scratch.path()}};
    point_home_at(scratch.path(), scratch / "Steam");
    write_tree(scratch / "Steam", files);
    ASSERT_EQ(run_program({CONFMEND_PROGRAM}, options).exit_status, 0);
    new_ = snapshot(scratch / "Steam");
    write_tree(steam_, files);
  }

  ChildResult run(ChildOptions options = {}) {
    ++tally.faults;
    options.working_folder = work_;
    options.environment.insert({"HOME", home_.path()});
    return run_program({CONFMEND_PROGRAM}, options);
  }

  ChildOptions with_shim(std::map<std::string, std::string> steering) {
    ChildOptions options;
    options.environment = std::move(steering);
    options.environment["LD_PRELOAD"] = CONFMEND_FAULT_SHIM;
    return options;
  }

  // Every file now holds its old or its new content; `expected_old` ones must hold the old.
  void expect_no_damage(std::initializer_list<std::string> expected_old = {}) {
    const Contents now = snapshot(steam_);
    for (const auto& [path, bytes] : now) {
      ++tally.files;
      const bool whole = bytes == old_[path] || bytes == new_[path];
      tally.damaged += whole ? 0 : 1;
      EXPECT_TRUE(whole) << path << " is damaged: " << bytes.size() << " bytes";
    }
    for (const auto& path : expected_old) {
      EXPECT_TRUE(read_file(steam_ + "/" + path) == old_[path]) << path << " has changed";
    }
  }

  std::string path_of(const std::string& file) const { return steam_ + "/" + file; }

  using Runner = std::function<ChildResult(ChildOptions)>;
  Runner native() {
    return [this](ChildOptions options) { return run(std::move(options)); };
  }

  struct Interruptions {
    int runs = 0;
    int ended = 0;        // runs that the signal ended
    int left_behind = 0;  // runs after which a new file was found unfinished
  };

  // Sends one of the signals at a random moment of each run, within the span of an
  // undisturbed one; after each, every file must hold its old or its new content.
  Interruptions interrupt_at_random(const std::vector<int>& signals, int runs,
                                    const Runner& run_once) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run_once({}).exit_status, 0);
    --tally.faults;  // that run had none
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::mt19937 random(20261208);
    Interruptions outcome;
    for (outcome.runs = 0; outcome.runs < runs; ++outcome.runs) {
      write_tree(steam_, old_);
      const int signal_number = signals[static_cast<std::size_t>(outcome.runs) % signals.size()];
      ChildOptions interrupted;
      interrupted.interrupt_signal = signal_number;
      interrupted.interrupt_after = std::chrono::microseconds(random() % (span.count() + 1));
      interrupted.standard_input = "x";  // for the pause, should the signal come after it
      const int status = run_once(interrupted).exit_status;
      outcome.ended += status == 128 + signal_number ? 1 : 0;
      EXPECT_TRUE(status == 0 || status == 128 + signal_number)
          << "signal " << signal_number << " gave status " << status;
      expect_no_damage();
      outcome.left_behind += every_file(steam_).size() > old_.size() ? 1 : 0;
    }
    return outcome;
  }

  // After one more whole run, nothing but the user's own files is left.
  void expect_only_users_files_after(const Runner& run_once) {
    ASSERT_EQ(run_once({}).exit_status, 0);
    --tally.faults;
    Contents files = every_file(steam_);
    std::string names;
    for (const auto& [path, bytes] : files) {
      names += path + (old_.count(path) == 1 ? "\n" : " (not the user's)\n");
    }
    EXPECT_EQ(files.size(), old_.size()) << names;
  }

  // The console lines of a file found and then reported with `message`.
  std::string found_then(const std::string& file, const std::string& message) const {
    const std::string path = path_of(file);
    return "Found: " + path + "\n" + message + path + "\n";
  }

  TempDir home_;
  std::string steam_ = home_ / "Steam";
  std::string work_ = home_ / "work";
  Contents old_, new_;
};

TEST_F(FaultInjection, DiskFillsUpDuringAWrite) {
  SKIP_UNLESS_ROOT("filling a small tmpfs");
  make_folders(steam_);
  if (mount("tmpfs", steam_.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
    const std::string why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    if (running_under_ci()) {
      FAIL() << why;
    }
    GTEST_SKIP() << "SKIPPED: filling a small tmpfs (" << why << ")";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{steam_};
  // The big file's new text outgrows the space left; the small one still fits.
  std::string big;
  while (big.size() < 300 * 1024) {
    big += "cycles=1\n";
  }
  lay_out({{"big/game.conf", big}, {"small/game.conf", " cycles=1 \n"}});
  write_file(steam_ + "/filler", std::string(1024 * 1024 - 300 * 1024 - 40 * 1024, 'f'));

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.output.find(found_then("big/game.conf", "Cannot write to file ")),
            std::string::npos)
      << result.output;
  expect_no_damage({"big/game.conf"});
  EXPECT_TRUE(read_file(path_of("small/game.conf")) == new_["small/game.conf"]);
}

TEST_F(FaultInjection, ReadErrorLeavesTheFileAlone) {
  lay_out({{"a/one.conf", game_config(200, 1)}, {"b/two.conf", game_config(200, 2)}});
  const auto result = run(with_shim({{"CONFMEND_FAIL_READ", path_of("a/one.conf")}}));
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.output.find(found_then("a/one.conf", "Cannot read file ")), std::string::npos)
      << result.output;
  expect_no_damage({"a/one.conf"});
  EXPECT_TRUE(read_file(path_of("b/two.conf")) == new_["b/two.conf"]);
}

TEST_F(FaultInjection, FilesAndFoldersChangingUnderTheWalk) {
  const struct {
    const char* what;
    const char* when_opened;  // below the root
    const char* action;
    const char* target;   // below the root
    const char* message;  // after the Found line of when_opened, or nothing
  } cases[] = {
      {"file removed before its open", "a/one.conf", "remove", "a/one.conf", "Cannot read file "},
      {"file replaced by a folder", "a/one.conf", "folder", "a/one.conf", "Cannot read file "},
      {"folder removed while walked", "a/deep", "remove", "a", nullptr},
  };
  for (const auto& c : cases) {
    fs::remove_all(steam_);
    lay_out({{"a/one.conf", game_config(100, 3)},
             {"a/deep/three.conf", game_config(100, 4)},
             {"b/two.conf", game_config(100, 5)}});
    const auto result = run(with_shim({{"CONFMEND_WHEN_OPENED", path_of(c.when_opened)},
                                       {"CONFMEND_DO", c.action},
                                       {"CONFMEND_TARGET", path_of(c.target)}}));
    EXPECT_EQ(result.exit_status, 0) << c.what;
    if (c.message != nullptr) {
      EXPECT_NE(result.output.find(found_then(c.when_opened, c.message)), std::string::npos)
          << c.what << ":\n"
          << result.output;
    }
    EXPECT_TRUE(read_file(path_of("b/two.conf")) == new_["b/two.conf"]) << c.what;
    expect_no_damage();
  }
  EXPECT_FALSE(file_exists(path_of("a"))) << "nothing may be created where a folder vanished";
}

TEST_F(FaultInjection, PermissionDenied) {
  const struct {
    const char* what;
    mode_t mode;
    const char* message;
  } cases[] = {
      {"no read permission", 0200, "Cannot read file "},
      {"no write permission", 0444, "Cannot write to file "},
  };
  for (const auto& c : cases) {
    fs::remove_all(steam_);
    lay_out({{"a/locked.conf", game_config(50, 6)}, {"b/open.conf", game_config(50, 7)}});
    open_to_everyone(home_.path());
    ASSERT_EQ(chmod(path_of("a/locked.conf").c_str(), c.mode), 0);
    ChildOptions as_nobody;
    as_nobody.unprivileged = true;
    const auto result = run(as_nobody);
    EXPECT_EQ(result.exit_status, 0) << c.what;
    EXPECT_NE(result.output.find(found_then("a/locked.conf", c.message)), std::string::npos)
        << c.what << ":\n"
        << result.output;
    chmod(path_of("a/locked.conf").c_str(), 0644);
    expect_no_damage({"a/locked.conf"});
  }
}

TEST_F(FaultInjection, InterruptionsAtRandomMoments) {
  lay_out(large_library());
  const Interruptions outcome = interrupt_at_random({SIGINT, SIGTERM, SIGHUP}, 300, native());
  std::printf("%d of %d runs ended by their signal\n", outcome.ended, outcome.runs);
  EXPECT_GT(outcome.ended, outcome.runs / 2) << "the signals should mostly fall within the runs";
}

// SIGKILL cannot be held off, nor can a power cut: the file in hand is replaced by a new one
// in one step, so it is whole either way, and the next run clears what was left behind.
TEST_F(FaultInjection, KilledAtRandomMoments) {
  lay_out(large_library());
  const Interruptions outcome = interrupt_at_random({SIGKILL}, 120, native());
  tally.killed += outcome.runs;
  std::printf("%d of %d runs killed, %d of them with a new file unfinished\n", outcome.ended,
              outcome.runs, outcome.left_behind);
  EXPECT_GT(outcome.left_behind, 0) << "no kill fell while a new file was being written";
  expect_only_users_files_after(native());
}

#ifdef CONFMEND_WINDOWS_PROGRAM
std::string with_crlf_line_ends(const std::string& text) {
  std::string converted;
  for (const char c : text) {
    converted += c == '\n' ? "\r\n" : std::string(1, c);
  }
  return converted;
}

// The same for the Windows program under Wine: killing the process Wine runs it in is what
// ending it in the Task Manager does.
TEST_F(FaultInjection, WindowsProgramKilledAtRandomMoments) {
  lay_out(large_library());
  for (auto& [path, bytes] : new_) {
    bytes = with_crlf_line_ends(bytes);
  }
  const ProgramUnderTest& wine = program_under_test();
  wine.set_steam_path(home_.path(), wine.spelled(steam_));
  const Runner under_wine = [&](ChildOptions options) {
    ++tally.faults;
    return wine.run(home_.path(), work_, options);
  };
  const Interruptions outcome = interrupt_at_random({SIGKILL}, 60, under_wine);
  tally.killed_wine += outcome.runs;
  std::printf("%d of %d runs under Wine killed, %d of them with a new file unfinished\n",
              outcome.ended, outcome.runs, outcome.left_behind);
  expect_only_users_files_after(under_wine);
}
#endif

}  // namespace
