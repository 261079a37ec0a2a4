#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "disk/whole_file.h"
#include "steam/key_values.h"
#include "steam/steam_path.h"

// Steam on Linux keeps the user's registry in a file of KeyValues text, registry.vdf, with
// Registry / HKCU / Software / Valve / Steam / SteamPath in it. Where that file is, or where
// Steam itself is when no file names it, depends on how Steam was installed.

namespace {

// Steam writes a few kilobytes; a larger file is none of Steam's.
constexpr std::size_t kLargestRegistryFile = 16 << 20;

constexpr std::string_view kFlatpak = "/.var/app/com.valvesoftware.Steam";

// Where each kind of install keeps its registry file, its links or its folder, below the home
// folder, in the order they are asked: the native install, the Flatpak one
// (com.valvesoftware.Steam), the Snap one.
enum class PlaceKind { kRegistryFile, kLink, kFolder };
struct Place {
  PlaceKind kind;
  const char* path;
};
constexpr Place kPlaces[] = {
    {PlaceKind::kRegistryFile, "/.steam/registry.vdf"},
    {PlaceKind::kLink, "/.steam/root"},
    {PlaceKind::kLink, "/.steam/steam"},
    {PlaceKind::kFolder, "/.local/share/Steam"},
    {PlaceKind::kRegistryFile, "/.var/app/com.valvesoftware.Steam/.steam/registry.vdf"},
    {PlaceKind::kFolder, "/.var/app/com.valvesoftware.Steam/.local/share/Steam"},
    {PlaceKind::kFolder, "/.var/app/com.valvesoftware.Steam/data/Steam"},
    {PlaceKind::kRegistryFile, "/snap/steam/common/.steam/registry.vdf"},
    {PlaceKind::kFolder, "/snap/steam/common/.local/share/Steam"},
};

const std::vector<std::string> kSteamKey = {"Registry", "HKCU", "Software", "Valve", "Steam"};

// HOME, or the user's entry in /etc/passwd: getpwuid would need the name-service libraries,
// which a statically linked program cannot load.
std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return home;
  }
  std::string users;
  if (read_whole_file("/etc/passwd", users, kLargestRegistryFile) != FileOutcome::kUnchanged) {
    return "";
  }
  const std::string uid = std::to_string(getuid());
  std::size_t start = 0;
  while (start < users.size()) {
    const std::size_t end = std::min(users.find('\n', start), users.size());
    std::vector<std::string> fields;
    for (std::size_t field = start; field <= end;) {
      const std::size_t colon = std::min(users.find(':', field), end);
      fields.push_back(users.substr(field, colon - field));
      field = colon + 1;
    }
    if (fields.size() >= 7 && fields[2] == uid) {
      return fields[5];
    }
    start = end + 1;
  }
  return "";
}

bool is_folder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The Steam key of a registry file, and its "SteamPath"; nothing when the file cannot be
// read, is no regular file (a pipe, which would never be done being read), is malformed or
// lacks the key.
std::optional<KeyValuesLookup> steam_key_in(const std::string& file) {
  std::string text;
  if (read_whole_file(file, text, kLargestRegistryFile) != FileOutcome::kUnchanged) {
    return std::nullopt;
  }
  KeyValuesLookup key = look_up_key_value(text, kSteamKey, "SteamPath");
  return key.block_found ? std::optional(std::move(key)) : std::nullopt;
}

// The Steam folder a link or a folder of Steam's stands for, if it exists.
std::optional<std::string> steam_folder_at(const Place& place, const std::string& home) {
  std::string folder = home + place.path;
  if (place.kind == PlaceKind::kLink) {
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr) {
      return std::nullopt;
    }
    folder = resolved;
  }
  return is_folder(folder) ? std::optional(folder) : std::nullopt;
}

StoredSteamPath stored(const KeyValuesLookup& key) {
  if (!key.value) {
    return {SteamPathFailure::kNoValue, {}};
  }
  return {SteamPathFailure::kNone, *key.value + '\0'};
}

}  // namespace

// A registry file whose "SteamPath" names a folder that exists wins; failing that, the first
// link or folder of Steam's that exists. Where none does, the first registry file found tells
// what is wrong with it; with no file either, there is no key.
StoredSteamPath stored_steam_path_below(const std::string& home) {
  std::optional<KeyValuesLookup> first_file_key;
  for (const Place& place : kPlaces) {
    if (place.kind != PlaceKind::kRegistryFile) {
      continue;
    }
    auto key = steam_key_in(home + place.path);
    if (key && key->value && is_folder(*key->value)) {
      return stored(*key);
    }
    if (key && !first_file_key) {
      first_file_key = std::move(key);
    }
  }
  for (const Place& place : kPlaces) {
    if (place.kind == PlaceKind::kRegistryFile) {
      continue;
    }
    if (const auto folder = steam_folder_at(place, home)) {
      return {SteamPathFailure::kNone, *folder + '\0'};
    }
  }
  return first_file_key ? stored(*first_file_key) : StoredSteamPath{SteamPathFailure::kNoKey, {}};
}

StoredSteamPath stored_steam_path() {
  return stored_steam_path_below(home_folder());
}

// Flatpak's Steam keeps its home in its own folder, and writes paths as it sees them from
// there (as protontricks maps them).
std::vector<SandboxPath> steam_sandbox_paths_below(const std::string& home,
                                                   const std::string& steam_folder) {
  const std::string sandbox = home + std::string(kFlatpak);
  if (home.empty() || !steam_folder.starts_with(sandbox + "/")) {
    return {};
  }
  return {{home + "/.local/share/Steam", sandbox + "/.local/share/Steam"}};
}

std::vector<SandboxPath> steam_sandbox_paths(const std::string& steam_folder) {
  return steam_sandbox_paths_below(home_folder(), steam_folder);
}
