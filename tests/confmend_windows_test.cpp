// What only the Windows program must show: it travels alone, as a user downloads it, and
// Ctrl+C waits until the file being written is whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "tests/child_process.h"
#include "tests/confmend_fixture.h"

namespace {

// What Wine says for ERROR_SHARING_VIOLATION (Windows: "The process cannot access the file
// because it is being used by another process.").
const std::string kSharingViolation = "Sharing violation.";

// The DLLs the program imports, as the PE header names them.
std::set<std::string> imported_dlls() {
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}};
  const auto result =
      run_program({"x86_64-w64-mingw32-objdump", "-p", CONFMEND_WINDOWS_PROGRAM}, options);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  std::set<std::string> dlls;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("DLL Name: ");
    if (at != std::string::npos) {
      dlls.insert(line.substr(at + 10));
    }
  }
  return dlls;
}

// The numbers that console_code_page printed, in order, from what a terminal showed: Wine's
// console draws each character with control sequences around it, and blanks as moves.
std::string code_pages_shown(const std::string& shown) {
  std::string plain;
  for (std::size_t at = 0; at < shown.size(); ++at) {
    if (shown[at] == '\x1b' && at + 1 < shown.size() && shown[at + 1] == '[') {
      at += 2;
      while (at < shown.size() && shown[at] >= 0x20 && shown[at] <= 0x3F) {
        ++at;
      }
    } else if (shown[at] != ' ') {
      plain += shown[at];
    }
  }
  std::string numbers;
  for (std::size_t at = 0; (at = plain.find("codepage", at)) != std::string::npos;) {
    at += 8;
    const std::size_t end = plain.find_first_not_of("0123456789", at);
    numbers += (numbers.empty() ? "" : " ") + plain.substr(at, end - at);
  }
  return numbers;
}

std::string windows_spelling(const std::string& path) {
  std::string spelled = "Z:" + path;
  std::replace(spelled.begin(), spelled.end(), '/', '\\');
  return spelled;
}

TEST(WindowsProgram, NeedsNoDllBesidesThoseOfWindows) {
  const std::set<std::string> windows = {"KERNEL32.dll", "ADVAPI32.dll", "msvcrt.dll",
                                         "USER32.dll"};
  const auto dlls = imported_dlls();
  EXPECT_FALSE(dlls.empty());
  for (const auto& dll : dlls) {
    EXPECT_TRUE(windows.count(dll) == 1) << dll << " would have to travel with the program";
  }
}

TEST(WindowsProgram, CarriesTheUtf8AndLongPathManifest) {
  const std::string program = read_file(CONFMEND_WINDOWS_PROGRAM);
  for (const char* setting : {"<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/"
                              "WindowsSettings\">UTF-8</activeCodePage>",
                              ">true</longPathAware>"}) {
    EXPECT_NE(program.find(setting), std::string::npos) << setting;
  }
}

// A value already in the extended-length form is used as it stands.
TEST_F(Confmend, TakesAValueInTheExtendedLengthForm) {
  const std::string root = "\\\\?\\Z:" + steam_;
  program().set_steam_path(home_.path(), root);
  write_file(steam_ + "/a.conf", " a = 1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({root, "Found: " + root + "/a.conf"}) + prompt());
  EXPECT_EQ(read_file(steam_ + "/a.conf"), lines({"a = 1"}));
}

// Only text is a folder: a REG_EXPAND_SZ value is expanded, any other type is refused.
TEST_F(Confmend, TakesTheValueByItsType) {
  write_file(steam_ + "/a.conf", "a=1\n");
  set_steam_value_under_wine("REG_DWORD", "1094795585");  // the bytes of "AAAA"
  auto result = run();
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.output,
            lines({"Cannot access the registry value, perhaps Steam is missing?"}) + prompt());

  set_steam_value_under_wine("REG_EXPAND_SZ", "%CONFMEND_GAMES%\\Steam");
  ChildOptions with_variable;
  with_variable.environment = {{"CONFMEND_GAMES", "Z:" + home_.path()}};
  result = run(with_variable);
  EXPECT_EQ(result.exit_status, 0);
  const std::string root = "Z:" + home_.path() + "\\Steam";
  EXPECT_EQ(result.output, lines({root, "Found: " + root + "/a.conf"}) + prompt());
}

