// Faults injected into real runs of the built program: a full disk, read errors, files and
// folders that vanish or change under it, permissions, and interruptions at random moments.
// After each, every ".conf" file must hold exactly its old or exactly its new content.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "tests/child_process.h"
#include "tests/steam_registry.h"

namespace fs = std::filesystem;

namespace {

using Contents = std::map<std::string, std::string>;  // path below the root -> bytes

struct Tally {
  int faults = 0;
  int files = 0;
  int damaged = 0;
} tally;

class SummaryLine : public testing::Environment {
 public:
  void TearDown() override {
    std::printf("fault injection: %d faults injected, %d files checked, %d files damaged\n",
                tally.faults, tally.files, tally.damaged);
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

Contents snapshot(const std::string& root) {
  Contents contents;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() == ".conf") {
      contents[fs::relative(it->path(), root).string()] = read_file(it->path().string());
    }
  }
  return contents;
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
  make_folders(steam_);
  if (!running_as_root() || mount("tmpfs", steam_.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
    GTEST_SKIP() << "SKIPPED: a small tmpfs cannot be mounted here (needs root)";
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
  Contents files;
  for (unsigned i = 0; i < 4; ++i) {
    files["game" + std::to_string(i) + "/dosbox.conf"] = game_config(60000, 10 + i);
  }
  lay_out(files);
  // How long an undisturbed run takes, so that signals fall all over it.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run().exit_status, 0);
  --tally.faults;  // that run had none
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);

  std::mt19937 random(20261208);
  int ended_by_signal = 0;
  const int kRuns = 300;
  for (int attempt = 0; attempt < kRuns; ++attempt) {
    write_tree(steam_, old_);
    const int signal_number = std::vector<int>{SIGINT, SIGTERM, SIGHUP}[attempt % 3];
    ChildOptions interrupted;
    interrupted.interrupt_signal = signal_number;
    interrupted.interrupt_after = std::chrono::microseconds(random() % (span.count() + 1));
    const int status = run(interrupted).exit_status;
    ended_by_signal += status == 128 + signal_number ? 1 : 0;
    EXPECT_TRUE(status == 0 || status == 128 + signal_number)
        << "signal " << signal_number << " gave status " << status;
    expect_no_damage();
  }
  std::printf("%d of %d runs ended by their signal\n", ended_by_signal, kRuns);
  EXPECT_GT(ended_by_signal, kRuns / 2) << "the signals should mostly fall within the runs";
}

}  // namespace
