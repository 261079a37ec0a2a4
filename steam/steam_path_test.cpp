#include "steam/steam_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/child_process.h"
#include "tests/steam_registry.h"

namespace {

// Each case gets a home folder of its own with the given registry file, if any.
class FindSteamPath : public testing::Test {
 protected:
  void SetUp() override { make_folders(home_ / ".steam"); }
  SteamPathFailure find(std::string& folder) {
    return steam_path_from(stored_steam_path_below(home_.path()), folder);
  }

  TempDir home_;
};

TEST_F(FindSteamPath, TakesTheValueWithinTheSizeLimits) {
  const struct {
    const char* what;
    std::string registry;
    SteamPathFailure failure;
    std::string folder;
  } cases[] = {
      {"plain value", steam_registry_file("\"SteamPath\" \"/games/Steam\""),
       SteamPathFailure::kNone, "/games/Steam"},
      {"1023 bytes and the terminator",
       steam_registry_file("SteamPath \"/" + std::string(1022, 's') + "\""),
       SteamPathFailure::kNone, "/" + std::string(1022, 's')},
      {"1024 bytes and the terminator",
       steam_registry_file("SteamPath \"/" + std::string(1023, 's') + "\""),
       SteamPathFailure::kInvalidLength, ""},
      {"empty value", steam_registry_file("\"SteamPath\" \"\""), SteamPathFailure::kInvalidLength,
       ""},
      {"value is a block", steam_registry_file("\"SteamPath\" { }"), SteamPathFailure::kNoValue,
       ""},
      {"no value and no link", steam_registry_file("\"Other\" \"1\""), SteamPathFailure::kNoValue,
       ""},
      {"no Steam key", "\"Registry\" { \"HKCU\" { } }", SteamPathFailure::kNoKey, ""},
      {"malformed file", "\"Registry\" {", SteamPathFailure::kNoKey, ""},
  };
  for (const auto& c : cases) {
    write_file(home_ / ".steam/registry.vdf", c.registry);
    std::string folder;
    EXPECT_EQ(find(folder), c.failure) << c.what;
    if (c.failure == SteamPathFailure::kNone) {
      EXPECT_EQ(folder, c.folder) << c.what;
    }
  }
}

TEST_F(FindSteamPath, NoRegistryFileMeansNoKey) {
  std::string folder;
  EXPECT_EQ(find(folder), SteamPathFailure::kNoKey);
}

TEST_F(FindSteamPath, FallsBackToTheSteamRootLink) {
  make_folders(home_ / "Steam");
  ASSERT_EQ(symlink((home_ / "Steam").c_str(), (home_ / ".steam/root").c_str()), 0);
  write_file(home_ / ".steam/registry.vdf", steam_registry_file("\"language\" \"english\""));
  std::string folder;
  EXPECT_EQ(find(folder), SteamPathFailure::kNone);
  EXPECT_EQ(folder, home_ / "Steam");
}

}  // namespace