// A command interpreter's window goes on after the program: its code page must be as before,
// after a completed run, after the failure exit, and after a run ended by force (the Task
// Manager, taskkill /f) at its pause, which no handler sees.
TEST_F(Confmend, LeavesTheConsoleCodePageAsItFoundIt) {
  write_file(work_ + "/key.txt", "x\r\n");
  const std::string confmend = windows_spelling(CONFMEND_WINDOWS_PROGRAM);
  const struct {
    const char* what;
    bool steam_found;
    std::string run;  // the commands that run the program
  } cases[] = {
      {"completed", true, confmend + " <key.txt"},
      {"failure exit", false, confmend + " <key.txt"},
      {"ended by force", true,
       "start /b " + confmend + " & ping -n 3 127.0.0.1 >nul & taskkill /f /im confmend.exe >nul"},
  };
  for (const auto& c : cases) {
    if (c.steam_found) {
      point_registry_at(steam_);
    } else {
      program().remove_steam_key(home_.path());
    }
    // Wine gives a program a console of its own only on a terminal, which `script` makes.
    const std::string code_page = windows_spelling(CONFMEND_CONSOLE_CODE_PAGE);
    const std::string commands = "chcp 437 >nul & " + code_page + " & " + c.run + " & " + code_page;
    ChildOptions options;
    options.working_folder = work_;
    options.environment = wine_environment(home_.path());
    const auto result = run_under_wine(
        {"script", "-qec", "/usr/lib/wine/wine64 cmd /c '" + commands + "'", "/dev/null"}, options);
    EXPECT_EQ(code_pages_shown(result.output), "437 437") << c.what;
  }
}

// Windows before 10 version 1903 ignores the manifest that makes narrow strings UTF-8: names
// in any script are still found, and a fullwidth letter is not taken for its ASCII twin.
TEST_F(Confmend, FindsEveryNameWithoutTheManifest) {
  point_registry_at(steam_);
  const std::string cyrillic = steam_ + "/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0";  // Игра
  make_folders(cyrillic);
  const std::vector<std::string> files = {cyrillic + "/game.conf", steam_ + "/a.conf",
                                          steam_ + "/\xEF\xBD\x81.conf"};  // ａ.conf
  for (const auto& path : files) {
    write_file(path, " x = 1 \n");
  }
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  const auto result = run_under_wine({"/usr/lib/wine/wine64", CONFMEND_WITHOUT_MANIFEST}, options);
  EXPECT_EQ(result.exit_status, 0);
  for (const auto& path : files) {
    EXPECT_EQ(count_of("Found: " + spelled(path) + "\r\n", result.output), 1u) << path << " in:\n"
                                                                               << result.output;
    EXPECT_EQ(read_file(path), lines({"x = 1"})) << path;
  }
}

// Wine turns SIGINT into the console's Ctrl+C event, as a key press in the window would.
TEST_F(Confmend, CtrlCWaitsUntilTheFileBeingWrittenIsWhole) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  std::string old;
  while (old.size() < (32u << 20)) {
    old += "  fullscreen = false\r\ncycles=fixed 3000 \r\n# a comment line\r\n";
  }
  const std::string path = steam_ + "/big.conf";
  write_file(path, old);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run().exit_status, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const std::string mended = read_file(path);
  ASSERT_NE(mended, old);

  const int kRuns = 10;
  int held = 0;  // interrupted during the write, ended once the file was whole
  for (int attempt = 0; attempt < kRuns; ++attempt) {
    write_file(path, old);
    ChildOptions interrupted;
    interrupted.interrupt_signal = SIGINT;
    interrupted.interrupt_after = span * (attempt + 1) / (kRuns + 1);
    interrupted.standard_input = "x";  // for the pause, should the signal come after it
    const auto result = run(interrupted);
    const std::string now = read_file(path);
    EXPECT_TRUE(now == old || now == mended)
        << "interrupted after " << interrupted.interrupt_after.count() << " us: " << now.size()
        << " bytes left";
    held += now == mended && result.output.find(prompt()) == std::string::npos ? 1 : 0;
  }
  std::printf("%d of %d interruptions were held until the file was whole\n", held, kRuns);
}

