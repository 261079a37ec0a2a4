// The run on a terminal: the final pause, the terminal given back, escaped names, the
// prompt where the user looks, a run in the background.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tests/confmend_fixture.h"

namespace {

struct TerminalRun {
  int status = -1;
  std::string shown;  // what the terminal showed
  std::string left;   // input the program left unread
};

// What is done to a program on a terminal: keys typed at once, and when the prompt shows,
// a key pressed or a signal sent. A program in the terminal's background is started by a
// shell of the terminal's own, as `confmend &` is.
struct TerminalUse {
  std::string ahead, key;
  int signal = 0;
  bool background = false;
  std::string output_file{};  // where the output goes instead of the terminal, if anywhere
  const char* option = nullptr;
};

[[noreturn]] void run_confmend_here(const std::string& home, const std::string& work,
                                    const char* option) {
  if (chdir(work.c_str()) != 0) {
    _exit(120);
  }
  const std::string home_variable = "HOME=" + home;
  char* const argv[] = {const_cast<char*>(CONFMEND_PROGRAM), const_cast<char*>(option), nullptr};
  char* const envp[] = {const_cast<char*>(home_variable.c_str()), nullptr};
  execve(CONFMEND_PROGRAM, argv, envp);
  _exit(121);
}

// Runs the program on a terminal of its own, used as `use` says, and reads back what input
// is left once it has ended.
TerminalRun run_on_a_terminal(const std::string& home, const std::string& work,
                              const TerminalUse& use) {
  TerminalRun run;
  int controller = -1, terminal = -1;
  if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return run;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
    for (int stream : {STDIN_FILENO, STDOUT_FILENO}) {
      dup2(terminal, stream);
    }
    if (!use.output_file.empty()) {
      dup2(open(use.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    }
    if (!use.background) {
      run_confmend_here(home, work, use.option);
    }
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);  // a process group of its own, which is not the terminal's foreground
      run_confmend_here(home, work, use.option);
    }
    int status = 0;
    waitpid(job, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  EXPECT_EQ(write(controller, use.ahead.data(), use.ahead.size()),
            static_cast<ssize_t>(use.ahead.size()));
  bool pressed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd output{controller, POLLIN, 0};
    if (poll(&output, 1, 50) > 0) {
      char buffer[256];
      const ssize_t got = read(controller, buffer, sizeof buffer);
      run.shown.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    if (!pressed && run.shown.find("Press any key") != std::string::npos) {
      if (use.signal != 0) {
        kill(pid, use.signal);
      } else {
        EXPECT_EQ(write(controller, use.key.data(), use.key.size()),
                  static_cast<ssize_t>(use.key.size()));
      }
      pressed = true;
    }
    if (waitpid(pid, &run.status, WNOHANG) == pid) {
      break;
    }
  }
  if (run.status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  // What is left: read without waiting for a line.
  termios settings{};
  tcgetattr(terminal, &settings);
  const tcflag_t line_mode = settings.c_lflag;
  settings.c_lflag &= static_cast<tcflag_t>(~ICANON);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  tcsetattr(terminal, TCSANOW, &settings);
  char buffer[64];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
    run.left.append(buffer, static_cast<std::size_t>(got));
  }
  settings.c_lflag = line_mode;
  tcsetattr(terminal, TCSANOW, &settings);
  EXPECT_TRUE((line_mode & ICANON) && (line_mode & ECHO)) << "the terminal was left raw";
  close(controller);
  close(terminal);
  return run;
}

// What follows the first byte of piped input is left for whatever reads it next.
TEST_F(Confmend, PauseEndsAtTheFirstByteOfInputAndLeavesTheRest) {
  point_registry_at(steam_);
  ChildOptions typed;
  typed.standard_input = "q, and the rest";
  typed.working_folder = work_;
  typed.environment = {{"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}};
  const auto result = run_program({"/bin/sh", "-c", "\"$0\"; cat", CONFMEND_PROGRAM}, typed);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({steam_}) + prompt() + ", and the rest");
}

// One key press, with no Enter after it, ends the pause: the whole key, whatever bytes it
// sends, and nothing more, so that none of it reaches the shell and nothing typed is lost.
TEST_F(Confmend, PauseTakesOneKeyFromATerminal) {
  point_registry_at(steam_);
  const struct {
    const char* what;
    std::string ahead, key, left;
  } cases[] = {
      {"a letter", "", "x", ""},
      {"an arrow key", "", "\x1b[A", ""},
      {"a function key", "", "\x1b[15~", ""},
      {"a letter outside ASCII", "", "\xC3\xA9", ""},
      {"keys typed before the prompt", "zy", "", "y"},
  };
  for (const auto& c : cases) {
    const TerminalRun run = run_on_a_terminal(home_.path(), work_, {c.ahead, c.key});
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0)
        << c.what << ": the pause did not end; the terminal showed:\n"
        << run.shown;
    EXPECT_EQ(run.left, c.left) << c.what;
  }
}

// A termination request or a hang-up at the pause gives the terminal back as it was (checked
// by run_on_a_terminal), and then ends the run as the signal would have.
TEST_F(Confmend, PauseGivesTheTerminalBackWhenTheRunIsEnded) {
  point_registry_at(steam_);
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    const TerminalRun run = run_on_a_terminal(home_.path(), work_, {"", "", signal_number});
    EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal_number)
        << "signal " << signal_number << "; the terminal showed:\n"
        << run.shown;
  }
}

