#ifndef CONFMEND_STEAM_STEAM_PATH_H_
#define CONFMEND_STEAM_STEAM_PATH_H_

#include <string>
#include <vector>

// Why there is no Steam folder.
enum class SteamPathFailure {
  kNone,
  kNoKey,          // the registry key cannot be opened
  kNoValue,        // the value cannot be read
  kInvalidLength,  // its size is 0 or over 1024 bytes, or its text is empty
};

// The "SteamPath" value as the current user's registry stores it: the Windows registry, or on
// Linux the registry file that Steam keeps there, or failing that the folder Steam was
// installed in. Its data is text, ended by a NUL where it was stored with one.
struct StoredSteamPath {
  SteamPathFailure failure = SteamPathFailure::kNone;  // kNoKey or kNoValue
  std::string data;
};
StoredSteamPath stored_steam_path();

// A folder as Steam sees it from inside its sandbox (Flatpak), and where it really is.
struct SandboxPath {
  std::string inside;
  std::string outside;
};
// For a Steam folder that lies in a sandbox, where the paths Steam writes there lead.
std::vector<SandboxPath> steam_sandbox_paths(const std::string& steam_folder);

#ifndef _WIN32
// The same lookups for a given home folder, where Steam keeps its registry in files.
StoredSteamPath stored_steam_path_below(const std::string& home);
std::vector<SandboxPath> steam_sandbox_paths_below(const std::string& home,
                                                   const std::string& steam_folder);
#endif

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