// Runs the Windows program once `other` (a Windows program too, with its arguments) has
// started beside it and printed its first line; waits for both. What the program printed.
ChildResult run_beside(const std::string& home, const std::string& work,
                       const std::vector<std::string>& other) {
  ChildOptions options;
  options.working_folder = work;
  options.environment = wine_environment(home);
  options.time_limit = std::chrono::seconds(40);
  std::string command = "\"$0\"";
  for (const auto& word : other) {
    command += " '" + word + "'";
  }
  return run_under_wine({"/bin/sh", "-c",
                         "rm -f beside.txt took.txt; " + command +
                             " >beside.txt & while [ ! -s beside.txt ]; do sleep 0.05; done; "
                             "start=$(date +%s%3N); \"$0\" \"$1\" </dev/null; status=$?; "
                             "echo $(( $(date +%s%3N) - start )) >took.txt; wait; exit $status",
                         "/usr/lib/wine/wine64", CONFMEND_WINDOWS_PROGRAM},
                        options);
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Another program holding the file for a moment (an indexer, a sync client, DOSBox reading
// it, .NET's File.Open sharing nothing) is waited out, whatever it shares: the file is
// replaced, not written in place, with no message, and nothing is left behind.
TEST_F(Confmend, WaitsOutAProgramHoldingAFileForAMoment) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string game = steam_ + "/game/dosbox.conf";
  make_folders(steam_ + "/game");
  for (const char* share : {"none", "r", "rw", "rwd"}) {
    write_file(game, " fullscreen = false \r\n");
    struct stat before {};
    ASSERT_EQ(stat(game.c_str(), &before), 0);
    const auto result =
        run_beside(home_.path(), work_, {CONFMEND_HOLD_FILE, windows_spelling(game), share, "500"});
    EXPECT_EQ(result.exit_status, 0) << share;
    EXPECT_EQ(result.output, lines({spelled(steam_), "Found: " + spelled(game)}) + prompt())
        << share;
    EXPECT_EQ(read_file(game), lines({"fullscreen=true"})) << share;
    struct stat after {};
    stat(game.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino) << share << ": written in place";
    EXPECT_EQ(names_in(steam_), (std::vector<std::string>{"dosbox.conf", "game"})) << share;
  }
}

// A file held past every wait is left byte for byte, and said to be in use, after about two
// seconds by the clock. (Windows replaces one whose holder shares its deletion at once, by a
// POSIX rename; Wine does not, and waits that out too.)
TEST_F(Confmend, LeavesAFileHeldLongerAndSaysSo) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string game = steam_ + "/game/dosbox.conf";
  make_folders(steam_ + "/game");
  for (const char* share : {"none", "r", "rw"}) {
    write_file(game, " fullscreen = false \r\n");
    const auto result = run_beside(home_.path(), work_,
                                   {CONFMEND_HOLD_FILE, windows_spelling(game), share, "5000"});
    const long took = std::stol(read_file(work_ + "/took.txt"));
    EXPECT_EQ(result.exit_status, 1) << share;
    EXPECT_EQ(result.output, lines({spelled(steam_), "Found: " + spelled(game),
                                    "Left unchanged, another program is using it: " + spelled(game),
                                    "  " + kSharingViolation,
                                    "1 file was left unmended; the reason is under it."}) +
                                 prompt())
        << share;
    EXPECT_EQ(read_file(game), " fullscreen = false \r\n") << share;
    EXPECT_EQ(names_in(steam_), (std::vector<std::string>{"dosbox.conf", "game"})) << share;
    // About two seconds of waiting, and Wine's start; well before the holder lets go at 5 s.
    EXPECT_GE(took, 1900) << share << ": not waited for";
    EXPECT_LT(took, 4500) << share << ": waited too long";
    std::printf("held sharing %s: the run took %ld ms\n", share, took);
  }
}