// A name may hold any byte but "/": on a terminal its control characters are shown escaped,
// so that no name can clear the screen, retitle the window or fake a line; into a pipe or a
// file, names are their bytes.
TEST_F(Confmend, ShowsControlCharactersOfNamesEscapedOnATerminal) {
  point_registry_at(steam_);
  const std::string name = "a\x1b]0;owned\x07\nCannot write to file important.conf";
  write_file(steam_ + "/" + name, "fullscreen=false\n");
  // A library's path comes from a file any program may write.
  const std::string library = home_ / "lib\x1b[2J";
  make_folders(library + "/steamapps");
  make_folders(steam_ + "/steamapps");
  write_file(steam_ + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\" { \"1\" { \"path\" \"" + library + "\" } }");
  const TerminalRun run = run_on_a_terminal(home_.path(), work_, {"", "x"});
  EXPECT_NE(run.shown.find("\r\n" + home_ / "lib\\033[2J\r\n"), std::string::npos) << run.shown;
  EXPECT_NE(run.shown.find("Found: " + steam_ +
                           "/a\\033]0;owned\\007\\012Cannot write to file important.conf\r\n"),
            std::string::npos)
      << run.shown;
  EXPECT_EQ(run.shown.find('\x1b'), std::string::npos) << run.shown;
  // C1 controls too: CSI and OSC in UTF-8, and a lone CSI byte; other letters stay.
  const std::string c1 =
      "c1\xc2\x9b"
      "2J\xc2\x9d\x9b"
      "2J\xc4\x9b.conf";
  write_file(steam_ + "/" + c1, "");
  const TerminalRun again = run_on_a_terminal(home_.path(), work_, {"", "x"});
  EXPECT_NE(again.shown.find("/c1\\302\\2332J\\302\\235\\2332J\xc4\x9b.conf\r\n"),
            std::string::npos)
      << again.shown;
  std::filesystem::remove(steam_ + "/" + c1);
  EXPECT_EQ(
      run_on_a_terminal(home_.path(), work_, {"", "x", 0, false, "", "-n"}).shown.find('\x07'),
      std::string::npos);
  EXPECT_EQ(Confmend::run().output,
            lines({steam_, "Found: " + steam_ + "/" + name, library}) + prompt());
}

// With its output in a file and the key read from the terminal, the prompt is shown on the
// terminal, where the user looks, and the file holds only the run's own lines.
TEST_F(Confmend, ShowsThePromptOnTheTerminalWhenTheOutputGoesToAFile) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " a = 1 \n");
  const std::string output = work_ + "/changes.txt";
  const TerminalRun run = run_on_a_terminal(home_.path(), work_, {"", "x", 0, false, output, "-n"});
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.shown;
  EXPECT_NE(run.shown.find("Press any key to continue . . ."), std::string::npos) << run.shown;
  const std::string saved = read_file(output);
  EXPECT_EQ(saved.find("Press any key"), std::string::npos) << saved;
  EXPECT_TRUE(saved.starts_with(steam_ + "\nFound: " + steam_ + "/game.conf\n")) << saved;
  EXPECT_TRUE(saved.ends_with("1 of 1 files would change.\n")) << saved;
}

// Started in the background (`./confmend &`), the run does not ask the terminal for a key,
// which would stop it, and ends.
TEST_F(Confmend, ARunInTheBackgroundDoesNotWaitForAKey) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " a = 1 \n");
  const TerminalRun run = run_on_a_terminal(home_.path(), work_, {"", "", 0, true});
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.shown;
  EXPECT_EQ(run.shown.find("Press any key"), std::string::npos) << run.shown;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), "a = 1\n");
}

}  // namespace
