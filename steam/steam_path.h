#ifndef CONFMEND_STEAM_STEAM_PATH_H_
#define CONFMEND_STEAM_STEAM_PATH_H_

#include <string>

enum class SteamPathFailure {
  kNone,
  kNoKey,          // the registry key cannot be opened
  kNoValue,        // the value cannot be read
  kInvalidLength,  // its size is 0 or over 1024 bytes, or its text is empty
  kNoMemory,
};

// Reads the Steam folder from the "SteamPath" registry value, as stored.
SteamPathFailure find_steam_path(std::string& folder);

// The message that tells the user of a failure.
const char* steam_path_failure_message(SteamPathFailure failure);

// The Steam folder. On failure it prints the message, pauses and ends the process with -1.
std::string get_steam_path();

#endif  // CONFMEND_STEAM_STEAM_PATH_H_