// A folder named like the Steam folder in another case is another folder where the file
// system tells case apart (Wine's does; so do folders WSL makes): a link to it is never
// followed, and nothing in it is read or written.
TEST_F(Confmend, NeverWalksAFolderNamedLikeTheSteamFolderInAnotherCase) {
  const std::string games = home_ / "games";
  const std::string steam = games + "/steam";
  const std::string twin = games + "/STEAM";
  make_folders(steam + "/steamapps/game");
  make_folders(twin + "/private");
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  write_file(steam + "/steamapps/game/dosbox.conf", "fullscreen=false\n");
  write_file(twin + "/private/dosbox.conf", " fullscreen = false \n");
  ASSERT_EQ(make_link(twin + "/private", steam + "/steamapps/link"), 0);
  ASSERT_EQ(make_link(twin, steam + "/steamapps/up"), 0);
  point_registry_at(steam);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(result.output,
            lines({spelled(steam), "Found: " + spelled(steam + "/steamapps/game/dosbox.conf")}) +
                prompt());
  EXPECT_EQ(read_file(twin + "/private/dosbox.conf"), " fullscreen = false \n");
}

// The lock every run takes part in: one made by another user (or run elevated) that lets
// others only wait is waited for; a name this run cannot use (squatted by another kind of
// object; on Windows also a mutex whose list denies this user, which Wine does not enforce)
// is said, and the tree left as it is, never mended beside the lock.
TEST_F(Confmend, TakesTurnsWhoeverMadeTheLockAndSaysWhenItCannot) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string game = steam_ + "/dosbox.conf";
  write_file(game, "fullscreen=false\n");
  const auto waited =
      run_beside(home_.path(), work_,
                 {CONFMEND_HOLD_MUTEX, windows_spelling(steam_), "D:(A;;0x00100000;;;WD)", "1000"});
  EXPECT_EQ(waited.exit_status, 0) << waited.output;
  EXPECT_EQ(waited.output,
            lines({spelled(steam_),
                   "Waiting for another run of confmend to finish with " + spelled(steam_),
                   "Found: " + spelled(game)}) +
                prompt());
  EXPECT_EQ(read_file(game), lines({"fullscreen=true"}));

  write_file(game, "fullscreen=false\n");
  const auto refused = run_beside(home_.path(), work_,
                                  {CONFMEND_HOLD_MUTEX, windows_spelling(steam_), "event", "3000"});
  EXPECT_EQ(refused.exit_status, 1) << refused.output;
  EXPECT_TRUE(refused.output.starts_with(lines(
      {spelled(steam_), "Cannot take turns with other runs of confmend for " + spelled(steam_)})))
      << refused.output;
  EXPECT_NE(refused.output.find("1 folder was not walked"), std::string::npos) << refused.output;
  EXPECT_EQ(read_file(game), "fullscreen=false\n");
}

