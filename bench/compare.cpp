// Times shell commands in alternation (A B C A B C ...) after warm-up rounds, with an untimed
// reset before every run, and prints for each: its name, the median wall time in seconds, its
// peak resident memory in KiB, and the median user and system CPU times in seconds.
//
//   compare RUNS WARMUP RESET NAME COMMAND [NAME COMMAND ...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Timing {
  double seconds = 0;
  long peak_kib = 0;
  double user = 0;
  double system = 0;
};

double in_seconds(const timeval& time) {
  return time.tv_sec + time.tv_usec / 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A timed command replaces the shell, so that the memory measured is the command's own: one
// that first changes folder ("cd DIR && ... exec PROGRAM") brings its own exec, so that no
// program but the one timed is started. A reset, which may be a list of commands, runs in the
// shell.
Timing run(const std::string& command, bool timed = true) {
  const bool own_exec = command.starts_with("cd ");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", ((timed && !own_exec ? "exec " : "") + command).c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return {spent.count(), usage.ru_maxrss, in_seconds(usage.ru_utime), in_seconds(usage.ru_stime)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || (argc - 4) % 2 != 0) {
    std::fprintf(stderr, "usage: compare RUNS WARMUP RESET NAME COMMAND [NAME COMMAND ...]\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const int warmup = std::atoi(argv[2]);
  const std::string reset = argv[3];
  const int cases = (argc - 4) / 2;
  std::vector<std::vector<double>> seconds(cases), user(cases), system(cases);
  std::vector<long> peak(cases, 0);
  for (int round = 0; round < warmup + runs; ++round) {
    for (int c = 0; c < cases; ++c) {
      if (!reset.empty()) {
        run(reset, false);
      }
      const Timing timing = run(argv[5 + 2 * c]);
      if (round >= warmup) {
        seconds[c].push_back(timing.seconds);
        user[c].push_back(timing.user);
        system[c].push_back(timing.system);
        peak[c] = std::max(peak[c], timing.peak_kib);
      }
    }
  }
  for (int c = 0; c < cases; ++c) {
    std::printf("%s %.6f %ld %.6f %.6f\n", argv[4 + 2 * c], median(seconds[c]), peak[c],
                median(user[c]), median(system[c]));
  }
  return 0;
}
