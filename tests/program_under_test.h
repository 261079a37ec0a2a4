#ifndef CONFMEND_TESTS_PROGRAM_UNDER_TEST_H_
#define CONFMEND_TESTS_PROGRAM_UNDER_TEST_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/child_process.h"

// How the end-to-end tests reach confmend on one platform: the native program, or the
// Windows program under Wine. The same cases run against both.
class ProgramUnderTest {
 public:
  virtual ~ProgramUnderTest() = default;

  // The path as the program spells it (Wine shows a Linux folder as Z:/...).
  virtual std::string spelled(const std::string& path) const = 0;
  // The Steam key with this "SteamPath" value; without one, the key alone.
  virtual void set_steam_path(const std::string& home,
                              const std::optional<std::string>& value) const = 0;
  virtual void remove_steam_key(const std::string& home) const = 0;
  // Runs the program in `folder` with this HOME and these arguments.
  virtual ChildResult run(const std::string& home, const std::string& folder,
                          const ChildOptions& options,
                          const std::vector<std::string>& arguments = {}) const = 0;
  // The path as Steam lists a library there (Windows: D:\SteamLibrary).
  virtual std::string listed(const std::string& path) const { return spelled(path); }

  virtual std::string line_end() const = 0;
  // What the pause prints, line end included.
  virtual std::string pause_prompt() const = 0;
  // The exit status the failure exit (-1) is seen as.
  virtual int failure_status() const { return 255; }
  // Where the program keeps its undo store for this HOME, as a Linux path. Under Wine it is
  // the prefix's, one for every HOME.
  virtual std::string undo_store(const std::string& home) const {
    return home + "/.local/state/confmend";
  }
};

const ProgramUnderTest& program_under_test();

// Under Wine only: the environment a program runs in, with this HOME.
std::map<std::string, std::string> wine_environment(const std::string& home);

// Under Wine only: runs a command through Wine, again should Wine say it could not start it.
ChildResult run_under_wine(const std::vector<std::string>& command, const ChildOptions& options);

// Under Wine only: the Steam key with a "SteamPath" value of this type (REG_SZ, REG_DWORD...),
// as `reg add` takes it.
void set_steam_value_under_wine(const std::string& type, const std::string& data);

#endif  // CONFMEND_TESTS_PROGRAM_UNDER_TEST_H_