// An on-access scanner opens every new file as soon as it can, for 300 ms: no new file is
// ever left to it before it takes its place, so every game is mended and nothing is left.
TEST_F(Confmend, MendsEveryFileBesideAScannerThatHoldsNewFiles) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  for (int game = 0; game < 20; ++game) {
    make_folders(steam_ + "/game" + std::to_string(game));
    write_file(steam_ + "/game" + std::to_string(game) + "/dosbox.conf", " fullscreen = no \r\n");
  }
  const auto result =
      run_beside(home_.path(), work_, {CONFMEND_SCAN_FOLDER, windows_spelling(steam_), "300", "4"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(count_of("Found: ", result.output), 20u) << result.output;
  EXPECT_EQ(result.output.find("Left unchanged"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("Cannot"), std::string::npos) << result.output;
  for (int game = 0; game < 20; ++game) {
    const std::string path = steam_ + "/game" + std::to_string(game) + "/dosbox.conf";
    EXPECT_EQ(read_file(path), lines({"fullscreen=true"})) << path;
  }
  EXPECT_EQ(names_in(steam_).size(), 40u) << "something was left behind";
  EXPECT_NE(read_file(work_ + "/beside.txt").find("held"), std::string::npos);
}

// The undo command, put in `beside`, run by the command interpreter as a double-click runs it.
ChildResult run_undo_command(const std::string& home, const std::string& beside) {
  std::filesystem::copy_file(CONFMEND_UNDO_COMMAND, beside + "/Undo last run.cmd");
  ChildOptions options;
  options.working_folder = home;
  options.environment = wine_environment(home);
  options.standard_input = "x";
  return run_under_wine(
      {"/usr/lib/wine/wine64", "cmd", "/c", windows_spelling(beside + "/Undo last run.cmd")},
      options);
}

// The command the zip holds beside the program takes the last run back by a double-click:
// the command interpreter runs the program from the command's own folder.
TEST_F(Confmend, TakesTheLastRunBackWithTheCommandBesideTheProgram) {
  point_registry_at(steam_);
  std::filesystem::remove_all(program().undo_store(home_.path()));
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  write_file(steam_ + "/game.conf", "fullscreen=false\n");
  ASSERT_EQ(run().exit_status, 0);
  const std::string beside = home_ / "download";
  make_folders(beside);
  std::filesystem::copy_file(CONFMEND_WINDOWS_PROGRAM, beside + "/confmend.exe");
  const auto result = run_undo_command(home_.path(), beside);
  EXPECT_EQ(result.exit_status, 0) << result.output << result.errors;
  EXPECT_NE(result.output.find("Restored: " + spelled(steam_ + "/game.conf")), std::string::npos)
      << result.output;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), "fullscreen=false\n");
  std::filesystem::remove_all(program().undo_store(home_.path()));
}

