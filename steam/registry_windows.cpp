#include <windows.h>

#include <optional>
#include <string>

#include "disk/windows_path.h"
#include "steam/registry.h"

struct RegistryKey {
  HKEY handle;
};

namespace {

std::optional<std::wstring> expanded(const std::wstring& text) {
  std::wstring result(text.size() + 1, L'\0');
  for (;;) {
    const DWORD length =
        ExpandEnvironmentStringsW(text.c_str(), result.data(), static_cast<DWORD>(result.size()));
    if (length == 0) {
      return std::nullopt;
    }
    if (length <= result.size()) {
      result.resize(length);  // with its terminator
      return result;
    }
    result.resize(length);
  }
}

// The value as UTF-8 text, as the ANSI functions give it under the UTF-8 code page: every unit
// of its data converted, its terminator too when it has one. A REG_EXPAND_SZ value has its
// %VARIABLES% expanded; a value of any other type than these two is no text at all.
std::optional<std::string> value_text(HKEY key, const char* name) {
  const std::wstring wide_name = wide_from_utf8(name);
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  LONG status = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type, nullptr, &bytes);
  std::wstring data;
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      return std::nullopt;
    }
    data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status == ERROR_SUCCESS) {
      data.resize(bytes / sizeof(wchar_t));
      break;
    }
  }
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  if (type == REG_EXPAND_SZ) {
    const auto text = expanded(data.substr(0, data.find(L'\0')));
    if (!text) {
      return std::nullopt;
    }
    data = *text;
  }
  return utf8_from_wide(data);
}

}  // namespace

RegistryKey* open_user_registry_key(const char* subkey) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_from_utf8(subkey).c_str(), 0, KEY_READ, &handle) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return new RegistryKey{handle};
}

bool query_registry_value_size(RegistryKey* key, const char* name, std::uint32_t& size) {
  const auto text = value_text(key->handle, name);
  if (!text || text->size() >= UINT32_MAX) {
    return false;
  }
  size = static_cast<std::uint32_t>(text->size());
  return true;
}

bool read_registry_value(RegistryKey* key, const char* name, char* buffer, std::uint32_t& size) {
  const auto text = value_text(key->handle, name);
  if (!text || text->size() > size) {
    return false;
  }
  text->copy(buffer, text->size());
  size = static_cast<std::uint32_t>(text->size());
  return true;
}

void close_registry_key(RegistryKey* key) {
  RegCloseKey(key->handle);
  delete key;
}
