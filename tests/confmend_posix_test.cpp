// Cases that only the native program meets: Steam's registry file, its root link, pipes and
// dangling links, and permissions that bind an unprivileged user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "tests/confmend_fixture.h"
#include "tests/steam_registry.h"

namespace {

const std::string kNoKey = "Cannot access the registry key, perhaps Steam is missing?";
const std::string kNoValue = "Cannot access the registry value, perhaps Steam is missing?";
const std::string kBadLength =
    "Cannot access the registry value, length is invalid, perhaps Steam is missing or badly "
    "installed?";

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
  EXPECT_EQ(result.output, lines({steam_, "Found: " + steam_ + "/a.conf"}) + prompt());
}

// Each way of installing Steam on Linux keeps it somewhere else: found in a HOME that holds
// only that install, and mended.
TEST_F(Confmend, FindsSteamWhereverItIsInstalled) {
  const std::string flatpak = ".var/app/com.valvesoftware.Steam";
  const struct {
    const char* what;
    std::vector<std::string> folders;  // below HOME; Steam's library in the first
    std::string registry_file;         // below HOME, naming the first folder, or none
  } cases[] = {
      {"native folder only", {".local/share/Steam"}, ""},
      {"Flatpak registry file", {"games/Steam"}, flatpak + "/.steam/registry.vdf"},
      {"Flatpak folder only", {flatpak + "/.local/share/Steam"}, ""},
      {"Snap folder only", {"snap/steam/common/.local/share/Steam"}, ""},
      {"native registry file over a Flatpak folder",
       {"games/Steam", flatpak + "/.local/share/Steam"},
       ".steam/registry.vdf"},
      {"any registry file over the folders found by name",
       {"games/Steam", ".local/share/Steam"},
       flatpak + "/.steam/registry.vdf"},
  };
  for (const auto& c : cases) {
    TempDir home;
    for (const auto& folder : c.folders) {
      make_folders(home / folder);
      write_file(home / folder + "/game.conf", " fullscreen = no \n");
    }
    const std::string steam = home / c.folders.front();
    if (!c.registry_file.empty()) {
      make_folders(home / c.registry_file.substr(0, c.registry_file.rfind('/')));
      write_file(home / c.registry_file, steam_registry_file("\"SteamPath\" \"" + steam + "\""));
    }
    const auto result = program().run(home.path(), work_, {});
    EXPECT_EQ(result.exit_status, 0) << c.what;
    EXPECT_EQ(result.output, lines({steam, "Found: " + steam + "/game.conf"}) + prompt()) << c.what;
    EXPECT_EQ(read_file(steam + "/game.conf"), "fullscreen = no\n") << c.what;
  }
}

// Whatever a registry file holds or is, the run ends with a message and status 255, and
// never crashes or waits.
TEST_F(Confmend, SurvivesHostileRegistryFiles) {
  const std::string registry = home_ / ".steam/registry.vdf";
  const struct {
    const char* what;
    std::function<void()> make;
    std::string message;
  } cases[] = {
      {"nested 100,000 blocks deep",
       [&] {
         std::string deep;
         for (int i = 0; i < 100000; ++i) {
           deep += "\"a\" { ";
         }
         write_file(registry, deep);
       },
       kNoKey},
      {"a closing brace missing",
       [&] {
         const std::string whole = steam_registry_file("\"SteamPath\" \"/x\"");
         write_file(registry, whole.substr(0, whole.rfind('}')));
       },
       kNoKey},
      {"a value of 20 MB",
       [&] {
         write_file(registry,
                    steam_registry_file("\"SteamPath\" \"" + std::string(20 << 20, 'x') + "\""));
       },
       kNoKey},
      {"a value of 2,000 bytes",
       [&] {
         write_file(registry,
                    steam_registry_file("\"SteamPath\" \"" + std::string(2000, 'x') + "\""));
       },
       kBadLength},
      {"binary bytes", [&] { write_file(registry, std::string("\0\xFF\x01{\x80\"", 6)); }, kNoKey},
      {"a pipe", [&] { ASSERT_EQ(mkfifo(registry.c_str(), 0600), 0); }, kNoKey},
      {"a folder", [&] { make_folders(registry); }, kNoKey},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(home_ / ".steam");
    make_folders(home_ / ".steam");
    c.make();
    ChildOptions limited;
    limited.time_limit = std::chrono::seconds(10);
    const auto result = run(limited);
    EXPECT_EQ(result.exit_status, 255) << c.what << ": " << result.errors;
    EXPECT_EQ(result.output, lines({c.message}) + prompt()) << c.what;
  }
}

