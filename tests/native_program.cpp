#include <unistd.h>

#include <cstdlib>

#include "tests/program_under_test.h"
#include "tests/steam_registry.h"

namespace {

class NativeProgram : public ProgramUnderTest {
 public:
  std::string spelled(const std::string& path) const override { return path; }

  void set_steam_path(const std::string& home,
                      const std::optional<std::string>& value) const override {
    if (value) {
      point_home_at(home, *value);
    } else {
      make_folders(home + "/.steam");
      write_file(home + "/.steam/registry.vdf", steam_registry_file("\"x\" \"1\""));
    }
  }

  void remove_steam_key(const std::string& home) const override {
    unlink((home + "/.steam/registry.vdf").c_str());
  }

  ChildResult run(const std::string& home, const std::string& folder, const ChildOptions& options,
                  const std::vector<std::string>& arguments) const override {
    ChildOptions sandboxed = options;
    sandboxed.working_folder = folder;
    sandboxed.environment = {{"HOME", home}, {"PATH", "/usr/bin:/bin"}};
    // The suite runs again with folders read ahead on so many threads.
    if (const char* reading_ahead = std::getenv("CONFMEND_READ_AHEAD_THREADS")) {
      sandboxed.environment["CONFMEND_READ_AHEAD_THREADS"] = reading_ahead;
    }
    sandboxed.environment.insert(options.environment.begin(), options.environment.end());
    std::vector<std::string> command = {CONFMEND_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_program(command, sandboxed);
  }

  std::string line_end() const override { return "\n"; }
  std::string pause_prompt() const override { return "Press any key to continue . . .\n"; }
};

}  // namespace

const ProgramUnderTest& program_under_test() {
  static const NativeProgram program;
  return program;
}
