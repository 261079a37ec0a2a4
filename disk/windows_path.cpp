#include "disk/windows_path.h"

#include <cstdio>
#include <vector>

#include "encoding/utf16.h"

namespace {

bool is_separator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool starts_with_drive(std::wstring_view path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::wstring full_path_of(const wchar_t* path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the length asked for counts the terminator
  }
}

// "C:\x" and "\\server\share" are absolute. Only the start of a relative path goes through
// GetFullPathNameW, which would otherwise rename reserved names and trailing dots below it.
std::wstring absolute(const std::wstring& path) {
  if (starts_with_drive(path)) {
    if (path.size() >= 3 && is_separator(path[2])) {
      return path;
    }
    return full_path_of(path.substr(0, 2).c_str()) + L"\\" + path.substr(2);
  }
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    return path;
  }
  if (!path.empty() && is_separator(path[0])) {
    return full_path_of(L"\\") + path.substr(1);  // the root of the current drive
  }
  return full_path_of(L".") + L"\\" + path;
}

// Joins the names with single separators; `fixed` names (the drive, or server and share)
// are never climbed out of by "..".
std::wstring joined(std::wstring_view rest, std::size_t fixed, bool resolve_dots) {
  std::vector<std::wstring_view> names;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !is_separator(rest[end])) {
      ++end;
    }
    const std::wstring_view name = rest.substr(start, end - start);
    if (name.empty() || (resolve_dots && name == L".")) {
      // nothing
    } else if (resolve_dots && name == L"..") {
      if (names.size() > fixed) {
        names.pop_back();
      }
    } else {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::wstring path;
  for (const std::wstring_view name : names) {
    path.append(name).push_back(L'\\');
  }
  // Only a drive's root keeps its separator: \\?\C: names the volume, \\?\C:\ its root.
  if (!path.empty() && names.size() > fixed) {
    path.pop_back();
  }
  return path;
}

}  // namespace

std::wstring wide_from_utf8(std::string_view text) {
  const std::u16string wide = utf16_from_utf8(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string utf8_from_wide(std::wstring_view text) {
  return utf8_from_utf16(std::u16string(text.begin(), text.end()));
}

std::wstring extended_path(const std::string& path) {
  constexpr std::wstring_view kVerbatim = L"\\\\?\\";
  std::wstring wide = wide_from_utf8(path);
  if (wide.starts_with(L"\\\\.\\")) {
    wide[2] = L'?';  // the device namespace reaches the same files
  }
  if (wide.starts_with(kVerbatim)) {
    const std::wstring_view rest = std::wstring_view(wide).substr(kVerbatim.size());
    const std::size_t fixed = rest.starts_with(L"UNC\\") ? 3 : 1;
    return std::wstring(kVerbatim) + joined(rest, fixed, false);
  }
  wide = absolute(wide);
  if (is_separator(wide[0]) && is_separator(wide[1])) {
    return std::wstring(kVerbatim) + L"UNC\\" + joined(std::wstring_view(wide).substr(2), 2, true);
  }
  return std::wstring(kVerbatim) + joined(wide, 1, true);
}

std::optional<std::string> final_path(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) {
      return std::nullopt;
    }
    if (length < path.size()) {
      path.resize(length);
      return utf8_from_wide(path);
    }
    path.resize(length);
  }
}

std::optional<std::string> location_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    return std::nullopt;
  }
  // Room for a usual path first, then for the longest one Windows allows.
  std::vector<char> buffer;
  bool named = false;
  for (const std::size_t length : {MAX_PATH, 32768}) {
    buffer.resize(sizeof(FILE_NAME_INFO) + length * sizeof(WCHAR));
    named = GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(),
                                         static_cast<DWORD>(buffer.size()));
    if (named || GetLastError() != ERROR_MORE_DATA) {
      break;
    }
  }
  if (!named) {
    return std::nullopt;
  }
  const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
  char volume[16];
  std::snprintf(volume, sizeof volume, "%08lx",
                static_cast<unsigned long>(info.dwVolumeSerialNumber));
  return volume +
         utf8_from_wide(std::wstring_view(name->FileName, name->FileNameLength / sizeof(WCHAR)));
}

namespace {

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

LocationMatch match_location(std::string_view location, std::string_view folder, bool below_too) {
  const std::wstring inner = wide_from_utf8(location);
  const std::wstring outer = wide_from_utf8(folder);
  if (inner.size() < outer.size() ||
      (inner.size() > outer.size() &&
       (!below_too || (!outer.ends_with(L'\\') && inner[outer.size()] != L'\\')))) {
    return LocationMatch::kNone;
  }
  const std::wstring_view head = std::wstring_view(inner).substr(0, outer.size());
  if (head == outer) {
    return LocationMatch::kExactly;
  }
  return equal_ignoring_case(head, outer) ? LocationMatch::kIgnoringCase : LocationMatch::kNone;
}