TEST_F(Confmend, NeverOpensPipesAndReportsDanglingLinks) {
  point_registry_at(steam_);
  ASSERT_EQ(mkfifo((steam_ + "/pipe.conf").c_str(), 0600), 0);
  ASSERT_EQ(make_link("nowhere", steam_ + "/dangling.conf"), 0);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output,
            lines({steam_, "Found: " + steam_ + "/dangling.conf",
                   "Cannot read file " + steam_ + "/dangling.conf", "  No such file or directory",
                   "1 file was left unmended; the reason is under it."}) +
                prompt());
  EXPECT_FALSE(file_exists(steam_ + "/nowhere"));
}

// Opening a pipe for reading waits for a writer: the reference must not be waited for.
TEST_F(Confmend, AReferenceThatIsAPipeIsNone) {
  point_registry_at(steam_);
  ASSERT_EQ(unlink((work_ + "/dosbox.conf").c_str()), 0);
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
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output, lines({steam_, "Found: " + steam_ + "/a/locked.conf",
                                  "Cannot write to file " + steam_ + "/a/locked.conf",
                                  "  Permission denied (the file is read-only, or not yours to "
                                  "change)",
                                  "1 file was left unmended; the reason is under it."}) +
                               prompt());
  EXPECT_EQ(read_file(steam_ + "/a/locked.conf"), " x \n");
}

