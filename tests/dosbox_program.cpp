#include "tests/dosbox_program.h"

#include <unistd.h>

#include "tests/temp_files.h"

bool dosbox_installed() {
  return access("/usr/bin/dosbox", X_OK) == 0;
}

ChildResult run_dosbox(const std::string& home, const std::vector<std::string>& configurations,
                       const std::vector<std::string>& commands) {
  std::vector<std::string> command = {"/usr/bin/dosbox"};
  for (const std::string& configuration : configurations) {
    command.insert(command.end(), {"-conf", configuration});
  }
  command.push_back("-noautoexec");
  for (const std::string& dos_command : commands) {
    command.insert(command.end(), {"-c", dos_command});
  }
  command.insert(command.end(), {"-c", "exit"});
  ChildOptions options;
  options.environment = {{"HOME", home},
                         {"PATH", "/usr/bin:/bin"},
                         {"SDL_VIDEODRIVER", "dummy"},
                         {"SDL_AUDIODRIVER", "dummy"}};
  return run_program(command, options);
}

std::vector<std::string> dosbox_reads(
    const std::string& home, const std::vector<std::string>& configurations,
    const std::vector<std::pair<std::string, std::string>>& properties) {
  const std::string drive = home + "/drive_c";
  make_folders(drive);
  std::vector<std::string> commands = {"mount c " + drive, "c:"};
  for (std::size_t i = 0; i < properties.size(); ++i) {
    commands.push_back("config -get " + properties[i].first + " " + properties[i].second + " > P" +
                       std::to_string(i) + ".TXT");
  }
  const ChildResult result = run_dosbox(home, configurations, commands);
  EXPECT_EQ(result.exit_status, 0) << result.output << result.errors;
  std::vector<std::string> read;
  for (std::size_t i = 0; i < properties.size(); ++i) {
    std::string value = read_file(drive + "/P" + std::to_string(i) + ".TXT");
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
      value.pop_back();
    }
    read.push_back(value);
  }
  return read;
}
