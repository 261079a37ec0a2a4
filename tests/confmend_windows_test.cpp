// What only the Windows program must show: it travels alone, as a user downloads it.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/child_process.h"

namespace {

// The DLLs the program imports, as the PE header names them.
std::set<std::string> imported_dlls() {
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}};
  const auto result = run_program({"x86_64-w64-mingw32-objdump", "-p", CONFMEND_PROGRAM}, options);
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
  const std::string program = read_file(CONFMEND_PROGRAM);
  for (const char* setting : {"<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/"
                              "WindowsSettings\">UTF-8</activeCodePage>",
                              ">true</longPathAware>"}) {
    EXPECT_NE(program.find(setting), std::string::npos) << setting;
  }
}

}  // namespace
