#include "tests/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr std::string_view kCannotStart = "cannot start ";

void fail_hard(const char* what) {
  std::perror(what);
  std::abort();
}

void apply_options(const ChildOptions& options) {
  if (!options.working_folder.empty() && chdir(options.working_folder.c_str()) != 0) {
    fail_hard("chdir");
  }
  if (options.file_size_limit >= 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                       static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      fail_hard("setrlimit");
    }
  }
  if (options.address_space_limit >= 0) {
    const rlimit limit{static_cast<rlim_t>(options.address_space_limit),
                       static_cast<rlim_t>(options.address_space_limit)};
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
      fail_hard("setrlimit");
    }
  }
  if (options.open_file_limit >= 0) {
    const rlimit limit{static_cast<rlim_t>(options.open_file_limit),
                       static_cast<rlim_t>(options.open_file_limit)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      fail_hard("setrlimit");
    }
  }
  if (options.unprivileged && getuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
      fail_hard("drop privileges");
    }
  }
}

// Writes the input and reads both outputs at once, so that no pipe fills up and stalls; sends
// the interruption, if one is asked for, when its time comes. Returns the child's wait status
// once it has ended and its outputs are closed, or a moment after it ended if something it
// started (a command interpreter left waiting, say) still holds them.
int exchange(pid_t pid, int input, int output, int errors, const ChildOptions& options,
             ChildResult& result) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kGrace = std::chrono::seconds(1);
  const std::string& feed = options.standard_input;
  const auto interrupt_at = std::chrono::steady_clock::now() + options.interrupt_after;
  bool interrupt_pending = options.interrupt_signal != 0;
  std::size_t fed = 0;
  if (feed.empty()) {
    close(input);
    input = -1;
  }
  char buffer[65536];
  int status = 0;
  bool ended = false;
  Clock::time_point ended_at;
  const auto deadline = Clock::now() + options.time_limit;
  bool killed = false;
  while (!ended || ((output >= 0 || errors >= 0) && Clock::now() - ended_at < kGrace)) {
    if (!ended && !killed && Clock::now() > deadline) {
      killed = true;
      kill(pid, SIGKILL);
      result.errors +=
          "killed: still running after " + std::to_string(options.time_limit.count()) + " s\n";
    }
    // With its outputs closed, and nothing left to send it, the child is only waited for.
    const bool only_waiting = output < 0 && errors < 0 && !interrupt_pending;
    if (!ended && waitpid(pid, &status, only_waiting ? 0 : WNOHANG) == pid) {
      ended = true;
      ended_at = Clock::now();
    }
    if (ended && output < 0 && errors < 0) {
      break;
    }
    int timeout = 100;
    if (interrupt_pending) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          interrupt_at - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        kill(pid, options.interrupt_signal);
        interrupt_pending = false;
      } else {
        timeout = std::min(timeout, static_cast<int>(left.count()));
      }
    }
    pollfd fds[3] = {{output, POLLIN, 0}, {errors, POLLIN, 0}, {input, POLLOUT, 0}};
    if (poll(fds, 3, timeout) <= 0) {
      continue;
    }
    if (fds[2].revents != 0) {
      const ssize_t n = write(input, feed.data() + fed, feed.size() - fed);
      fed += n > 0 ? static_cast<std::size_t>(n) : 0;
      if (n <= 0 || fed == feed.size()) {
        close(input);
        input = -1;
      }
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.output : result.errors).append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        (i == 0 ? output : errors) = -1;
      }
    }
  }
  for (int fd : {input, output, errors}) {
    if (fd >= 0) {
      close(fd);
    }
  }
  return status;
}

}  // namespace

ChildResult run_in_child(const std::function<void()>& body, const ChildOptions& options) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
    fail_hard("pipe");
  }
  std::cout.flush();
  const pid_t pid = fork();
  if (pid < 0) {
    fail_hard("fork");
  }
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      close(fd);
    }
    apply_options(options);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
      signal(number, SIG_DFL);  // as a user's shell would start it
    }
    body();
    std::cout.flush();
    _exit(0);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  ChildResult result;
  const int status = exchange(pid, in[1], out[0], err[0], options, result);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void open_to_everyone(const std::string& path) {
  chmod(path.c_str(), 0777);
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      const auto mode = it->is_directory(ignored) ? 0777 : 0666;
      chmod(it->path().c_str(), static_cast<mode_t>(mode));
    }
  }
}

namespace {

// A copy of the file that the unprivileged user can reach and run: the build folder of a
// clone may lie where only its owner may enter (a home of mode 0700). Copies are made once
// and kept until the tests end.
std::string reachable_copy(const std::string& file) {
  static TempDir folder;
  static std::map<std::string, std::string> copies;
  const auto known = copies.find(file);
  if (known != copies.end()) {
    return known->second;
  }
  const std::string copy = folder / std::to_string(copies.size());
  std::error_code error;
  fs::copy_file(file, copy, fs::copy_options::overwrite_existing, error);
  chmod(folder.path().c_str(), 0755);
  chmod(copy.c_str(), 0755);
  return copies[file] = error ? file : copy;
}

}  // namespace

ChildResult run_program(const std::vector<std::string>& command, const ChildOptions& options) {
  std::vector<std::string> words = command;
  std::map<std::string, std::string> environment = options.environment;
  if (options.unprivileged && running_as_root()) {
    words[0] = reachable_copy(words[0]);
    if (environment.count("LD_PRELOAD") == 1) {
      environment["LD_PRELOAD"] = reachable_copy(environment["LD_PRELOAD"]);
    }
  }
  ChildResult result = run_in_child(
      [&] {
        std::vector<char*> argv;
        for (auto& word : words) {
          argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> env_strings;
        for (const auto& [name, value] : environment) {
          env_strings.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (auto& entry : env_strings) {
          envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        if (environment.empty()) {
          execvp(argv[0], argv.data());
        } else {
          execvpe(argv[0], argv.data(), envp.data());
        }
        const std::string why =
            std::string(kCannotStart) + words[0] + ": " + std::strerror(errno) + "\n";
        (void)!write(STDERR_FILENO, why.data(), why.size());
        _exit(127);
      },
      options);
  // Said in the test's own report, rather than left to show as a status and no output.
  if (result.exit_status == 127 && result.errors.starts_with(kCannotStart)) {
    ADD_FAILURE() << result.errors;
  }
  return result;
}

bool running_as_root() {
  return geteuid() == 0;
}

bool running_under_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}