std::string attribute_of(const std::string& path, const char* name) {
  char value[64];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

// Each file is replaced by a new one that is what the old one was; a file with a second name
// is written in place, so that both names keep showing one file.
TEST_F(Confmend, NewFilesAreWhatTheOldOnesWere) {
  SKIP_UNLESS_ROOT("giving files to other owners");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string game = steam_ + "/game";
  make_folders(game);
  make_folders(steam_ + "/real");
  for (const char* name : {"mode.conf", "owned.conf", "attributes.conf", "hard.conf"}) {
    write_file(game + "/" + name, "fullscreen=false\n");
  }
  write_file(steam_ + "/real/target.conf", "fullscreen=false\n");
  ASSERT_EQ(chmod((game + "/mode.conf").c_str(), 0640), 0);
  ASSERT_EQ(chown((game + "/owned.conf").c_str(), 1234, 5678), 0);
  ASSERT_EQ(setxattr((game + "/attributes.conf").c_str(), "user.origin", "steam", 5, 0), 0);
  ASSERT_EQ(make_link("../real/target.conf", game + "/link.conf"), 0);
  ASSERT_EQ(link((game + "/hard.conf").c_str(), (game + "/hard name.txt").c_str()), 0);
  const auto before = [&](const char* name) { return status_of(game + "/" + name).st_ino; };
  const ino_t mode = before("mode.conf"), owned = before("owned.conf"),
              attributes = before("attributes.conf"), hard = before("hard.conf");

  ASSERT_EQ(run().exit_status, 0);
  for (const char* name :
       {"mode.conf", "owned.conf", "attributes.conf", "hard.conf", "hard name.txt", "link.conf"}) {
    EXPECT_EQ(read_file(game + "/" + name), "fullscreen=true\n") << name;
  }
  const struct stat now_mode = status_of(game + "/mode.conf");
  EXPECT_NE(now_mode.st_ino, mode);
  EXPECT_EQ(now_mode.st_mode & 07777, 0640u);
  const struct stat now_owned = status_of(game + "/owned.conf");
  EXPECT_NE(now_owned.st_ino, owned);
  EXPECT_EQ(now_owned.st_uid, 1234u);
  EXPECT_EQ(now_owned.st_gid, 5678u);
  EXPECT_NE(status_of(game + "/attributes.conf").st_ino, attributes);
  EXPECT_EQ(attribute_of(game + "/attributes.conf", "user.origin"), "steam");
  EXPECT_TRUE(S_ISLNK(status_of(game + "/link.conf").st_mode)) << "the link must stay a link";
  const struct stat now_hard = status_of(game + "/hard.conf");
  EXPECT_EQ(now_hard.st_ino, hard);
  EXPECT_EQ(now_hard.st_nlink, 2u);
}

// As an ordinary user: a file of another owner's that the user may write, a writable file in
// a folder that takes no new file, and an attribute the user may not set. A new file could
// not be what the old one is, so each is written in place.
TEST_F(Confmend, WritesInPlaceWhereANewFileCouldNotBeTheSame) {
  SKIP_UNLESS_ROOT("acting as another user");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::vector<std::string> files = {
      steam_ + "/open/foreign.conf", steam_ + "/closed/game.conf", steam_ + "/open/labelled.conf"};
  make_folders(steam_ + "/open");
  make_folders(steam_ + "/closed");
  for (const auto& path : files) {
    write_file(path, "fullscreen=false\n");
  }
  open_to_everyone(home_.path());
  ASSERT_EQ(chown(files[0].c_str(), 1234, 1234), 0);
  ASSERT_EQ(chmod((steam_ + "/closed").c_str(), 0555), 0);
  ASSERT_EQ(chown(files[2].c_str(), 65534, 65534), 0);
  ASSERT_EQ(setxattr(files[2].c_str(), "security.confmend", "1", 1, 0), 0);
  std::vector<ino_t> inodes;
  for (const auto& path : files) {
    inodes.push_back(status_of(path).st_ino);
  }
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  const auto result = run(as_nobody);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(read_file(files[i]), "fullscreen=true\n") << files[i];
    EXPECT_EQ(status_of(files[i]).st_ino, inodes[i]) << files[i] << " was not written in place";
  }
  EXPECT_EQ(status_of(files[0]).st_uid, 1234u);
  EXPECT_EQ(attribute_of(files[2], "security.confmend"), "1");
}

