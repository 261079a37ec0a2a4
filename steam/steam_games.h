#ifndef CONFMEND_STEAM_STEAM_GAMES_H_
#define CONFMEND_STEAM_STEAM_GAMES_H_

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "disk/folder.h"

// The games Steam has installed, and how Steam starts each. These are Steam's files, read
// only, and can hold anything: what cannot be read leaves a game's launch unknown.

// A game, from the appmanifest_<id>.acf in a library's steamapps folder.
struct SteamGame {
  std::uint32_t appid = 0;
  std::string name;
  std::string folder;  // steamapps/common/<installdir>, as a path
};

// The games whose manifests lie in the steamapps folder, by their ids.
std::vector<SteamGame> installed_games(const Folder& steamapps);

// How Steam starts a game on Windows (and so under Proton too, which DOS games' DOSBox runs
// on): paths as Windows writes them, relative to the game's folder.
struct GameLaunch {
  std::string executable;
  std::string arguments;
  std::string working_folder;  // empty: the executable's
};

// Steam's cache of what it knows of apps (appcache/appinfo.vdf, formats 27, 28 and 29), read
// a piece at a time: it often holds hundreds of megabytes. The Windows launch of each app
// asked for that has one.
std::map<std::uint32_t, GameLaunch> launches_in_app_cache(const std::string& path,
                                                          const std::set<std::uint32_t>& apps);

// One app's binary KeyValues, as the cache holds it: its first launch for Windows (or for no
// system in particular), one of the default type first. `strings` is the cache's table of key
// names, in format 29, which names keys by their number there.
std::optional<GameLaunch> windows_launch(std::string_view key_values,
                                         const std::vector<std::string_view>* strings);

// Adds what the player added in Steam's launch options (`options`, as localconfig.vdf keeps
// them): words after %command% are further arguments, words before it are not DOSBox's;
// without %command%, all are arguments.
void add_launch_options(GameLaunch& launch, std::string_view options);

// The launch options the Steam user who logged in last gave each game, from
// config/loginusers.vdf and that user's localconfig.vdf.
std::map<std::uint32_t, std::string> players_launch_options(const std::string& steam_folder);

// The games Steam runs through a compatibility tool other than Proton (config/config.vdf's
// CompatToolMapping), such as one that starts the host's own DOSBox instead of the game's.
std::set<std::uint32_t> games_run_by_other_tools(const std::string& steam_folder);

#endif  // CONFMEND_STEAM_STEAM_GAMES_H_
