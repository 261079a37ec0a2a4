#ifndef CONFMEND_STEAM_STEAM_REGISTRY_POSIX_H_
#define CONFMEND_STEAM_STEAM_REGISTRY_POSIX_H_

// POSIX only: the lookups of steam_registry.h for a given home folder.

#include <string>
#include <vector>

#include "steam/steam_registry.h"

StoredSteamPath stored_steam_path_below(const std::string& home);
std::vector<SandboxPath> steam_sandbox_paths_below(const std::string& home,
                                                   const std::string& steam_folder);

#endif  // CONFMEND_STEAM_STEAM_REGISTRY_POSIX_H_