// The new file reaches the disk before it takes the old one's name, and the name before the
// folder is let go; all of it relative to the folder the walk holds open.
TEST_F(Confmend, FlushesTheNewFileBeforeTheRenameAndTheFolderAfter) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " a = 1 \n");
  const std::string trace = home_ / "trace";
  ChildOptions options;
  options.working_folder = work_;
  // The leak checker of the sanitizer build cannot work under a tracer.
  options.environment = {
      {"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}, {"ASAN_OPTIONS", "detect_leaks=0"}};
  const auto result =
      run_program({"strace", "-f", "-o", trace, "-e",
                   "trace=openat,fsync,rename,renameat,renameat2", CONFMEND_PROGRAM},
                  options);
  ASSERT_EQ(result.exit_status, 0) << result.errors;
  std::vector<std::string> calls;
  std::istringstream log(read_file(trace));
  for (std::string line; std::getline(log, line);) {
    calls.push_back(line);
  }
  // The index of the first call at or after `from` that holds every one of the texts.
  const auto find = [&](std::size_t from, std::initializer_list<std::string> texts) {
    for (std::size_t i = from; i < calls.size(); ++i) {
      if (std::all_of(texts.begin(), texts.end(), [&](const std::string& text) {
            return calls[i].find(text) != std::string::npos;
          })) {
        return i;
      }
    }
    ADD_FAILURE() << "no call after " << from << " holds " << *texts.begin() << "\n"
                  << read_file(trace);
    return calls.size();
  };
  const auto descriptor = [&](std::size_t call) {
    return call < calls.size() ? calls[call].substr(calls[call].rfind("= ") + 2) : "?";
  };
  const std::size_t folder = find(0, {"\"" + steam_ + "\"", "O_DIRECTORY"});
  const std::string at = "(" + descriptor(folder) + ", ";
  const std::size_t created = find(folder, {"openat" + at + "\".confmend-", "O_CREAT|O_EXCL"});
  const std::size_t flushed = find(created, {"fsync(" + descriptor(created) + ")", "= 0"});
  const std::size_t renamed =
      find(flushed, {"renameat" + at + "\".confmend-", "\"game.conf\") = 0"});
  find(renamed, {"fsync(" + descriptor(folder) + ")", "= 0"});
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
  EXPECT_EQ(
      run_on_a_terminal(home_.path(), work_, {"", "x", 0, false, "", "-n"}).shown.find('\x07'),
      std::string::npos);
  EXPECT_EQ(Confmend::run().output,
            lines({steam_, "Found: " + steam_ + "/" + name, library}) + prompt());
}

// A dry run reads without touching a time: not of the files, nor of the folders it lists, the
// reference or Steam's lists of libraries (their access times are old enough that any read
// would move them, relatime or not).
TEST_F(Confmend, ADryRunKeepsEveryAccessTime) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/steamapps/common/game");
  write_file(steam_ + "/steamapps/common/game/dosbox.conf", "fullscreen=false\n");
  write_file(steam_ + "/steamapps/libraryfolders.vdf", "\"libraryfolders\" { }\n");
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) {
    paths.push_back(entry.path().string());
  }
  const timespec two_days_ago[2] = {{time(nullptr) - 2 * 86400, 0}, {UTIME_OMIT, UTIME_OMIT}};
  for (const auto& path : paths) {
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), two_days_ago, AT_SYMLINK_NOFOLLOW), 0) << path;
  }
  EXPECT_EQ(run_with({"--dry-run"}).exit_status, 0);
  for (const auto& path : paths) {
    EXPECT_EQ(status_of(path).st_atim.tv_sec, two_days_ago[0].tv_sec) << path << " was read";
  }
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

// Names with a tab, a line feed, a double quote or a backslash: the dry run's headers are
// quoted as git quotes them, and GNU patch, finding each file by its header alone, turns
// every file into what the run writes.
TEST_F(Confmend, QuotesNamesInDiffHeadersSoThatPatchFindsTheFiles) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::vector<std::string> names = {"tab\there.conf", "line\nfeed.conf", "say \"hi\".conf",
                                          "back\\slash.conf", "plain.conf"};
  for (const auto& name : names) {
    write_file(steam_ + "/" + name, " fullscreen = false \r\n");
  }
  const auto preview = run_with({"--dry-run"});
  EXPECT_NE(preview.output.find("\n--- \"" + steam_ + "/tab\\there.conf\"\n"), std::string::npos)
      << preview.output;
  EXPECT_NE(preview.output.find("\n+++ \"" + steam_ + "/back\\\\slash.conf\"\n"), std::string::npos)
      << preview.output;
  write_file(work_ + "/changes.diff", preview.output);
  ChildOptions quiet;
  quiet.environment = {{"PATH", "/usr/bin:/bin"}};
  quiet.working_folder = work_;
  const auto patched =
      run_program({"patch", "--force", "-d", "/", "-p1", "-i", work_ + "/changes.diff"}, quiet);
  EXPECT_EQ(patched.exit_status, 0) << patched.output << patched.errors;
  for (const auto& name : names) {
    EXPECT_EQ(read_file(steam_ + "/" + name), "fullscreen=true\n") << name;
  }
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

