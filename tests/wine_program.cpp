#include "tests/program_under_test.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr const char* kWine = "/usr/lib/wine/wine64";
constexpr const char* kSteamKey = "HKCU\\Software\\Valve\\Steam";

// Under load, Wine now and then fails to start a program at all: once `reg`, saying
// "Application could not be started", once confmend.exe, ending with status 1 and printing
// nothing. confmend itself never ends so: it says why on its output, or (for its command
// line) on its errors after "confmend: ". Such a run is made again, and said, at most twice.
bool wine_could_not_start(const ChildResult& result) {
  constexpr const char* kSaid = "Application could not be started";
  if (result.exit_status == 0 || result.exit_status >= 128) {
    return false;  // ended by itself, or by the test's signal
  }
  return result.output.find(kSaid) != std::string::npos ||
         result.errors.find(kSaid) != std::string::npos ||
         (result.output.empty() && !result.errors.starts_with("confmend: "));
}

}  // namespace

// Wine keeps its prefix and the registry in it through WINEPREFIX, which the test runner sets.
// It reads Linux file names in the locale's character set: UTF-8, as on users' machines. The
// walk's cases run again with folders read ahead.
std::map<std::string, std::string> wine_environment(const std::string& home) {
  std::map<std::string, std::string> environment = {
      {"HOME", home}, {"PATH", "/usr/bin:/bin"}, {"WINEDEBUG", "-all"}, {"LANG", "C.UTF-8"}};
  for (const char* name : {"WINEPREFIX", "WINESERVER", "CONFMEND_READ_AHEAD_THREADS"}) {
    if (const char* value = std::getenv(name)) {
      environment[name] = value;
    }
  }
  return environment;
}

ChildResult run_under_wine(const std::vector<std::string>& command, const ChildOptions& options) {
  ChildResult result = run_program(command, options);
  // The program's name, whether Wine is given it or a shell that starts Wine.
  const auto program = std::find_if(command.begin() + 1, command.end(),
                                    [](const std::string& w) { return w.ends_with(".exe"); });
  const std::string& name = program != command.end() ? *program : command[1];
  for (int again = 0; again < 2 && wine_could_not_start(result); ++again) {
    std::printf("Wine did not start %s (status %d), starting it again: %s%s\n", name.c_str(),
                result.exit_status, result.output.c_str(), result.errors.c_str());
    (void)std::fflush(stdout);
    result = run_program(command, options);
  }
  return result;
}

namespace {

void reg(const std::vector<std::string>& words, bool must_succeed) {
  std::vector<std::string> command = {kWine, "reg"};
  command.insert(command.end(), words.begin(), words.end());
  ChildOptions options;
  options.environment = wine_environment("/tmp");
  const ChildResult result = run_under_wine(command, options);
  if (must_succeed) {
    ASSERT_EQ(result.exit_status, 0) << result.output << result.errors;
  }
}

}  // namespace

void set_steam_value_under_wine(const std::string& type, const std::string& data) {
  reg({"delete", kSteamKey, "/f"}, false);
  reg({"add", kSteamKey, "/v", "SteamPath", "/t", type, "/d", data, "/f"}, true);
}

namespace {

class WineProgram : public ProgramUnderTest {
 public:
  std::string spelled(const std::string& path) const override { return "Z:" + path; }

  void set_steam_path(const std::string&, const std::optional<std::string>& value) const override {
    reg({"delete", kSteamKey, "/f"}, false);
    if (value) {
      reg({"add", kSteamKey, "/v", "SteamPath", "/t", "REG_SZ", "/d", *value, "/f"}, true);
    } else {
      reg({"add", kSteamKey, "/f"}, true);
    }
  }

  void remove_steam_key(const std::string&) const override {
    reg({"delete", kSteamKey, "/f"}, false);
  }

  ChildResult run(const std::string& home, const std::string& folder, const ChildOptions& options,
                  const std::vector<std::string>& arguments) const override {
    ChildOptions sandboxed = options;
    sandboxed.working_folder = folder;
    sandboxed.environment = wine_environment(home);
    sandboxed.environment.insert(options.environment.begin(), options.environment.end());
    std::vector<std::string> command = {kWine, CONFMEND_WINDOWS_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_under_wine(command, sandboxed);
  }

  std::string undo_store(const std::string&) const override {
    // Wine names the profile after the Unix user.
    const char* prefix = std::getenv("WINEPREFIX");
    const passwd* user = getpwuid(getuid());
    return std::string(prefix != nullptr ? prefix : "") + "/drive_c/users/" +
           (user != nullptr ? user->pw_name : "root") + "/AppData/Local/confmend";
  }
  std::string listed(const std::string& path) const override {
    std::string windows = spelled(path);
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
  }

  // The C runtime's text mode stores every line end as CR LF, on the console as in files.
  std::string line_end() const override { return "\r\n"; }
  // Wine's own command interpreter words its pause this way.
  std::string pause_prompt() const override { return "Press any key to continue... "; }
};

}  // namespace

const ProgramUnderTest& program_under_test() {
  static const WineProgram program;
  return program;
}