// A store whose access control list lets others write to it (Wine gives a folder open to every
// Unix user such a list) is refused: the run changes no file, the undo gives nothing back.
TEST_F(Confmend, RefusesAnUndoStoreOthersMayWriteTo) {
  point_registry_at(steam_);
  const std::string store = program().undo_store(home_.path());
  std::filesystem::remove_all(store);
  make_folders(store);
  chmod(store.c_str(), 0777);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  write_file(steam_ + "/game.conf", "fullscreen=false\n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find("Cannot keep copies to undo this run in "), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("  other users may write to "), std::string::npos) << result.output;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), "fullscreen=false\n");
  const auto undo = run_with({"--undo"});
  EXPECT_EQ(undo.exit_status, 1);
  EXPECT_TRUE(undo.output.starts_with("Cannot use the undo store ")) << undo.output;
  std::filesystem::remove_all(store);
}

// Without confmend.exe beside it, the command says so and waits for a key: a window that
// closed at once would say nothing.
TEST_F(Confmend, TheUndoCommandWaitsForAKeyWithoutTheProgram) {
  const std::string beside = home_ / "download";
  make_folders(beside);
  const auto result = run_undo_command(home_.path(), beside);
  EXPECT_EQ(result.exit_status, 1) << result.output << result.errors;
  EXPECT_NE(result.output.find("confmend.exe is not in this folder"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Press any key to continue"), std::string::npos) << result.output;
}

// The name of the newest run in the store, as the program gives it.
std::string newest_run(const std::string& store) {
  std::string newest;
  unsigned long number = 0;
  for (const auto& entry : std::filesystem::directory_iterator(store)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("run-") && std::stoul(name.substr(4)) >= number) {
      number = std::stoul(name.substr(4));
      newest = name;
    }
  }
  return run_of_entry(newest);
}

// An undo started while a run waits for its turn waits for that run to end, then takes back
// every file it changed; a file that could not be written keeps the run open, and the next
// undo finishes it first.
TEST_F(Confmend, AnUndoDuringARunWaitsAndTakesBackEveryFile) {
  point_registry_at(steam_);
  const std::string store = program().undo_store(home_.path());
  std::filesystem::remove_all(store);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  for (int game = 0; game < 20; ++game) {
    make_folders(steam_ + "/game" + std::to_string(game));
    write_file(steam_ + "/game" + std::to_string(game) + "/dosbox.conf", "fullscreen=false\r\n");
  }
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  options.time_limit = std::chrono::seconds(60);
  // The run waits while another holds the tree; the undo, started then, waits for the run.
  const auto result =
      run_under_wine({"/bin/sh", "-c",
                      "\"$0\" \"$2\" \"$3\" 'D:(A;;0x00100001;;;WD)' 3000 >held.txt & "
                      "while [ ! -s held.txt ]; do sleep 0.05; done; "
                      "\"$0\" \"$1\" </dev/null >run.txt & "
                      "while ! grep -q Waiting run.txt; do sleep 0.05; done; "
                      "\"$0\" \"$1\" --undo </dev/null >undo.txt; echo $? >status.txt; wait",
                      "/usr/lib/wine/wine64", CONFMEND_WINDOWS_PROGRAM, CONFMEND_HOLD_MUTEX,
                      windows_spelling(steam_)},
                     options);
  ASSERT_EQ(result.exit_status, 0) << result.output << result.errors;
  const std::string undo = read_file(work_ + "/undo.txt");
  EXPECT_EQ(read_file(work_ + "/status.txt"), "0\n") << undo;
  EXPECT_TRUE(undo.starts_with(lines({"Waiting for " + newest_run(store) + " to finish"}))) << undo;
  EXPECT_EQ(count_of("Restored: ", undo), 20u) << undo;
  EXPECT_NE(undo.find(lines({"20 of 20 files were restored."})), std::string::npos) << undo;
  for (int game = 0; game < 20; ++game) {
    EXPECT_EQ(read_file(steam_ + "/game" + std::to_string(game) + "/dosbox.conf"),
              "fullscreen=false\r\n");
  }

  // A read-only file is left, and the run stays open until it is given back.
  ASSERT_EQ(run().exit_status, 0);
  const std::string locked = steam_ + "/game3/dosbox.conf";
  chmod(locked.c_str(), 0444);
  const auto left = run_with({"--undo"});
  chmod(locked.c_str(), 0644);
  EXPECT_EQ(left.exit_status, 1);
  EXPECT_NE(left.output.find(lines({"Cannot write to file " + spelled(locked)})), std::string::npos)
      << left.output;
  EXPECT_NE(left.output.find(lines({"19 of 20 files were restored."})), std::string::npos)
      << left.output;
  const auto finished = run_with({"--undo"});
  EXPECT_EQ(finished.exit_status, 0);
  EXPECT_EQ(finished.output,
            lines({"Finishing " + newest_run(store) + " first: 1 file was left last time.",
                   "Restored: " + spelled(locked), "1 of 1 file was restored."}) +
                prompt());
  EXPECT_EQ(read_file(locked), "fullscreen=false\r\n");
  std::filesystem::remove_all(store);
}

// Written to a file, the output is the UTF-8 bytes of every name, whatever the console's
// code page.
TEST_F(Confmend, WritesUtf8ToAFile) {
  point_registry_at(steam_);
  const std::string folder = steam_ + "/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0";  // Игра
  make_folders(folder);
  write_file(folder + "/\xE6\xBC\xA2.conf", " a = 1 \n");  // 漢.conf
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  const auto result = run_program({"/bin/sh", "-c", "\"$0\" \"$1\" </dev/null >out.txt",
                                   "/usr/lib/wine/wine64", CONFMEND_WINDOWS_PROGRAM},
                                  options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(
      read_file(work_ + "/out.txt"),
      lines({spelled(steam_), "Found: " + spelled(folder + "/\xE6\xBC\xA2.conf")}) + prompt());
}

// DOSBox for Windows reads its configuration in text mode, where the first Ctrl+Z ends it: what
// --add-missing adds is placed before it, where such a reader finds it.
TEST_F(Confmend, AddsWhereAReaderInTextModeFindsItBeforeCtrlZ) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "[sdl]\r\nfullscreen=true\r\noutput=opengl\r\n");
  const std::string game = steam_ + "/game.conf";
  write_file(game, "[sdl]\r\nfullscreen=false\r\n\x1a\r\n[cpu]\r\n");
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  ASSERT_EQ(program().run(home_.path(), work_, options, {"--add-missing"}).exit_status, 0);
  EXPECT_EQ(read_file(game), "[sdl]\r\nfullscreen=true\r\noutput=opengl\r\n\x1a\r\n[cpu]\r\n");
  const auto read = run_under_wine(
      {"/usr/lib/wine/wine64", CONFMEND_READ_TEXT_MODE, windows_spelling(game)}, options);
  EXPECT_EQ(read.output, "[sdl]|fullscreen=true|output=opengl|");
}

// `confmend --dry-run > changes.txt` in a console window: the prompt is shown in the window,
// which would otherwise wait blank for a key, and the file holds only the run's own lines.
// `script` gives Wine a terminal for its console, from which the key is read.
TEST_F(Confmend, ShowsThePromptInTheConsoleWhenTheOutputGoesToAFile) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " a = 1 \n");
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  options.standard_input = "x";
  const auto result = run_program(
      {"/usr/bin/script", "-qfec",
       "/usr/lib/wine/wine64 '" CONFMEND_WINDOWS_PROGRAM "' --dry-run >changes.txt", "/dev/null"},
      options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.output.find("Press any key to continue . . ."), std::string::npos)
      << result.output;
  const std::string saved = read_file(work_ + "/changes.txt");
  EXPECT_EQ(saved.find("Press any key"), std::string::npos) << saved;
  EXPECT_TRUE(saved.ends_with(lines({"1 of 1 files would change."}))) << saved;
}

