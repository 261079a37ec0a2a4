#ifndef CONFMEND_STEAM_LIBRARY_FOLDERS_H_
#define CONFMEND_STEAM_LIBRARY_FOLDERS_H_

#include <string>
#include <string_view>
#include <vector>

#include "disk/folder.h"
#include "steam/steam_path.h"

// Steam installs games in the Steam folder and in further library folders (another drive, an
// SD card), which it lists in libraryfolders.vdf.

// The library folders a list names, in its order: today's form (numbered blocks, each with
// its "path", those marked "mounted" "0" left out) and the one before mid-2021 (numbered
// keys whose values are the paths). Nothing when the text is malformed.
std::vector<std::string> library_paths_in(std::string_view text);

// The libraries beside the Steam folder, each once, in the order of Steam's two lists
// (steamapps/libraryfolders.vdf, then config/libraryfolders.vdf; either may be missing or
// unreadable). A path Steam wrote from inside its sandbox is given as it is outside it.
std::vector<std::string> further_steam_libraries(const std::string& steam_folder,
                                                 const std::vector<SandboxPath>& sandbox);

// The folder of a library that holds its games, "steamapps", found without regard to case
// (older installs have "SteamApps"); not open when there is none.
Folder open_steamapps_folder(const std::string& library);

#endif  // CONFMEND_STEAM_LIBRARY_FOLDERS_H_
