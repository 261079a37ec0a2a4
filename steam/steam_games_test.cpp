#include "steam/steam_games.h"

#include <gtest/gtest.h>

#include "tests/app_cache.h"
#include "tests/temp_files.h"

namespace {

const std::vector<CachedApp> kApps = {
    {10,
     {{"run.sh", "", "", "", "linux"},
      {"DOSBox\\dosbox.exe", "-conf setup.conf", "DOSBox", "option1", "windows"},
      {"DOSBox\\dosbox.exe", "-conf ..\\game.conf -fullscreen", "DOSBox", "default",
       "windows,macos"}}},
    {20, {{"other.exe", "", "", "", ""}}},
    {30, {{"game.sh", "", "", "", "linux"}}},
};

// Each format Steam has written: the default launch for Windows of each app asked for, and
// nothing of apps not asked for or without one.
TEST(LaunchesInAppCache, TakesEachAppsDefaultWindowsLaunchInEveryFormat) {
  for (const std::uint32_t format : {0x07564427u, 0x07564428u, 0x07564429u}) {
    const TempDir folder;
    write_file(folder / "appinfo.vdf", AppCacheWriter(format).bytes(kApps));
    const auto launches = launches_in_app_cache(folder / "appinfo.vdf", {10, 30, 40});
    ASSERT_EQ(launches.size(), 1u) << std::hex << format;
    const GameLaunch& launch = launches.at(10);
    EXPECT_EQ(launch.executable, "DOSBox\\dosbox.exe");
    EXPECT_EQ(launch.arguments, "-conf ..\\game.conf -fullscreen");
    EXPECT_EQ(launch.working_folder, "DOSBox");
  }
}

// A cache cut short anywhere, or holding another format, tells what it can and nothing
// wrong; cut in the table of names, nothing.
TEST(LaunchesInAppCache, TellsNothingWrongOfACacheCutShortOrOfAnotherFormat) {
  const TempDir folder;
  for (const std::uint32_t format : {0x07564428u, 0x07564429u}) {
    const std::string whole = AppCacheWriter(format).bytes(kApps);
    // Every size for the format with a table of names; every fifth for the other.
    for (std::size_t size = 0; size < whole.size(); size += format == 0x07564429u ? 1 : 5) {
      write_file(folder / "appinfo.vdf", whole.substr(0, size));
      for (const auto& [app, launch] : launches_in_app_cache(folder / "appinfo.vdf", {10, 20})) {
        EXPECT_EQ(launch.executable, app == 10 ? "DOSBox\\dosbox.exe" : "other.exe") << size;
      }
    }
  }
  std::string other = AppCacheWriter(0x07564428).bytes(kApps);
  other[0] = 0x26;
  write_file(folder / "appinfo.vdf", other);
  EXPECT_TRUE(launches_in_app_cache(folder / "appinfo.vdf", {10}).empty());
  EXPECT_TRUE(launches_in_app_cache(folder / "missing.vdf", {10}).empty());
}

TEST(AddLaunchOptions, TakesTheWordsAfterCommandAsArguments) {
  const struct {
    std::string options, arguments;
  } cases[] = {
      {"", "-conf a.conf"},
      {"-fullscreen", "-conf a.conf -fullscreen"},
      {"%command% -machine vgaonly", "-conf a.conf -machine vgaonly"},
      {"PROTON_LOG=1 %command%", "-conf a.conf"},
      {"gamemoderun %command%   -fullscreen", "-conf a.conf -fullscreen"},
  };
  for (const auto& c : cases) {
    GameLaunch launch{"dosbox.exe", "-conf a.conf", ""};
    add_launch_options(launch, c.options);
    EXPECT_EQ(launch.arguments, c.arguments) << c.options;
  }
}

// A manifest is Steam's, but its folder name must lead into steamapps/common and nowhere else.
TEST(InstalledGames, TakesEachManifestsGameInItsFolderUnderCommon) {
  const TempDir steamapps;
  const auto manifest = [&](const std::string& id, const std::string& folder) {
    write_file(steamapps / ("appmanifest_" + id + ".acf"),
               "\"AppState\"\n{\n\t\"appid\"\t\t\"" + id + "\"\n\t\"name\"\t\t\"Game " + id +
                   "\"\n\t\"installdir\"\t\t\"" + folder + "\"\n}\n");
  };
  manifest("2300", "Doom 2");
  manifest("100", "Arctic");
  manifest("5", "..");
  manifest("6", "../../home");
  manifest("7", "a\\\\b");
  write_file(steamapps / "appmanifest_8.acf", "\"AppState\" { \"appid\" ");
  const auto games = installed_games(Folder::open(steamapps.path()));
  ASSERT_EQ(games.size(), 2u);
  EXPECT_EQ(games[0].appid, 100u);
  EXPECT_EQ(games[0].name, "Game 100");
  EXPECT_EQ(games[1].folder, steamapps / "common/Doom 2");
}

TEST(PlayersLaunchOptions, TakesThoseOfTheUserWhoLoggedInLast) {
  const TempDir steam;
  make_folders(steam / "config");
  write_file(steam / "config/loginusers.vdf",
             "\"users\"\n{\n\"76561197960265729\"\n{\n\"MostRecent\" \"0\"\n}\n"
             "\"76561197960265730\"\n{\n\"mostrecent\" \"1\"\n}\n}\n");
  make_folders(steam / "userdata/2/config");
  write_file(steam / "userdata/2/config/localconfig.vdf",
             "\"UserLocalConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" { \"apps\" {\n"
             "\"2300\" { \"LaunchOptions\" \"-fullscreen\" }\n\"10\" { \"playtime\" \"5\" }\n"
             "} } } } }\n");
  const auto options = players_launch_options(steam.path());
  EXPECT_EQ(options, (std::map<std::uint32_t, std::string>{{2300, "-fullscreen"}}));
}

// Proton runs the game's own Windows DOSBox; another tool may run anything else.
TEST(GamesRunByOtherTools, TakesThoseMappedToAToolOtherThanProton) {
  const TempDir steam;
  make_folders(steam / "config");
  write_file(steam / "config/config.vdf",
             "\"InstallConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" {\n"
             "\"CompatToolMapping\" {\n\"2300\" { \"name\" \"boxtron\" \"priority\" \"250\" }\n"
             "\"2400\" { \"name\" \"proton_8\" }\n\"2500\" { \"name\" \"Proton-GE\" }\n"
             "\"2600\" { \"name\" \"\" }\n} } } } }\n");
  EXPECT_EQ(games_run_by_other_tools(steam.path()), (std::set<std::uint32_t>{2300}));
}

}  // namespace
