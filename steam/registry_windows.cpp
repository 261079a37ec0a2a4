#include <windows.h>

#include "steam/registry.h"

struct RegistryKey {
  HKEY handle;
};

RegistryKey* open_user_registry_key(const char* subkey) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return nullptr;
  }
  return new RegistryKey{handle};
}

bool query_registry_value_size(RegistryKey* key, const char* name, std::uint32_t& size) {
  DWORD bytes = 0;
  if (RegQueryValueExA(key->handle, name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return false;
  }
  size = bytes;
  return true;
}

bool read_registry_value(RegistryKey* key, const char* name, char* buffer, std::uint32_t& size) {
  DWORD bytes = size;
  if (RegQueryValueExA(key->handle, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                       &bytes) != ERROR_SUCCESS) {
    return false;
  }
  size = bytes;
  return true;
}

void close_registry_key(RegistryKey* key) {
  RegCloseKey(key->handle);
  delete key;
}
