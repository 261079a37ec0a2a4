#include "steam/steam_path.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "steam/registry.h"

namespace {

constexpr std::uint32_t kLargestValue = 1024;

}  // namespace

SteamPathFailure find_steam_path(std::string& folder) {
  RegistryKey* key = open_user_registry_key("Software\\Valve\\Steam");
  if (key == nullptr) {
    return SteamPathFailure::kNoKey;
  }
  SteamPathFailure failure = SteamPathFailure::kNone;
  std::uint32_t size = 0;
  char* buffer = nullptr;
  if (!query_registry_value_size(key, "SteamPath", size)) {
    failure = SteamPathFailure::kNoValue;
  } else if (size == 0 || size > kLargestValue) {
    failure = SteamPathFailure::kInvalidLength;
  } else if ((buffer = static_cast<char*>(std::calloc(size + 2, 1))) == nullptr) {
    failure = SteamPathFailure::kNoMemory;
  } else {
    // Room for one byte more than reported: a value that grew by one byte is still read
    // whole, and the zeroed spare byte ends a value stored without its terminator.
    std::uint32_t read = size + 1;
    if (!read_registry_value(key, "SteamPath", buffer, read)) {
      failure = SteamPathFailure::kNoValue;
    } else {
      buffer[read] = '\0';
      folder = buffer;
      // Searching from "" would walk the top folder of the drive.
      if (folder.empty()) {
        failure = SteamPathFailure::kInvalidLength;
      }
    }
  }
  std::free(buffer);
  close_registry_key(key);
  return failure;
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
    case SteamPathFailure::kNoMemory:
      return "Not enough memory!";
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
