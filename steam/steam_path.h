#ifndef CONFMEND_STEAM_STEAM_PATH_H_
#define CONFMEND_STEAM_STEAM_PATH_H_

#include <string>

#include "steam/steam_registry.h"

// The Steam folder in what the registry stores: its data must be 1 to 1024 bytes long, a
// terminating NUL included, and its text up to the first NUL must not be empty.
SteamPathFailure steam_path_from(const StoredSteamPath& stored, std::string& folder);

// Reads the Steam folder from the "SteamPath" registry value, as stored.
SteamPathFailure find_steam_path(std::string& folder);

// The message that tells the user of a failure.
const char* steam_path_failure_message(SteamPathFailure failure);

// The Steam folder. On failure it prints the message, pauses and ends the process with -1.
std::string get_steam_path();

#endif  // CONFMEND_STEAM_STEAM_PATH_H_
