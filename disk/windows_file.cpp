#include "disk/windows_file.h"

#include <cstdio>
#include <vector>

#include "encoding/utf16.h"

namespace {

// The reparse tag of a file whose attributes say it has one.
ULONG reparse_tag(HANDLE file) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ? tag.ReparseTag
                                                                                    : 0;
}

// FILE_CASE_SENSITIVE_INFO's class and flag, which MinGW declares only for newer targets.
constexpr auto kFileCaseSensitiveInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
constexpr ULONG kCaseSensitiveDirectory = 0x1;

}  // namespace

bool on_fat(HANDLE handle) {
  wchar_t system[MAX_PATH + 1] = {};
  if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, system,
                                     MAX_PATH + 1)) {
    return false;
  }
  const std::wstring_view name(system);
  return name == L"FAT" || name == L"FAT32" || name == L"exFAT";
}

bool is_case_blind(HANDLE folder) {
  if (on_fat(folder)) {
    return true;
  }
  ULONG flags = 0;
  if (GetFileInformationByHandleEx(folder, kFileCaseSensitiveInfo, &flags, sizeof flags)) {
    return (flags & kCaseSensitiveDirectory) == 0;
  }
  return true;
}

namespace {

// Whether the process's own token is granted `access` by the file's access control list.
bool list_grants(const std::wstring& path, DWORD access) {
  constexpr SECURITY_INFORMATION kAsked =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), kAsked, nullptr, 0, &needed);
  std::vector<char> descriptor(needed);
  HANDLE process_token = nullptr;
  if (needed == 0 || !GetFileSecurityW(path.c_str(), kAsked, descriptor.data(), needed, &needed) ||
      !OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process_token)) {
    return true;  // not known: the caller waits, bounded
  }
  const OwnedHandle owned_process_token(process_token);
  HANDLE token = nullptr;
  if (!DuplicateToken(process_token, SecurityImpersonation, &token)) {
    return true;
  }
  const OwnedHandle owned_token(token);
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  MapGenericMask(&access, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privileges_size = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(descriptor.data(), token, access, &mapping, &privileges, &privileges_size,
                   &granted, &allowed)) {
    return true;
  }
  return allowed != FALSE;
}

constexpr DWORD kWriting = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE;

}  // namespace

bool is_link(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(reparse_tag(file));
}

HANDLE open_file_handle_in(const Folder& folder, const std::string& name, DWORD access, DWORD share,
                           DWORD flags) {
  const std::wstring path = extended_path(folder.path_of(name));
  const HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || is_link(file, info)) {
    return file;
  }
  // A reparse point of another kind: opened again as what it holds, by its filter.
  (void)CloseHandle(file);  // opened to ask what it is, no more
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool is_in_folder(HANDLE file, const Folder& folder, const std::string& name) {
  const auto folder_handle = reinterpret_cast<HANDLE>(folder.handle());
  auto here = location_of(folder_handle);
  const auto there = location_of(file);
  if (!here || !there) {
    return false;
  }
  if (!here->ends_with('\\')) {
    *here += '\\';  // a volume's root has its separator already
  }
  // Spelled otherwise: the same place only if the file's own folder is this one.
  return is_location(*there, *here + name, false, [&] {
    const auto target = final_path(file);
    const auto identity = folder.identity();
    if (target && identity) {
      const std::size_t end = target->rfind('\\');
      const std::string parent = target->substr(0, end == 6 ? 7 : end);  // "\\?\C:\" keeps it
      return Folder::open(parent).identity() == identity;
    }
    return is_case_blind(folder_handle);
  });
}

bool refused_by_holder(DWORD error, const Folder& folder, const std::string& name, DWORD access) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    return true;
  }
  if (error != ERROR_ACCESS_DENIED) {
    return false;
  }
  const std::wstring path = extended_path(folder.path_of(name));
  const DWORD attributes = GetFileAttributesW(path.c_str());
  const bool read_only =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  const bool holder = !(read_only && (access & kWriting) != 0) && list_grants(path, access);
  SetLastError(error);
  return holder;
}

OwnedHandle open_file_waiting(const Folder& folder, const std::string& name, DWORD access,
                              DWORD flags) {
  const ULONGLONG deadline = GetTickCount64() + kHolderWaitMilliseconds;
  bool asked = false;  // whether a denial was judged: it is once
  bool holder = false;
  for (;;) {
    OwnedHandle file = open_file_in(folder, name, access, flags);
    const DWORD error = GetLastError();
    if (file) {
      return file;
    }
    if (error == ERROR_ACCESS_DENIED && !asked) {
      holder = refused_by_holder(error, folder, name, access);
      asked = true;
    }
    const bool waited_out =
        error == ERROR_ACCESS_DENIED ? holder : refused_by_holder(error, folder, name, access);
    if (!waited_out || GetTickCount64() >= deadline) {
      SetLastError(error);
      return file;
    }
    Sleep(10);
  }
}

bool write_all(HANDLE file, std::string_view bytes, std::uint64_t at) {
  while (!bytes.empty()) {
    DWORD put = 0;
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    if (!WriteFile(file, bytes.data(), size, &put, &where) || put == 0) {
      return false;
    }
    bytes.remove_prefix(put);
    at += put;
  }
  return true;
}

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
