// Cases that only the native program meets: Steam's registry file, its root link, pipes and
// dangling links, and permissions that bind an unprivileged user.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "tests/confmend_fixture.h"
#include "tests/steam_registry.h"

namespace {

const std::string kNoKey = "Cannot access the registry key, perhaps Steam is missing?";
const std::string kNoValue = "Cannot access the registry value, perhaps Steam is missing?";

TEST_F(Confmend, ReadsTheRegistryFileAsSteamWritesIt) {
  const struct {
    const char* what;
    std::string registry;
    std::string output;
  } cases[] = {
      {"other keys, comments, escapes, lower-case names",
       "// Steam\n\"registry\"\n{\n\"hkcu\" { \"software\" { \"Other\" { \"SteamPath\" \"/no\" }\n"
       "\"valve\" { \"steam\" {\n\"language\" \"english\" // note\n"
       "\"steampath\" \"" +
           steam_ + "\"\n\"quoted\" \"a\\\"b\\\\c\"\n} } } }\n}\n",
       steam_ + "\n"},
      {"no Steam block", "\"Registry\" { \"HKCU\" { \"Software\" { \"Valve\" { } } } }",
       kNoKey + "\n"},
      {"malformed", "\"Registry\" { \"HKCU\" {", kNoKey + "\n"},
      {"key without value and no root link", steam_registry_file("\"language\" \"english\""),
       kNoValue + "\n"},
  };
  for (const auto& c : cases) {
    make_folders(home_ / ".steam");
    write_file(home_ / ".steam/registry.vdf", c.registry);
    const auto result = run();
    EXPECT_EQ(result.output, c.output + prompt()) << c.what;
  }
}

TEST_F(Confmend, FollowsTheSteamRootLinkWhenTheValueIsAbsent) {
  make_folders(home_ / ".steam");
  write_file(home_ / ".steam/registry.vdf", steam_registry_file("\"language\" \"english\""));
  ASSERT_EQ(make_link(steam_, home_ / ".steam/root"), 0);
  write_file(steam_ + "/a.conf", "a=1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/a.conf"}) + prompt());
}

TEST_F(Confmend, NeverOpensPipesAndReportsDanglingLinks) {
  point_registry_at(steam_);
  ASSERT_EQ(mkfifo((steam_ + "/pipe.conf").c_str(), 0600), 0);
  ASSERT_EQ(make_link("nowhere", steam_ + "/dangling.conf"), 0);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/dangling.conf",
                                    "Cannot read file " + steam_ + "/dangling.conf"}) +
                               prompt());
  EXPECT_FALSE(file_exists(steam_ + "/nowhere"));
}

// Opening a pipe for reading waits for a writer: the reference must not be waited for.
TEST_F(Confmend, AReferenceThatIsAPipeIsNone) {
  point_registry_at(steam_);
  ASSERT_EQ(mkfifo((work_ + "/dosbox.conf").c_str(), 0600), 0);
  write_file(steam_ + "/game.conf", " fullscreen = no \n");
  ChildOptions limited;
  limited.time_limit = std::chrono::seconds(10);
  const auto result = run(limited);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), "fullscreen = no\n");
}

TEST_F(Confmend, ReadOnlyFileIsReportedAndTheRunGoesOn) {
  point_registry_at(steam_);
  make_folders(steam_ + "/a");
  write_file(steam_ + "/a/locked.conf", " x \n");
  open_to_everyone(home_.path());
  chmod((steam_ + "/a/locked.conf").c_str(), 0444);
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  const auto result = run(as_nobody);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_, "Found: " + steam_ + "/a/locked.conf",
                                    "Cannot write to file " + steam_ + "/a/locked.conf"}) +
                               prompt());
  EXPECT_EQ(read_file(steam_ + "/a/locked.conf"), " x \n");
}

TEST_F(Confmend, PauseEndsAtTheFirstByteOfInputAndLeavesTheRest) {
  point_registry_at(steam_);
  ChildOptions typed;
  typed.standard_input = "q";
  const auto result = run(typed);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, console({steam_}) + prompt());
}

// On a terminal one key press, with no Enter after it, ends the pause, and the terminal's
// settings are as they were afterwards.
TEST_F(Confmend, PauseTakesOneKeyFromATerminal) {
  point_registry_at(steam_);
  int controller = -1, terminal = -1;
  ASSERT_EQ(openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  termios before{};
  ASSERT_EQ(tcgetattr(terminal, &before), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
    for (int stream : {STDIN_FILENO, STDOUT_FILENO}) {
      dup2(terminal, stream);
    }
    if (chdir(work_.c_str()) != 0) {
      _exit(120);
    }
    const std::string home = "HOME=" + home_.path();
    char* const argv[] = {const_cast<char*>(CONFMEND_PROGRAM), nullptr};
    char* const envp[] = {const_cast<char*>(home.c_str()), nullptr};
    execve(CONFMEND_PROGRAM, argv, envp);
    _exit(121);
  }
  // Read the console until the prompt shows, press one key, and wait for the end.
  std::string shown;
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool pressed = false;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd output{controller, POLLIN, 0};
    if (poll(&output, 1, 50) > 0) {
      char buffer[256];
      const ssize_t got = read(controller, buffer, sizeof buffer);
      shown.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    if (!pressed && shown.find("Press any key") != std::string::npos) {
      ASSERT_EQ(write(controller, "x", 1), 1);
      pressed = true;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      break;
    }
  }
  if (status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the pause did not end on one key; the console showed:\n" << shown;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  termios after{};
  ASSERT_EQ(tcgetattr(terminal, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal was left in raw mode";
  close(controller);
  close(terminal);
}

}  // namespace
