// Taking runs back as users meet it: beside a run that goes on, after files that could not be
// given back at once, with the clock set back, and with a store that is not the user's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>

#include "tests/confmend_fixture.h"

namespace fs = std::filesystem;

namespace {

class Undo : public Confmend {
 protected:
  void SetUp() override {
    Confmend::SetUp();
    point_registry_at(steam_);
  }

  std::string store() const { return home_ / ".local/state/confmend"; }

  // The store's entries, oldest first by their numbers.
  std::vector<std::string> entries() const {
    std::map<unsigned long, std::string> numbered;
    if (fs::is_directory(store())) {
      for (const auto& entry : fs::directory_iterator(store())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("run-")) {
          numbered[std::stoul(name.substr(4))] = name;
        }
      }
    }
    std::vector<std::string> names;
    for (const auto& [number, name] : numbered) {
      names.push_back(name);
    }
    return names;
  }

  // `count` games, each with one file, its bytes by its number.
  std::map<std::string, std::string> lay_out_games(int count, const std::string& folder) {
    std::map<std::string, std::string> files;
    for (int game = 0; game < count; ++game) {
      const std::string path = folder + "/game" + std::to_string(game) + "/dosbox.conf";
      make_folders(path.substr(0, path.rfind('/')));
      files[path] = "[sdl]\r\nfullscreen = " + std::to_string(game) + " \r\n";
      write_file(path, files[path]);
    }
    return files;
  }

  void expect_bytes(const std::map<std::string, std::string>& files) {
    std::size_t wrong = 0;
    for (const auto& [path, bytes] : files) {
      wrong += read_file(path) != bytes;
    }
    EXPECT_EQ(wrong, 0u) << "of " << files.size() << " files";
  }

