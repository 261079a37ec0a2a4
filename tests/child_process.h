#ifndef CONFMEND_TESTS_CHILD_PROCESS_H_
#define CONFMEND_TESTS_CHILD_PROCESS_H_

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/temp_files.h"

// Lets the unprivileged user reach and change everything below `path`.
void open_to_everyone(const std::string& path);

struct ChildOptions {
  bool unprivileged = false;                       // run as nobody when started as root
  long file_size_limit = -1;                       // RLIMIT_FSIZE in bytes, -1 for none
  long address_space_limit = -1;                   // RLIMIT_AS in bytes, -1 for none
  long open_file_limit = -1;                       // RLIMIT_NOFILE, soft and hard, -1 for none
  std::string working_folder;                      // empty: stay where we are
  std::string standard_input;                      // fed to the child, then end of input
  std::map<std::string, std::string> environment;  // replaces the whole environment when set
  int interrupt_signal = 0;                        // sent to the child, if not 0, ...
  std::chrono::microseconds interrupt_after{0};    // ... this long after it started
  std::chrono::seconds time_limit{20};             // then it is killed, and the test fails
};

struct ChildResult {
  int exit_status = -1;  // the exit code, or 128 + signal number
  std::string output;    // everything written to standard output
  std::string errors;    // everything written to standard error
};

// Runs `body` in a forked child, with the options applied, and collects what it printed.
ChildResult run_in_child(const std::function<void()>& body, const ChildOptions& options = {});

// Runs a program in a child process, as run_in_child does; a program that cannot be started
// fails the test, saying why.
ChildResult run_program(const std::vector<std::string>& command, const ChildOptions& options);

bool running_as_root();
// CI sets CI=true; there nothing may be skipped.
bool running_under_ci();

// For a test that needs root: an ordinary user skips the rest of it, with one line saying
// what and why; under CI it fails instead.
#define SKIP_UNLESS_ROOT(what)                                      \
  do {                                                              \
    if (!running_as_root()) {                                       \
      if (running_under_ci()) {                                     \
        FAIL() << (what) << " needs root, and CI may skip nothing"; \
      }                                                             \
      GTEST_SKIP() << "SKIPPED: " << (what) << " (it needs root)";  \
    }                                                               \
  } while (false)

#endif  // CONFMEND_TESTS_CHILD_PROCESS_H_
