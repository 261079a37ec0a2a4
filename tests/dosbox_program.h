#ifndef CONFMEND_TESTS_DOSBOX_PROGRAM_H_
#define CONFMEND_TESTS_DOSBOX_PROGRAM_H_

#include <string>
#include <utility>
#include <vector>

#include "tests/child_process.h"

// DOSBox itself (Debian's dosbox, 0.74-3), run headless in a sandbox: the client of the files
// the program mends.

bool dosbox_installed();

// A test that needs DOSBox: without it, the rest is skipped with one line; under CI it fails.
#define SKIP_UNLESS_DOSBOX(what)                                             \
  do {                                                                       \
    if (!dosbox_installed()) {                                               \
      if (running_under_ci()) {                                              \
        FAIL() << (what) << " needs dosbox, and CI may skip nothing";        \
      }                                                                      \
      GTEST_SKIP() << "SKIPPED: " << (what) << " (dosbox is not installed)"; \
    }                                                                        \
  } while (false)

// Runs DOSBox with HOME at `home`, each configuration file as a -conf in order, their
// [autoexec] skipped, then the DOS commands, then exit.
ChildResult run_dosbox(const std::string& home, const std::vector<std::string>& configurations,
                       const std::vector<std::string>& commands);

// What DOSBox reads for each property (section, name) from the configuration files, as
// "config -get" tells it.
std::vector<std::string> dosbox_reads(
    const std::string& home, const std::vector<std::string>& configurations,
    const std::vector<std::pair<std::string, std::string>>& properties);

#endif  // CONFMEND_TESTS_DOSBOX_PROGRAM_H_