  ChildResult run_shell(const std::string& script) {
    ChildOptions options;
    options.working_folder = work_;
    options.environment = {{"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}};
    options.time_limit = std::chrono::seconds(120);
    return run_program({"/bin/sh", "-c", script, CONFMEND_PROGRAM}, options);
  }
};

// An undo started while a run still writes waits for the run to end, then takes back every
// file it changed, not only those it had kept when the undo began.
TEST_F(Undo, AnUndoDuringARunTakesBackEveryFile) {
  const auto files = lay_out_games(3000, steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const auto result = run_shell(
      "\"$0\" </dev/null >run 2>&1 & "
      "until ls \"$HOME\"/.local/state/confmend/run-*/journal-1 >/dev/null 2>&1; do sleep 0.01; "
      "done; "
      "\"$0\" --undo </dev/null >undo 2>&1; echo $? >status; wait");
  ASSERT_EQ(result.exit_status, 0) << result.output;
  const std::string undo = read_file(work_ + "/undo");
  EXPECT_EQ(read_file(work_ + "/status"), "0\n") << undo;
  ASSERT_EQ(entries().size(), 1u);
  EXPECT_TRUE(undo.starts_with("Waiting for " + run_of_entry(entries()[0]) + " to finish\n"))
      << undo;
  EXPECT_EQ(count_of("Restored: ", undo), 3000u);
  EXPECT_TRUE(undo.ends_with(lines({"3000 of 3000 files were restored."}) + prompt())) << undo;
  expect_bytes(files);
  EXPECT_EQ(run_with({"--undo"}).output, lines({"Nothing to undo."}) + prompt());
}

// An undo started while a run waits for its turn waits for that run, the newest whatever its
// number, and takes it back once it has ended.
TEST_F(Undo, AnUndoWaitsForARunThatWaitsForItsTurn) {
  const auto files = lay_out_games(3, steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  // Another run's turn, held as a run holds it: a lock on the folder itself.
  const auto result = run_shell(
      "flock \"$HOME/Steam\" -c 'touch held; until [ -f go ]; do sleep 0.01; done' & "
      "until [ -f held ]; do sleep 0.01; done; "
      "\"$0\" </dev/null >run 2>&1 & "
      "until grep -q Waiting run; do sleep 0.01; done; "
      "\"$0\" --undo </dev/null >undo 2>&1 & "
      "until grep -q Waiting undo; do sleep 0.01; done; touch go; wait");
  ASSERT_EQ(result.exit_status, 0) << result.output;
  const std::string undo = read_file(work_ + "/undo");
  ASSERT_EQ(entries().size(), 1u);
  EXPECT_TRUE(undo.starts_with("Waiting for " + run_of_entry(entries()[0]) + " to finish\n"))
      << undo;
  EXPECT_TRUE(undo.ends_with(lines({"3 of 3 files were restored."}) + prompt())) << undo;
  expect_bytes(files);
}

// Two runs at once, then two undos at once: each undo takes back one run, newest first, and
// every file ends with the bytes it had before either run.
TEST_F(Undo, TwoRunsAndTwoUndosAtOnceGiveEveryFileItsFirstBytes) {
  const auto files = lay_out_games(300, steam_);
  write_file(work_ + "/one.conf", "fullscreen=true\n");
  const auto result = run_shell(
      "mkdir a b; cp one.conf a/dosbox.conf; echo fullscreen=false >b/dosbox.conf; "
      "(cd a && \"$0\" </dev/null >../run-a 2>&1) & (cd b && \"$0\" </dev/null >../run-b 2>&1) & "
      "wait; "
      "\"$0\" --undo </dev/null >undo-a 2>&1 & \"$0\" --undo </dev/null >undo-b 2>&1 & wait");
  ASSERT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(entries().size(), 2u);
  const std::string undos = read_file(work_ + "/undo-a") + read_file(work_ + "/undo-b");
  EXPECT_EQ(count_of("300 of 300 files were restored.", undos), 2u)
      << undos.substr(undos.size() - std::min<std::size_t>(undos.size(), 2000));
  expect_bytes(files);
  EXPECT_EQ(run_with({"--undo"}).output, lines({"Nothing to undo."}) + prompt());
}

// A file that cannot be written keeps its run open: the undo says so, with status 1, and the
// next one finishes that run before any older one.
TEST_F(Undo, AFileLeftIsGivenBackByTheNextUndoBeforeAnyOlderRun) {
  SKIP_UNLESS_ROOT("making a file immutable");
  const std::string kept = steam_ + "/kept/dosbox.conf", other = steam_ + "/other/dosbox.conf";
  make_folders(steam_ + "/kept");
  make_folders(steam_ + "/other");
  write_file(kept, "fullscreen=false\n");
  write_file(other, "cycles=auto\n");
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  ASSERT_EQ(run().exit_status, 0);  // changes `other` alone
  write_file(work_ + "/dosbox.conf", "fullscreen=true\ncycles=fixed 3000\n");
  ASSERT_EQ(run().exit_status, 0);
  const std::string newest = entries().back();
  ASSERT_EQ(std::system(("chattr +i '" + kept + "'").c_str()), 0);
  const auto left = run_with({"--undo"});
  ASSERT_EQ(std::system(("chattr -i '" + kept + "'").c_str()), 0);
  EXPECT_EQ(left.exit_status, 1);
  EXPECT_EQ(left.output, lines({"Cannot write to file " + kept, "  Operation not permitted",
                                "Restored: " + other, "1 of 2 files was restored.",
                                "The run stays open: the next confmend --undo finishes it, or "
                                "confmend --undo --skip passes it over."}) +
                             prompt());
  EXPECT_EQ(read_file(other), "cycles=max\n") << "the newer run's change alone is taken back";

  const auto finished = run_with({"--undo"});
  EXPECT_EQ(finished.exit_status, 0);
  EXPECT_EQ(finished.output,
            lines({"Finishing " + run_of_entry(newest) + " first: 1 file was left last time.",
                   "Restored: " + kept, "1 of 1 file was restored."}) +
                prompt());
  EXPECT_EQ(read_file(kept), "fullscreen=false\n");
  EXPECT_EQ(read_file(other), "cycles=max\n") << "the run before is not touched";
  const auto older = run_with({"--undo"});
  EXPECT_EQ(older.output, lines({"Restored: " + other, "1 of 1 file was restored."}) + prompt());
  EXPECT_EQ(read_file(other), "cycles=auto\n");
}

// A library that is not there (its card out) is said to be not there, never changed since,
// and is given back once it is there again; a killed undo's temporary files go with it.
TEST_F(Undo, ALibraryNotThereIsSaidAndGivenBackOnceItIs) {
  const std::string library = home_ / "card/SteamLibrary";
  const auto files = lay_out_games(2, library + "/steamapps/common");
  make_folders(steam_ + "/steamapps");
  write_file(steam_ + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\" { \"1\" { \"path\" \"" + library + "\" } }");
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  ASSERT_EQ(run().exit_status, 0);
  fs::rename(home_ / "card", home_ / "card out");
  const auto out = run_with({"--undo"});
  EXPECT_EQ(out.exit_status, 1);
  const std::string game = library + "/steamapps/common/game";
  EXPECT_EQ(out.output,
            lines({"Not there now (a drive or card that is out?): " + game + "0/dosbox.conf",
                   "Not there now (a drive or card that is out?): " + game + "1/dosbox.conf",
                   "0 of 2 files were restored.",
                   "The run stays open: the next confmend --undo finishes it, or confmend "
                   "--undo --skip passes it over."}) +
                prompt());
  fs::rename(home_ / "card out", home_ / "card");
  const std::string leftover = game + "0/.confmend-0123456789abcdef.tmp";
  write_file(leftover, "what an undo killed while writing left");
  const auto back = run_with({"--undo"});
  EXPECT_EQ(back.exit_status, 0);
  EXPECT_EQ(
      back.output,
      lines({"Finishing " + run_of_entry(entries().back()) + " first: 2 files were left last time.",
             "Restored: " + game + "0/dosbox.conf", "Restored: " + game + "1/dosbox.conf",
             "2 of 2 files were restored."}) +
          prompt());
  expect_bytes(files);
  EXPECT_FALSE(fs::exists(leftover));
}

// Runs are taken back in the order they were made, whatever the clock said when they were.
TEST_F(Undo, ARunMadeWithTheClockSetBackIsTakenBackFirst) {
  if (access("/usr/bin/faketime", X_OK) != 0) {
    if (running_under_ci()) {
      FAIL() << "faketime is missing, and CI may skip nothing";
    }
    GTEST_SKIP() << "SKIPPED: the clock set back (faketime is missing)";
  }
  const std::string game = steam_ + "/game.conf";
  write_file(game, "cycles=auto\n");
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  ASSERT_EQ(run().exit_status, 0);
  write_file(work_ + "/dosbox.conf", "cycles=fixed 3000\n");
  // The address sanitizer's build wants its runtime first among preloaded libraries; faketime's
  // comes first here, and intercepts nothing the sanitizer does.
  const auto set_back = run_shell(
      "ASAN_OPTIONS=verify_asan_link_order=0 faketime '2001-01-01 10:00:00' \"$0\" </dev/null");
  ASSERT_EQ(set_back.exit_status, 0) << set_back.output;
  const auto undone = run_with({"--undo"});
  EXPECT_EQ(undone.output, lines({"Restored: " + game, "1 of 1 file was restored."}) + prompt());
  EXPECT_EQ(read_file(game), "cycles=max\n");
  ASSERT_EQ(run_with({"--undo"}).exit_status, 0);
  EXPECT_EQ(read_file(game), "cycles=auto\n");
}

// An entry that cannot be read is said, with status 1, and nothing older is taken back until
// --skip passes it over.
TEST_F(Undo, AnEntryThatCannotBeReadIsSaidAndPassedOverOnlyWithSkip) {
  SKIP_UNLESS_ROOT("an entry of root's in another user's store");
  const std::string game = steam_ + "/game.conf";
  write_file(game, "cycles=auto\n");
  open_to_everyone(home_.path());
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  ASSERT_EQ(run(as_nobody).exit_status, 0);
  write_file(work_ + "/dosbox.conf", "cycles=fixed 3000\n");
  ASSERT_EQ(run(as_nobody).exit_status, 0);
  const std::string entry = store() + "/" + entries().back();
  ASSERT_EQ(chown(entry.c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(entry.c_str(), 0700), 0);

  const auto refused = run_with({"--undo"}, as_nobody);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(refused.output,
            lines({"Cannot read the undo record of " + run_of_entry(entries().back()) + ":",
                   "  " + entry + ": Permission denied",
                   "Nothing was changed. To pass that run over and take back the one before it: "
                   "confmend --undo --skip"}) +
                prompt());
  EXPECT_EQ(read_file(game), "cycles=fixed 3000\n");
  const auto skipped = run_with({"--undo", "--skip"}, as_nobody);
  EXPECT_EQ(skipped.exit_status, 1);
  EXPECT_EQ(skipped.output,
            lines({"Passed over " + run_of_entry(entries().back()) +
                       "; its copies stay in the undo store until it ages out.",
                   "Left as it is, changed since the run: " + game, "0 of 1 file was restored.",
                   "1 file was left as it is; its copy stays in the undo store."}) +
                prompt());
  EXPECT_EQ(read_file(game), "cycles=fixed 3000\n") << "it no longer holds what that run wrote";
}

// A store that another user could have written to is refused: a run changes no file, an undo
// gives nothing back, and both say which store and why, with status 1.
TEST_F(Undo, AStoreAnotherUserControlsIsRefused) {
  SKIP_UNLESS_ROOT("giving the store to another user");
  const std::string game = steam_ + "/game.conf";
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  write_file(game, "cycles=auto\n");
  ASSERT_EQ(run().exit_status, 0);
  write_file(game, "cycles=auto\n");
  const uid_t nobody = 65534;
  const std::string elsewhere = home_ / "shared";
  make_folders(elsewhere + "/confmend");
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string store;  // as XDG_STATE_HOME leads to it, "" for the usual one
    std::string reason;
  } cases[] = {
      {"another user's", [&] { ASSERT_EQ(chown(store().c_str(), nobody, nobody), 0); }, "",
       store() + " belongs to user 65534, not to you"},
      {"writable by others", [&] { ASSERT_EQ(chmod(store().c_str(), 0777), 0); }, "",
       "other users may write to " + store() + " (it belongs to root)"},
      {"through another user's link",
       [&] {
         ASSERT_EQ(symlink(elsewhere.c_str(), (home_ / "link").c_str()), 0);
         ASSERT_EQ(lchown((home_ / "link").c_str(), nobody, nobody), 0);
       },
       home_ / "link", home_ / "link" + " belongs to user 65534, not to you"},
  };
  for (const Case& c : cases) {
    c.make();
    ChildOptions options;
    const std::string shown = c.store.empty() ? store() : c.store + "/confmend";
    if (!c.store.empty()) {
      options.environment = {{"XDG_STATE_HOME", c.store}};
    }
    const auto result = run(options);
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_EQ(result.output, lines({steam_,
                                    "Cannot keep copies to undo this run in " + shown +
                                        ", so no file will be changed:",
                                    "  " + c.reason, "Found: " + game,
                                    "Left unchanged, no copy could be kept to undo it: " + game,
                                    "  The undo store cannot be used, as said above.",
                                    "1 file was left unmended; the reason is under it."}) +
                                 prompt())
        << c.what;
    EXPECT_EQ(read_file(game), "cycles=auto\n") << c.what;
    const auto undo = run_with({"--undo"}, options);
    EXPECT_EQ(undo.exit_status, 1) << c.what;
    EXPECT_EQ(undo.output,
              lines({"Cannot use the undo store " + shown + ":", "  " + c.reason}) + prompt())
        << c.what;
    ASSERT_EQ(chown(store().c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(store().c_str(), 0700), 0);
  }
}

}  // namespace
