#include <windows.h>

#include <optional>
#include <string>

#include "disk/windows_file.h"
#include "steam/steam_path.h"

namespace {

class RegistryKey {
 public:
  explicit RegistryKey(const wchar_t* subkey) {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~RegistryKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

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
std::optional<std::string> value_text(HKEY key, const wchar_t* name) {
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  std::wstring data;
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      return std::nullopt;
    }
    data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
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

StoredSteamPath stored_steam_path() {
  const RegistryKey key(L"Software\\Valve\\Steam");
  if (key.get() == nullptr) {
    return {SteamPathFailure::kNoKey, {}};
  }
  auto text = value_text(key.get(), L"SteamPath");
  if (!text) {
    return {SteamPathFailure::kNoValue, {}};
  }
  return {SteamPathFailure::kNone, std::move(*text)};
}

std::vector<SandboxPath> steam_sandbox_paths(const std::string&) {
  return {};
}
