// Faults injected into real runs of the built program: a full disk, read errors, files and
// folders that vanish or change under it, permissions, and interruptions at random moments.
// After each, every ".conf" file must hold exactly its old or exactly its new content.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "tests/child_process.h"
#include "tests/confmend_fixture.h"
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

// Many files of about 100 KB in many folders: many in hand at once when the signal comes.
Contents wide_library() {
  Contents files;
  for (unsigned i = 0; i < 120; ++i) {
    files["game" + std::to_string(i % 40) + "/part" + std::to_string(i / 40) + ".conf"] =
        game_config(4000, 100 + i);
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

  ChildResult run_with_arguments(const std::vector<std::string>& arguments, ChildOptions options) {
    ++tally.faults;
    options.working_folder = work_;
    options.environment.insert({"HOME", home_.path()});
    std::vector<std::string> command = {CONFMEND_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_program(command, options);
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
  // undisturbed one; after each, every file must hold its old or its new content. Every other
  // run reads folders ahead from its first one, so that signals fall while threads read ahead.
  Interruptions interrupt_at_random(const std::vector<int>& signals, int runs,
                                    const Runner& run_once) {
    // The shortest of three whole runs: on a busy machine one run can take several times as
    // long as the next, and signals timed by it would mostly come after the runs had ended.
    auto span = std::chrono::microseconds::max();
    for (int timing = 0; timing < 3; ++timing) {
      write_tree(steam_, old_);
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(run_once({}).exit_status, 0);
      --tally.faults;  // that run had none
      span = std::min(span, std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start));
    }
    std::mt19937 random(20261208);
    Interruptions outcome;
    for (outcome.runs = 0; outcome.runs < runs; ++outcome.runs) {
      write_tree(steam_, old_);
      const int signal_number = signals[static_cast<std::size_t>(outcome.runs) % signals.size()];
      ChildOptions interrupted;
      interrupted.interrupt_signal = signal_number;
      interrupted.interrupt_after = std::chrono::microseconds(random() % (span.count() + 1));
      interrupted.standard_input = "x";  // for the pause, should the signal come after it
      if (outcome.runs % 2 == 1) {
        interrupted.environment["CONFMEND_READ_AHEAD_THREADS"] = "8";
      }
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
    // A run killed while it kept a file's old file by a link into the undo store left the
    // file a second name there; the next run gives the store's copy a file of its own first.
    for (const auto& [path, bytes] : files) {
      struct stat info {};
      EXPECT_EQ(lstat((steam_ + "/" + path).c_str(), &info), 0) << path;
      EXPECT_EQ(info.st_nlink, 1u) << path << " still shares its bytes with another name";
    }
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
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find(found_then("big/game.conf", "Cannot write to file ") +
                               "  No space left on device\n"),
            std::string::npos)
      << result.output;
  expect_no_damage({"big/game.conf"});
  EXPECT_TRUE(read_file(path_of("small/game.conf")) == new_["small/game.conf"]);
}

TEST_F(FaultInjection, ReadErrorLeavesTheFileAlone) {
  lay_out({{"a/one.conf", game_config(200, 1)}, {"b/two.conf", game_config(200, 2)}});
  const auto result = run(with_shim({{"CONFMEND_FAIL_READ", path_of("a/one.conf")}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(
      result.output.find(found_then("a/one.conf", "Cannot read file ") + "  Input/output error\n"),
      std::string::npos)
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
    const char* reason;   // the line after it
  } cases[] = {
      {"file removed before its open", "a/one.conf", "remove", "a/one.conf", "Cannot read file ",
       "  No such file or directory\n"},
      {"file replaced by a folder", "a/one.conf", "folder", "a/one.conf", "Cannot read file ",
       "  Is a directory\n"},
      {"folder removed while walked", "a/deep", "remove", "a", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    fs::remove_all(steam_);
    lay_out({{"a/one.conf", game_config(100, 3)},
             {"a/deep/three.conf", game_config(100, 4)},
             {"b/two.conf", game_config(100, 5)}});
    const auto result = run(with_shim({{"CONFMEND_WHEN_OPENED", path_of(c.when_opened)},
                                       {"CONFMEND_DO", c.action},
                                       {"CONFMEND_TARGET", path_of(c.target)}}));
    EXPECT_EQ(result.exit_status, 1) << c.what << " leaves a/one.conf unmended";
    if (c.message != nullptr) {
      EXPECT_NE(result.output.find(found_then(c.when_opened, c.message) + c.reason),
                std::string::npos)
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
    const char* reason;
  } cases[] = {
      {"no read permission", 0200, "Cannot read file ", "  Permission denied\n"},
      {"no write permission", 0444, "Cannot write to file ",
       "  Permission denied (the file is read-only, or not yours to change)\n"},
  };
  for (const auto& c : cases) {
    fs::remove_all(steam_);
    lay_out({{"a/locked.conf", game_config(50, 6)}, {"b/open.conf", game_config(50, 7)}});
    // Left open to everyone, the last case's undo store would be refused.
    fs::remove_all(home_ / ".local/state/confmend");
    open_to_everyone(home_.path());
    ASSERT_EQ(chmod(path_of("a/locked.conf").c_str(), c.mode), 0);
    ChildOptions as_nobody;
    as_nobody.unprivileged = true;
    const auto result = run(as_nobody);
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_NE(result.output.find(found_then("a/locked.conf", c.message) + c.reason),
              std::string::npos)
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
  tally.killed += outcome.ended;
  std::printf("%d of %d runs killed, %d of them with a new file unfinished\n", outcome.ended,
              outcome.runs, outcome.left_behind);
  EXPECT_GT(outcome.left_behind, 0) << "no kill fell while a new file was being written";
  expect_only_users_files_after(native());
}

// A run killed at any moment can be taken back for what it did, and so can an undo killed at
// any moment: the next undo gives every file its old bytes, and the store stays readable.
TEST_F(FaultInjection, KilledRunsAndUndosAreTakenBackExactly) {
  lay_out(large_library());
  const std::string store = home_ / ".local/state/confmend";
  // An undo is quicker than a run, so each is killed within its own span.
  const auto span_of = [](auto&& act) {
    const auto start = std::chrono::steady_clock::now();
    act();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  };
  const auto run_span = span_of([&] { EXPECT_EQ(run({}).exit_status, 0); });
  const auto undo_span =
      span_of([&] { EXPECT_EQ(run_with_arguments({"--undo"}, {}).exit_status, 0); });
  std::mt19937 random(20261209);
  int killed_runs = 0, killed_undos = 0;
  for (int round = 0; round < 40; ++round) {
    std::filesystem::remove_all(store);
    write_tree(steam_, old_);
    const bool kill_the_undo = round % 2 == 1;
    ChildOptions killed;
    killed.interrupt_signal = SIGKILL;
    const auto span = kill_the_undo ? undo_span : run_span;
    killed.interrupt_after = std::chrono::microseconds(random() % (span.count() + 1));
    killed.standard_input = "x";
    if (kill_the_undo) {
      ASSERT_EQ(run({}).exit_status, 0);
      killed_undos += run_with_arguments({"--undo"}, killed).exit_status == 128 + SIGKILL;
    } else {
      killed_runs += run(killed).exit_status == 128 + SIGKILL;
    }
    ++tally.faults;
    expect_no_damage();
    const auto undone = run_with_arguments({"--undo"}, {});
    EXPECT_EQ(undone.exit_status, 0) << undone.output;
    for (const auto& [path, bytes] : old_) {
      ++tally.files;
      const bool given_back = read_file(steam_ + "/" + path) == bytes;
      tally.damaged += given_back ? 0 : 1;
      EXPECT_TRUE(given_back) << path << " after round " << round << ":\n" << undone.output;
    }
    // What a killed undo was writing is removed by the next.
    if (kill_the_undo) {
      EXPECT_EQ(every_file(steam_).size(), old_.size()) << "after round " << round;
    }
  }
  tally.killed += killed_runs + killed_undos;
  std::printf("%d runs and %d undos killed, every file given back after each\n", killed_runs,
              killed_undos);
  EXPECT_GT(killed_runs, 10) << "the kills should mostly fall within the runs";
  EXPECT_GT(killed_undos, 10) << "the kills should mostly fall within the undos";
}

// With many files in hand at once, an interruption lets each of them finish whole and starts
// no other.
TEST_F(FaultInjection, InterruptionsWithManyFilesInHand) {
  lay_out(wide_library());
  const Interruptions outcome = interrupt_at_random({SIGINT, SIGTERM}, 60, native());
  std::printf("%d of %d runs over many files ended by their signal\n", outcome.ended, outcome.runs);
  EXPECT_GT(outcome.ended, outcome.runs / 2) << "the signals should mostly fall within the runs";
  const Interruptions killed = interrupt_at_random({SIGKILL}, 40, native());
  tally.killed += killed.ended;
  EXPECT_GT(killed.ended, killed.runs / 2) << "the kills should mostly fall within the runs";
  expect_only_users_files_after(native());
}

// Another program writes a file while it is mended (Steam updating a game, an editor saving
// it): what it wrote is mended too, never lost; a file it keeps writing is left to it.
TEST_F(FaultInjection, AnotherProgramWritingAFileLosesNothing) {
  const std::string file = "game/dosbox.conf";
  lay_out({{file, "fullscreen = false\n"}, {"other/dosbox.conf", " cycles = 1 \n"}});
  auto result = run(with_shim({{"CONFMEND_APPEND_ON_READ", path_of(file)}}));
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(read_file(path_of(file)), "fullscreen=true\nappended=1\n");
  EXPECT_EQ(result.output.find("Left unchanged"), std::string::npos) << result.output;

  write_tree(steam_, old_);
  result = run(with_shim({{"CONFMEND_APPEND_ON_READ", path_of(file)}, {"CONFMEND_APPENDS", "9"}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(
      result.output.find(found_then(file, "Left unchanged, another program kept changing it: ")),
      std::string::npos)
      << result.output;
  EXPECT_EQ(read_file(path_of(file)), "fullscreen = false\nappended=1\nappended=2\nappended=3\n");
  EXPECT_EQ(read_file(path_of("other/dosbox.conf")), "cycles=max\n");

  // A change that keeps the size and puts the time back (rsync --inplace -t, touch -r).
  write_tree(steam_, old_);
  result = run(with_shim({{"CONFMEND_SAME_SIZE_ON_READ", path_of(file)}}));
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(read_file(path_of(file)), "#ullscreen = false\n");
  EXPECT_EQ(result.output.find("Left unchanged"), std::string::npos) << result.output;
}

// The reader of the output goes away (`confmend | head -1`, `less` left with q) while large
// files are written in place, slowly: those in hand are finished, none is started, nothing is
// left behind, and the next run mends the rest.
TEST_F(FaultInjection, AClosedPipeCutsNoFileShort) {
  Contents files;  // more than are ever in hand at once
  for (unsigned i = 0; i < 300; ++i) {
    files["game" + std::to_string(i % 30) + "/f" + std::to_string(i) + ".conf"] =
        game_config(800, 40 + i);
  }
  lay_out(files);
  for (const auto& [path, bytes] : files) {
    ASSERT_EQ(link(path_of(path).c_str(), (path_of(path) + " second name").c_str()), 0);
  }
  ChildOptions options = with_shim({{"CONFMEND_SLOW_WRITE", "40"}, {"PATH", "/usr/bin:/bin"}});
  options.working_folder = work_;
  options.environment["HOME"] = home_.path();
  ++tally.faults;
  const auto result =
      run_program({"/bin/sh", "-c", "\"$0\" </dev/null | head -c 1", CONFMEND_PROGRAM}, options);
  EXPECT_EQ(result.output, "/");
  EXPECT_EQ(result.exit_status, 0) << "head's status";
  expect_no_damage();
  EXPECT_TRUE(snapshot(steam_) != new_) << "the run went on after its reader had gone";
  EXPECT_EQ(run().exit_status, 0);
  EXPECT_TRUE(snapshot(steam_) == new_);
  EXPECT_EQ(every_file(steam_).size(), 2 * files.size()) << "something was left behind";
}

// A folder moved away and replaced by a link to outside during the run: once its parent has
// been listed, the link leads nowhere; once the folder itself has been, its files are mended
// where they went, and nothing is written through the link.
TEST_F(FaultInjection, AFolderSwappedForALinkLeadsNowhere) {
  const struct {
    const char* what;
    const char* listed;  // below the root
    const char* mended;  // where game/dosbox.conf is mended, if it is
  } cases[] = {
      {"swapped after its parent was listed", "", nullptr},
      {"swapped after it was listed", "game", "game.moved/dosbox.conf"},
  };
  // And again with folders read ahead, which must not lead there either.
  for (const std::string reading_ahead : {"", "8"}) {
    for (const auto& c : cases) {
      fs::remove_all(steam_);
      TempDir outside;
      write_file(outside / "dosbox.conf", "fullscreen = false\n");
      lay_out(
          {{"game/dosbox.conf", "fullscreen = false\n"}, {"other/dosbox.conf", " cycles = 1 \n"}});
      const std::string listed = *c.listed == '\0' ? steam_ : path_of(c.listed);
      ChildOptions options = with_shim({{"CONFMEND_WHEN_LISTED", listed},
                                        {"CONFMEND_DO", "swap"},
                                        {"CONFMEND_TARGET", path_of("game")},
                                        {"CONFMEND_LINK_TO", outside.path()}});
      if (!reading_ahead.empty()) {
        options.environment["CONFMEND_READ_AHEAD_THREADS"] = reading_ahead;
      }
      const auto result = run(options);
      EXPECT_EQ(result.exit_status, 0) << c.what;
      EXPECT_EQ(read_file(outside / "dosbox.conf"), "fullscreen = false\n") << c.what;
      if (c.mended != nullptr) {
        EXPECT_EQ(read_file(path_of(c.mended)), "fullscreen=true\n") << c.what;
      } else {
        EXPECT_EQ(result.output.find("game/dosbox.conf"), std::string::npos) << result.output;
      }
      EXPECT_EQ(read_file(path_of("other/dosbox.conf")), "cycles=max\n") << c.what;
    }
  }
}

// Links to files in a folder below them: the walk lists that folder while those files are
// written there through the links, slowly, and must not take their temporary files for
// leftovers of an earlier run.
TEST_F(FaultInjection, WritesThroughLinksIntoFoldersNotYetWalked) {
  Contents files;
  for (unsigned i = 0; i < 60; ++i) {
    files["game" + std::to_string(i % 3) + "/data/f" + std::to_string(i) + ".conf"] =
        game_config(100, 200 + i);
  }
  lay_out(files);
  for (const auto& [path, bytes] : files) {
    const std::string name = fs::path(path).filename().string();
    const std::string game = fs::path(path).parent_path().parent_path().string();
    ASSERT_EQ(symlink(("data/" + name).c_str(), path_of(game + "/link_" + name).c_str()), 0);
  }
  const auto result = run(with_shim({{"CONFMEND_SLOW_CREATE", "20"}}));
  EXPECT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(result.output.find("Cannot"), std::string::npos) << result.output;
  expect_no_damage();
  EXPECT_TRUE(snapshot(steam_) != old_);
  for (const auto& [path, bytes] : files) {
    EXPECT_TRUE(read_file(path_of(path)) == new_[path]) << path;
  }
}

// A folder moved out of the Steam folder once it has been listed: its files are not written
// where it now lies.
TEST_F(FaultInjection, AFolderMovedOutOfTheTreeIsLeft) {
  lay_out({{"game/dosbox.conf", "fullscreen = false\n"}, {"other/dosbox.conf", " cycles = 1 \n"}});
  TempDir outside;
  const auto result = run(with_shim({{"CONFMEND_WHEN_LISTED", path_of("game")},
                                     {"CONFMEND_DO", "away"},
                                     {"CONFMEND_TARGET", path_of("game")},
                                     {"CONFMEND_LINK_TO", outside / "game"}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(read_file(outside / "game/dosbox.conf"), "fullscreen = false\n");
  EXPECT_NE(result.output.find(found_then("game/dosbox.conf",
                                          "Left unchanged, its folder was moved during the run: ")),
            std::string::npos)
      << result.output;
  EXPECT_EQ(read_file(path_of("other/dosbox.conf")), "cycles=max\n");
}

// A full disk under a file written in place, on the write and on putting the old bytes back:
// the run says the file may be damaged, and goes on.
// A run killed just before it replaces a large file, its old file linked into the undo store
// already: the next run gives the store's copy a file of its own, replaces the file by a new
// one rather than writing it in place, and the undos give every file its first bytes.
TEST_F(FaultInjection, ARunKilledWithAnOldFileLinkedLeavesItWhole) {
  lay_out(large_library());
  const std::string victim = path_of("game1/dosbox.conf");
  const auto killed = run(with_shim({{"CONFMEND_KILL_ON_RENAME", victim}}));
  ASSERT_EQ(killed.exit_status, 128 + SIGKILL) << killed.output;
  struct stat info {};
  ASSERT_EQ(lstat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_nlink, 2u) << "the old file is kept by a link";
  ASSERT_EQ(run({}).exit_status, 0);
  ASSERT_EQ(lstat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_nlink, 1u);
  expect_no_damage();
  for (const auto& [path, bytes] : new_) {
    EXPECT_TRUE(read_file(steam_ + "/" + path) == bytes) << path;
  }
  EXPECT_EQ(run_with_arguments({"--undo"}, {}).exit_status, 0);
  EXPECT_EQ(run_with_arguments({"--undo"}, {}).exit_status, 0);
  for (const auto& [path, bytes] : old_) {
    EXPECT_TRUE(read_file(steam_ + "/" + path) == bytes) << path;
  }
}

TEST_F(FaultInjection, SaysSoWhenAnInPlaceWriteCannotBeUndone) {
  lay_out({{"a/hard.conf", game_config(50, 8)}, {"b/two.conf", game_config(50, 9)}});
  ASSERT_EQ(link(path_of("a/hard.conf").c_str(), path_of("a/hard name").c_str()), 0);
  const auto result = run(with_shim({{"CONFMEND_FAIL_WRITE", path_of("a/hard.conf")}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find(found_then("a/hard.conf", "Cannot write to file ") +
                               "The old content could not be put back, the file may be damaged: " +
                               path_of("a/hard.conf") + "\n"),
            std::string::npos)
      << result.output;
  EXPECT_TRUE(read_file(path_of("b/two.conf")) == new_["b/two.conf"]);
}

// A disk that is full, under files written in place whose new text is longer: each is given
// its old bytes back exactly, whatever the other threads write meanwhile, and none is damaged.
TEST_F(FaultInjection, AFullDiskUnderFilesWrittenInPlaceDamagesNone) {
  write_file(work_ + "/dosbox.conf", "fullscreen=" + std::string(500, 'x') + "\n");
  Contents files;
  for (unsigned i = 0; i < 40; ++i) {
    files["g" + std::to_string(i % 8) + "/f" + std::to_string(i) + ".conf"] =
        "fullscreen=false\n" + game_config(200, i);
  }
  lay_out(files);
  for (const auto& [path, bytes] : files) {
    ASSERT_EQ(link(path_of(path).c_str(), (path_of(path) + ".link").c_str()), 0);
  }
  const auto result = run(with_shim({{"CONFMEND_FULL_DISK", steam_}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(count_of("Cannot write to file ", result.output), files.size()) << result.output;
  EXPECT_EQ(count_of("\n  No space left on device\n", result.output), files.size());
  EXPECT_NE(result.output.find("\n40 files were left unmended; the reason is under each.\n"),
            std::string::npos);
  EXPECT_EQ(result.output.find("damaged"), std::string::npos) << result.output;
  expect_no_damage();
  EXPECT_TRUE(snapshot(steam_) == old_);
  // The undo store on the same full disk: no copy, so no file is touched at all.
  std::filesystem::remove_all(home_ / ".local");
  const auto no_copy = run(with_shim({{"CONFMEND_FULL_DISK", "1"}}));
  EXPECT_EQ(no_copy.exit_status, 1);
  EXPECT_EQ(count_of("Left unchanged, no copy could be kept to undo it: ", no_copy.output),
            files.size())
      << no_copy.output;
  EXPECT_EQ(count_of("\n  No space left on device\n", no_copy.output), files.size());
  EXPECT_TRUE(snapshot(steam_) == old_);
}

// A file larger than the memory the process may have is left as it is, and the run goes on;
// one that holds NUL is known by its first piece, however large it is.
TEST_F(FaultInjection, AFileLargerThanMemoryIsLeftAlone) {
  lay_out({{"a/game.conf", game_config(50, 10)}});
  { std::ofstream sparse(path_of("a/sparse.conf"), std::ios::binary); }
  ASSERT_EQ(truncate(path_of("a/sparse.conf").c_str(), 4ll << 30), 0);
  {
    std::ofstream huge(path_of("a/huge.conf"), std::ios::binary);
    const std::string piece(1 << 20, 'x');
    for (int megabyte = 0; megabyte < 600; ++megabyte) {
      huge << piece;
    }
  }
  ChildOptions limited;
  limited.address_space_limit = 512l << 20;
  const auto result = run(limited);
  EXPECT_EQ(result.exit_status, 1) << result.errors;
  EXPECT_NE(result.output.find(found_then("a/huge.conf", "Not enough memory, left unchanged: ")),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find(found_then("a/sparse.conf", "Left unchanged, it holds NUL bytes: ")),
            std::string::npos)
      << result.output;
  struct stat sparse;
  ASSERT_EQ(stat(path_of("a/sparse.conf").c_str(), &sparse), 0);
  EXPECT_EQ(sparse.st_size, 4ll << 30);
  EXPECT_EQ(sparse.st_blocks, 0) << "nothing was written to it";
  EXPECT_EQ(fs::file_size(path_of("a/huge.conf")), 600u << 20);
  EXPECT_TRUE(read_file(path_of("a/game.conf")) == new_["a/game.conf"]);
  unlink(path_of("a/sparse.conf").c_str());
  unlink(path_of("a/huge.conf").c_str());
}

// A dry run over a file that fits in memory while its diff does not says so, and goes on.
TEST_F(FaultInjection, ADiffLargerThanMemoryIsSaidAndTheDryRunGoesOn) {
  lay_out({{"a/game.conf", game_config(50, 10)}});
  {
    std::ofstream many_lines(path_of("a/lines.conf"), std::ios::binary);
    for (int line = 0; line < 3000000; ++line) {
      many_lines << "fullscreen=" << line << "\n";
    }
  }
  ChildOptions limited;
  limited.address_space_limit = 512l << 20;
  // Looking for what DOSBox files lack, and adding it, holds no more of a file than its text.
  for (const auto& arguments :
       {std::vector<std::string>{"--dry-run"}, {"--dry-run", "--add-missing"}}) {
    const auto result = run_with_arguments(arguments, limited);
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    EXPECT_NE(result.output.find(found_then("a/lines.conf", "Not enough memory, left unchanged: ")),
              std::string::npos)
        << result.output.substr(0, 2000);
    EXPECT_NE(result.output.find("+++ " + path_of("a/game.conf")), std::string::npos);
    EXPECT_NE(result.output.find("2 of 2 files would change."), std::string::npos);
  }
  unlink(path_of("a/lines.conf").c_str());
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
  ASSERT_NO_FATAL_FAILURE(wine.set_steam_path(home_.path(), wine.spelled(steam_)));
  const Runner under_wine = [&](ChildOptions options) {
    ++tally.faults;
    return wine.run(home_.path(), work_, options);
  };
  const Interruptions outcome = interrupt_at_random({SIGKILL}, 60, under_wine);
  tally.killed_wine += outcome.ended;
  std::printf("%d of %d runs under Wine killed, %d of them with a new file unfinished\n",
              outcome.ended, outcome.runs, outcome.left_behind);
  expect_only_users_files_after(under_wine);
}
#endif

}  // namespace
