// What only the Windows program must show: it travels alone, as a user downloads it, and
// Ctrl+C waits until the file being written is whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
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