// In a console window, as on a terminal, the C1 controls a Windows name may hold are shown
// escaped, each byte of them ("\302\233" for CSI), so that no name steers the console.
TEST_F(Confmend, ShowsControlCharactersOfNamesEscapedInTheConsole) {
  point_registry_at(steam_);
  write_file(steam_ +
                 "/a\xc2\x9d"
                 "0;x\xc2\x9b"
                 "2J\xc4\x9b.conf",
             "");
  ChildOptions options;
  options.working_folder = work_;
  options.environment = wine_environment(home_.path());
  options.standard_input = "x";
  const auto result =
      run_program({"/usr/bin/script", "-qfec",
                   "/usr/lib/wine/wine64 '" CONFMEND_WINDOWS_PROGRAM "'", "/dev/null"},
                  options);
  EXPECT_EQ(result.exit_status, 0);
  // Wine's console breaks long lines where the terminal's width ends.
  EXPECT_NE(result.output.find("/a\\302\\2350;x\\302\\2332J\xc4\x9b"), std::string::npos)
      << result.output;
  EXPECT_EQ(result.output.find("\xc2\x9b"), std::string::npos) << result.output;
}

TEST_F(Confmend, TakesSlashOptionsAsWindowsProgramsDo) {
  point_registry_at(steam_);
  auto result = run_with({"/?"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(result.output.starts_with("Usage: confmend [OPTION]...")) << result.output;
  result = run_with({"/x"});
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_EQ(result.errors, lines({"confmend: unknown option '/x'", "Try 'confmend --help'."}));
}

}  // namespace
