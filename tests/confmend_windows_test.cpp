// What only the Windows program must show: it travels alone, as a user downloads it, and
// Ctrl+C waits until the file being written is whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>

#include "tests/child_process.h"
#include "tests/confmend_fixture.h"

namespace {

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

std::size_t count_of(const std::string& part, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) {
    ++count;
  }
  return count;
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
  EXPECT_EQ(result.output, console({root, "Found: " + root + "/a.conf"}) + prompt());
  EXPECT_EQ(read_file(steam_ + "/a.conf"), lines({"a = 1"}));
}

// Only text is a folder: a REG_EXPAND_SZ value is expanded, any other type is refused.
TEST_F(Confmend, TakesTheValueByItsType) {
  write_file(steam_ + "/a.conf", "a=1\n");
  set_steam_value_under_wine("REG_DWORD", "1094795585");  // the bytes of "AAAA"
  auto result = run();
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.output,
            console({"Cannot access the registry value, perhaps Steam is missing?"}) + prompt());

  set_steam_value_under_wine("REG_EXPAND_SZ", "%CONFMEND_GAMES%\\Steam");
  ChildOptions with_variable;
  with_variable.environment = {{"CONFMEND_GAMES", "Z:" + home_.path()}};
  result = run(with_variable);
  EXPECT_EQ(result.exit_status, 0);
  const std::string root = "Z:" + home_.path() + "\\Steam";
  EXPECT_EQ(result.output, console({root, "Found: " + root + "/a.conf"}) + prompt());
}

// A command interpreter's window goes on after the program: its code page must be as before,
// after a completed run and after the failure exit alike.
TEST_F(Confmend, LeavesTheConsoleCodePageAsItFoundIt) {
  write_file(work_ + "/key.txt", "x\r\n");
  for (const bool steam_found : {true, false}) {
    if (steam_found) {
      point_registry_at(steam_);
    } else {
      program().remove_steam_key(home_.path());
    }
    // Wine gives a program a console of its own only on a terminal, which `script` makes.
    const std::string commands = std::string("chcp 437 >nul & ") + CONFMEND_CONSOLE_CODE_PAGE +
                                 " & " + CONFMEND_WINDOWS_PROGRAM + " <key.txt & " +
                                 CONFMEND_CONSOLE_CODE_PAGE;
    ChildOptions options;
    options.working_folder = work_;
    options.environment = wine_environment(home_.path());
    const auto result = run_program(
        {"script", "-qec", "/usr/lib/wine/wine64 cmd /c '" + commands + "'", "/dev/null"}, options);
    EXPECT_EQ(code_pages_shown(result.output), "437 437") << "Steam found: " << steam_found;
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
  const auto result = run_program({"/usr/lib/wine/wine64", CONFMEND_WITHOUT_MANIFEST}, options);
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

}  // namespace
