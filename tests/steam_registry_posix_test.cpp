// Steam's registry file as the native program reads it: the file Steam writes, its root
// link, every place Steam is installed, hostile files, and Flatpak's paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
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

}  // namespace