// Flatpak's Steam lists its libraries as it sees them from its sandbox: its own folder as
// ~/.local/share/Steam, which outside is another install's, left alone.
TEST_F(Confmend, TakesPathsFlatpakSteamListsAsItSeesThem) {
  const std::string flatpak = home_ / ".var/app/com.valvesoftware.Steam";
  const std::string steam = flatpak + "/.local/share/Steam";
  const std::string native = home_ / ".local/share/Steam";
  make_folders(flatpak + "/.steam");
  write_file(flatpak + "/.steam/registry.vdf",
             steam_registry_file("\"SteamPath\" \"" + steam + "\""));
  for (const std::string& root : {steam, native}) {
    make_folders(root + "/steamapps/common/Game");
    write_file(root + "/steamapps/common/Game/dosbox.conf", " fullscreen = no \n");
  }
  write_file(steam + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\" { \"0\" { \"path\" \"" + native + "\" } }");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output,
            lines({steam, "Found: " + steam + "/steamapps/common/Game/dosbox.conf"}) + prompt());
  EXPECT_EQ(read_file(native + "/steamapps/common/Game/dosbox.conf"), " fullscreen = no \n");
}

std::string deep_name(int level, std::size_t length) {
  return std::to_string(level) + std::string(length, 'd');
}

// Folders made one inside the other below `folder`, each through the last, so that their path
// may be longer than the system takes at once. The descriptor of the deepest, for the caller
// to close.
int make_deep_folders(int folder, int first, int count, std::size_t length) {
  int at = dup(folder);
  for (int level = first; level < first + count && at >= 0; ++level) {
    mkdirat(at, deep_name(level, length).c_str(), 0755);
    const int below = openat(at, deep_name(level, length).c_str(), O_RDONLY | O_DIRECTORY);
    close(at);
    at = below;
  }
  EXPECT_GE(at, 0) << "cannot make deep folders";
  return at;
}

int open_folder(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_DIRECTORY);
}

void write_file_at(int folder, const std::string& name, const std::string& bytes) {
  const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
}

