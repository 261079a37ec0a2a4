#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "disk/whole_file.h"
#include "steam/key_values.h"
#include "steam/registry.h"

// Steam on Linux keeps the user's registry in a file of KeyValues text, registry.vdf, with
// Registry / HKCU / Software / Valve / Steam / SteamPath in it. Where that file is, or where
// Steam itself is when no file names it, depends on how Steam was installed. Finding Steam
// needs that one value, and only that one is kept.
struct RegistryKey {
  KeyValuesBlock steam_path;
};

namespace {

// Steam writes a few kilobytes; a larger file is none of Steam's.
constexpr std::size_t kLargestRegistryFile = 16 << 20;

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

// HOME, or the user's entry in /etc/passwd: getpwuid would need the name-service libraries,
// which a statically linked program cannot load.
std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return home;
  }
  std::string users;
  if (!read_whole_file("/etc/passwd", users, kLargestRegistryFile)) {
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

constexpr std::string_view kSteamPath = "SteamPath";

// The key in a registry file, with its "SteamPath"; nothing when the file cannot be read, is
// no regular file (a pipe, which would never be done being read), is malformed or lacks the
// key.
std::optional<KeyValuesBlock> key_in(const std::string& file, const char* subkey) {
  std::string text;
  if (!read_whole_file(file, text, kLargestRegistryFile)) {
    return std::nullopt;
  }
  std::vector<std::string> path = {"Registry", "HKCU"};
  for (const char* start = subkey; *start != '\0';) {
    const char* end = std::strchr(start, '\\');
    path.emplace_back(start, end == nullptr ? std::strlen(start) : end - start);
    start = end == nullptr ? start + std::strlen(start) : end + 1;
  }
  return find_in_key_values(text, path, kSteamPath);
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

}  // namespace

// A registry file whose "SteamPath" names a folder that exists gives the key; failing that,
// the first link or folder of Steam's that exists gives a key with its folder as "SteamPath".
// Where none does, the first registry file found gives the key as it is, so that what is
// wrong with it is told; with no file either, there is no key.
RegistryKey* open_user_registry_key(const char* subkey) {
  const std::string home = home_folder();
  std::optional<KeyValuesBlock> first_file_key;
  for (const Place& place : kPlaces) {
    if (place.kind != PlaceKind::kRegistryFile) {
      continue;
    }
    auto file_key = key_in(home + place.path, subkey);
    if (!file_key) {
      continue;
    }
    if (file_key->value && is_folder(*file_key->value)) {
      return new RegistryKey{std::move(*file_key)};
    }
    if (!first_file_key) {
      first_file_key = std::move(file_key);
    }
  }
  for (const Place& place : kPlaces) {
    if (place.kind == PlaceKind::kRegistryFile) {
      continue;
    }
    if (const auto folder = steam_folder_at(place, home)) {
      return new RegistryKey{KeyValuesBlock{*folder}};
    }
  }
  return first_file_key ? new RegistryKey{std::move(*first_file_key)} : nullptr;
}

namespace {

const std::string* value_named(const RegistryKey& key, const char* name) {
  const bool steam_path = std::string_view(name).size() == kSteamPath.size() &&
                          strncasecmp(name, kSteamPath.data(), kSteamPath.size()) == 0;
  return steam_path && key.steam_path.value ? &*key.steam_path.value : nullptr;
}

}  // namespace

bool query_registry_value_size(RegistryKey* key, const char* name, std::uint32_t& size) {
  const std::string* value = value_named(*key, name);
  if (value == nullptr || value->size() >= UINT32_MAX) {
    return false;
  }
  size = static_cast<std::uint32_t>(value->size() + 1);
  return true;
}

bool read_registry_value(RegistryKey* key, const char* name, char* buffer, std::uint32_t& size) {
  const std::string* value = value_named(*key, name);
  if (value == nullptr || value->size() + 1 > size) {
    return false;
  }
  std::memcpy(buffer, value->c_str(), value->size() + 1);
  size = static_cast<std::uint32_t>(value->size() + 1);
  return true;
}

void close_registry_key(RegistryKey* key) {
  delete key;
}
