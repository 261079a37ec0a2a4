#include "steam/steam_path.h"

#include <cstdlib>

#include "console/console.h"

namespace {

constexpr std::size_t kLargestValue = 1024;

}  // namespace

SteamPathFailure steam_path_from(const StoredSteamPath& stored, std::string& folder) {
  if (stored.failure != SteamPathFailure::kNone) {
    return stored.failure;
  }
  if (stored.data.empty() || stored.data.size() > kLargestValue) {
    return SteamPathFailure::kInvalidLength;
  }
  folder = stored.data.substr(0, stored.data.find('\0'));
  // Searching from "" would walk the top folder of the drive.
  return folder.empty() ? SteamPathFailure::kInvalidLength : SteamPathFailure::kNone;
}

SteamPathFailure find_steam_path(std::string& folder) {
  return steam_path_from(stored_steam_path(), folder);
}

const char* steam_path_failure_message(SteamPathFailure failure) {
  switch (failure) {
    case SteamPathFailure::kNoKey:
      return "Cannot access the registry key, perhaps Steam is missing?";
    case SteamPathFailure::kNoValue:
      return "Cannot access the registry value, perhaps Steam is missing?";
    case SteamPathFailure::kInvalidLength:
      return "Cannot access the registry value, length is invalid, perhaps Steam is missing or "
             "badly installed?";
    case SteamPathFailure::kNone:
      break;
  }
  return "";
}

std::string get_steam_path() {
  std::string folder;
  const SteamPathFailure failure = find_steam_path(folder);
  if (failure != SteamPathFailure::kNone) {
    print_line(steam_path_failure_message(failure));
    pause_console();
    std::exit(-1);
  }
  return folder;
}
