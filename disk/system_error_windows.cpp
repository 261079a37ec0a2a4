#include <windows.h>

#include "disk/system_error.h"
#include "disk/windows_file.h"

SystemError last_system_error() {
  return SystemError{static_cast<int>(GetLastError())};
}

// In the language Windows speaks to the user, as every program's messages are.
std::string system_error_text(SystemError error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error.code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length > 0 ? std::wstring(text, length) : std::wstring();
  (void)LocalFree(text);  // fails only on a handle that is not one
  while (!words.empty() &&
         (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ')) {
    words.pop_back();
  }
  if (words.empty()) {
    return "Error " + std::to_string(error.code);
  }
  return utf8_from_wide(words);
}

bool says_not_found(SystemError error) {
  return error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND ||
         error.code == ERROR_NOT_READY || error.code == ERROR_BAD_NETPATH ||
         error.code == ERROR_BAD_NET_NAME || error.code == ERROR_DIRECTORY;
}

bool says_in_use(SystemError error) {
  return error.code == ERROR_SHARING_VIOLATION || error.code == ERROR_LOCK_VIOLATION;
}

bool says_read_only(SystemError error) {
  return error.code == ERROR_ACCESS_DENIED || error.code == ERROR_WRITE_PROTECT;
}
