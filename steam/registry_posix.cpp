#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "steam/key_values.h"
#include "steam/registry.h"

// Steam on Linux keeps the user's registry in ~/.steam/registry.vdf, as KeyValues text:
// Registry / HKCU / Software / Valve / Steam / SteamPath.
struct RegistryKey {
  KeyValues block;
  std::string home;
};

namespace {

std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return home;
  }
  const passwd* user = getpwuid(getuid());
  return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

std::optional<std::string> read_text_file(const std::string& path) {
  std::ifstream file(path, std::ios::in | std::ios::binary);
  std::ostringstream text;
  if (!file.is_open() || !(text << file.rdbuf()) || file.bad()) {
    return std::nullopt;
  }
  return text.str();
}

bool equal_ignoring_case(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

// The folder that ~/.steam/root leads to: recent clients keep the Steam folder only there.
std::optional<std::string> steam_root_link(const std::string& home) {
  char resolved[PATH_MAX];
  if (realpath((home + "/.steam/root").c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

std::optional<std::string> value_text(const RegistryKey& key, const char* name) {
  const KeyValues* value = key.block.find(name);
  if (value != nullptr && !value->is_block) {
    return value->value;
  }
  if (value == nullptr && equal_ignoring_case(name, "SteamPath")) {
    return steam_root_link(key.home);
  }
  return std::nullopt;
}

}  // namespace

RegistryKey* open_user_registry_key(const char* subkey) {
  const std::string home = home_folder();
  const auto text = read_text_file(home + "/.steam/registry.vdf");
  if (!text) {
    return nullptr;
  }
  const auto root = parse_key_values(*text);
  if (!root) {
    return nullptr;
  }
  const KeyValues* block = root->find("Registry");
  block = block != nullptr ? block->find("HKCU") : nullptr;
  std::string_view path = subkey;
  while (block != nullptr && !path.empty()) {
    const std::size_t separator = path.find('\\');
    block = block->find(path.substr(0, separator));
    path = separator == std::string_view::npos ? "" : path.substr(separator + 1);
  }
  if (block == nullptr || !block->is_block) {
    return nullptr;
  }
  return new RegistryKey{*block, home};
}

bool query_registry_value_size(RegistryKey* key, const char* name, std::uint32_t& size) {
  const auto text = value_text(*key, name);
  if (!text || text->size() >= UINT32_MAX) {
    return false;
  }
  size = static_cast<std::uint32_t>(text->size() + 1);
  return true;
}

bool read_registry_value(RegistryKey* key, const char* name, char* buffer, std::uint32_t& size) {
  const auto text = value_text(*key, name);
  if (!text || text->size() + 1 > size) {
    return false;
  }
  std::memcpy(buffer, text->c_str(), text->size() + 1);
  size = static_cast<std::uint32_t>(text->size() + 1);
  return true;
}

void close_registry_key(RegistryKey* key) {
  delete key;
}