std::string read_file_at(int folder, const std::string& name) {
  const int file = openat(folder, name.c_str(), O_RDONLY);
  std::string bytes;
  char buffer[4096];
  for (ssize_t got; file >= 0 && (got = read(file, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  return bytes;
}

// rm walks a tree by descriptors, as deep as it goes; the test's own clean-up would not.
void remove_deep_tree(const std::string& path) {
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}};
  EXPECT_EQ(run_program({"rm", "-rf", path}, options).exit_status, 0);
}

TEST_F(Confmend, ReachesPathsLongerThanTheSystemTakesAtOnce) {
  point_registry_at(steam_);
  const int steam = open_folder(steam_);
  const int bottom = make_deep_folders(steam, 0, 25, 200);
  close(steam);
  write_file_at(bottom, "game.conf", " a = 1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  std::string path = steam_;
  for (int level = 0; level < 25; ++level) {
    path += "/" + deep_name(level, 200);
  }
  ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(result.output, lines({steam_, "Found: " + path + "/game.conf"}) + prompt());
  EXPECT_EQ(read_file_at(bottom, "game.conf"), "a = 1\n");
  close(bottom);
  remove_deep_tree(steam_ + "/" + deep_name(0, 200));
}

// A link whose target lies outside, but so deep that no path can say where, is never
// followed: what cannot be told to lie within is taken to lie without.
TEST_F(Confmend, NeverFollowsALinkWhoseTargetCannotBeTold) {
  point_registry_at(steam_);
  const std::string outside = home_ / "outside";
  make_folders(outside);
  // Two links, each short enough to be made, lead 20 folders of 221 bytes down.
  const int top = open_folder(outside);
  const int middle = make_deep_folders(top, 0, 10, 220);
  const int bottom = make_deep_folders(middle, 10, 10, 220);
  close(top);
  write_file_at(bottom, "target.conf", " fullscreen = no \n");
  std::string first, second;
  for (int level = 0; level < 10; ++level) {
    first += (level == 0 ? "" : "/") + deep_name(level, 220);
    second += (level == 0 ? "" : "/") + deep_name(level + 10, 220);
  }
  ASSERT_EQ(symlinkat(second.c_str(), middle, "onward"), 0);
  ASSERT_EQ(make_link(first, outside + "/down"), 0);
  make_folders(steam_ + "/game");
  ASSERT_EQ(make_link(outside + "/down/onward/target.conf", steam_ + "/game/far.conf"), 0);
  ASSERT_EQ(read_file(steam_ + "/game/far.conf"), " fullscreen = no \n") << "it leads there";

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({steam_}) + prompt());
  EXPECT_EQ(read_file_at(bottom, "target.conf"), " fullscreen = no \n");
  close(bottom);
  close(middle);
  remove_deep_tree(outside);
}

// Threads reading folders ahead of the walk list none that the walk itself would not: not
// through a link, not outside the tree. The kernel tells of every listing and opening.
TEST_F(Confmend, ReadingAheadListsNoFolderOutsideTheTree) {
  point_registry_at(steam_);
  const std::string outside = home_ / "outside";
  make_folders(outside + "/below/further");
  make_folders(steam_ + "/game/a/b");
  write_file(steam_ + "/game/a/b/game.conf", "swap34=true\n");
  for (const char* link : {"/link", "/game/link", "/game/a/link", "/game/a/b/link"}) {
    ASSERT_EQ(make_link(outside, steam_ + link), 0);
  }
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  // The walk opens a link to tell where it leads, and lists nothing it finds outside.
  ASSERT_GE(inotify_add_watch(watch, outside.c_str(), IN_ACCESS), 0);
  ASSERT_GE(inotify_add_watch(watch, (outside + "/below").c_str(), IN_OPEN | IN_ACCESS), 0);
  ChildOptions reading_ahead;
  reading_ahead.environment = {{"CONFMEND_READ_AHEAD_THREADS", "16"}};
  const auto result = run(reading_ahead);
  EXPECT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(read_file(steam_ + "/game/a/b/game.conf"), "swap34=false\n");
  alignas(inotify_event) char events[4096];
  EXPECT_EQ(read(watch, events, sizeof events), -1) << "a folder outside was read";
  close(watch);
}

// The folder's default ACL, as setfacl -d -m u:nobody:rw,g::-,o::- sets it: in the
// kernel's own form, so that no tool is needed (version 2, then tag, permissions and id).
void give_default_acl(const std::string& folder) {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  const Entry entries[] = {{0x01, 06, 0xFFFFFFFF},   // the owner: rw
                           {0x02, 06, 65534},        // nobody: rw
                           {0x04, 00, 0xFFFFFFFF},   // the group: nothing
                           {0x10, 06, 0xFFFFFFFF},   // the mask
                           {0x20, 00, 0xFFFFFFFF}};  // others: nothing
  std::string value("\x02\0\0\0", 4);
  value.append(reinterpret_cast<const char*>(entries), sizeof entries);
  ASSERT_EQ(setxattr(folder.c_str(), "system.posix_acl_default", value.data(), value.size(), 0), 0)
      << std::strerror(errno);
}

// A default ACL on a folder is handed down to every new file made in it: the new file must
// not keep what the old one lacked.
TEST_F(Confmend, NewFilesTakeNoAccessTheOldOnesLacked) {
  point_registry_at(steam_);
  make_folders(steam_ + "/game");
  write_file(steam_ + "/game/dosbox.conf", " fullscreen = no \n");
  ASSERT_EQ(chmod((steam_ + "/game/dosbox.conf").c_str(), 0640), 0);
  give_default_acl(steam_ + "/game");
  write_file(steam_ + "/game/inherits.conf", "");
  ASSERT_NE(attribute_of(steam_ + "/game/inherits.conf", "system.posix_acl_access"), "(none)")
      << "the folder hands its ACL down";
  ASSERT_EQ(run().exit_status, 0);
  EXPECT_EQ(read_file(steam_ + "/game/dosbox.conf"), "fullscreen = no\n");
  EXPECT_EQ(attribute_of(steam_ + "/game/dosbox.conf", "system.posix_acl_access"), "(none)");
  EXPECT_EQ(status_of(steam_ + "/game/dosbox.conf").st_mode & 07777, 0640u);
}

// Two runs at once, a double-click while one works: one waits for the other, and neither
// damages, reports or leaves behind anything. A file with two names is written in place,
// where a second run reading it half written would cut it short.
TEST_F(Confmend, TwoRunsAtOnceLoseNothing) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  make_folders(steam_ + "/hard");
  std::string big;
  for (int i = 0; i < 200000; ++i) {
    big +=
        i % 2 ? "cycles = " + std::to_string(i) + "\r\n" : "# line " + std::to_string(i) + "\r\n";
  }
  write_file(steam_ + "/hard/dosbox.conf", big);
  ASSERT_EQ(link((steam_ + "/hard/dosbox.conf").c_str(), (steam_ + "/hard/other name").c_str()), 0);
  std::string mended;
  for (int i = 0; i < 200000; ++i) {
    mended += i % 2 ? "cycles=max\n" : "# line " + std::to_string(i) + "\n";
  }
  for (int game = 0; game < 500; ++game) {
    make_folders(steam_ + "/games/" + std::to_string(game));
    write_file(steam_ + "/games/" + std::to_string(game) + "/game.conf", " cycles = 1 \r\n");
  }
  ChildOptions options;
  options.working_folder = work_;
  options.environment = {{"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}};
  options.time_limit = std::chrono::seconds(60);
  const auto result = run_program(
      {"/bin/sh", "-c", "\"$0\" </dev/null >one 2>&1 & \"$0\" </dev/null >two 2>&1 & wait",
       CONFMEND_PROGRAM},
      options);
  ASSERT_EQ(result.exit_status, 0);
  for (const char* output : {"one", "two"}) {
    const std::string shown = read_file(work_ + "/" + output);
    EXPECT_EQ(count_of("Found: ", shown), 501u) << output;
    EXPECT_EQ(shown.find("Cannot"), std::string::npos) << output << ":\n" << shown;
    EXPECT_TRUE(shown.ends_with(prompt())) << output << ":\n" << shown;
  }
  EXPECT_TRUE(read_file(steam_ + "/hard/dosbox.conf") == mended) << "the file was cut short";
  EXPECT_EQ(status_of(steam_ + "/hard/dosbox.conf").st_nlink, 2u);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(steam_)) {
    files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entry.path().filename().string().find(".confmend-"), std::string::npos)
        << entry.path() << " was left behind";
  }
  EXPECT_EQ(files, 502u);
}

}  // namespace

namespace {

// Where no copy can be kept to take the run back by, no file is changed: each is left and
// said, with the reason, and a file whose bytes would not change needs none.
TEST_F(Confmend, ChangesNothingItCouldNotTakeBack) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  write_file(steam_ + "/a.conf", "fullscreen=false\n");
  write_file(steam_ + "/same.conf", "fullscreen=true\n");
  write_file(home_ / "state", "a file where the state folder would be");
  ChildOptions options;
  options.environment = {{"XDG_STATE_HOME", home_ / "state"}};
  const auto result = run(options);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find("Found: " + steam_ +
                               "/a.conf\n"
                               "Left unchanged, no copy could be kept to undo it: " +
                               steam_ + "/a.conf\n  Not a directory\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(result.output.find("undo it: " + steam_ + "/same.conf"), std::string::npos);
  EXPECT_EQ(read_file(steam_ + "/a.conf"), "fullscreen=false\n");
  // A relative XDG_STATE_HOME is none: the store is under the home folder.
  options.environment = {{"XDG_STATE_HOME", "state"}};
  EXPECT_EQ(run(options).exit_status, 0);
  EXPECT_TRUE(std::filesystem::is_directory(home_ / ".local/state/confmend"));
}

}  // namespace
