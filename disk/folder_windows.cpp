#include <windows.h>

#include <algorithm>
#include <cstring>

#include "disk/folder.h"
#include "disk/read_ahead.h"
#include "disk/windows_file.h"

namespace {

HANDLE handle_of(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t stored(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

// A folder opened to be listed and asked about. Without a link's own flag, links and
// junctions are followed; with it, one is refused.
HANDLE open_folder_handle(const std::string& path, Follow follow) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow == Follow::kLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  OwnedHandle folder(CreateFileW(extended_path(path + "/").c_str(),
                                 FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (follow == Follow::kNoLink && is_link(folder.get(), info))) {
    return INVALID_HANDLE_VALUE;
  }
  return folder.release();
}

bool is_dot_or_dot_dot(std::wstring_view name) {
  return name == L"." || name == L"..";
}

// Gives `visit` the name and attributes of each entry of the open folder but "." and "..",
// for as long as it says to go on. False when the folder cannot be read, GetLastError()
// telling why.
template <typename Visit>
bool for_each_entry(HANDLE folder, char* buffer, DWORD size, const Visit& visit) {
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  for (;; kind = FileIdBothDirectoryInfo) {
    if (!GetFileInformationByHandleEx(folder, kind, buffer, size)) {
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    for (const char* at = buffer;;) {
      const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring_view name(found->FileName, found->FileNameLength / sizeof(WCHAR));
      if (!is_dot_or_dot_dot(name) && !visit(name, found->FileAttributes)) {
        return true;
      }
      if (found->NextEntryOffset == 0) {
        break;
      }
      at += found->NextEntryOffset;
    }
  }
}

// Only the directory bit is asked: junctions and folder links carry it and are followed.
// Every entry may be a link: under Wine a Unix link shows as what it leads to.
FolderEntry entry_of(std::wstring_view name, DWORD attributes) {
  return {utf8_from_wide(name),
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile,
          true};
}

// By name, for file systems whose driver cannot list an open folder.
bool list_by_name(const std::string& path, std::vector<FolderEntry>& entries) {
  const std::wstring folder = extended_path(path + "/");
  const std::wstring pattern = folder + (folder.ends_with(L'\\') ? L"*" : L"\\*");
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    return false;
  }
  do {
    if (!is_dot_or_dot_dot(data.cFileName)) {
      entries.push_back(entry_of(data.cFileName, data.dwFileAttributes));
    }
  } while (FindNextFileW(find, &data));
  (void)FindClose(find);  // only read through
  return true;
}

}  // namespace

void Folder::close() {
  if (handle_ != kNoHandle) {
    (void)CloseHandle(handle_of(handle_));  // only read through: nothing to lose
    handle_ = kNoHandle;
  }
}

// The folder is named with a separator after it, so that a bare drive ("Y:") means its root
// here as it does in the paths of its entries ("Y:/name").
Folder Folder::open(const std::string& path) {
  return Folder(path, stored(open_folder_handle(path, Follow::kLinks)));
}

Folder Folder::open_folder(std::string_view name, Follow follow) const {
  std::string path = path_of(name);
  const HANDLE handle = open_folder_handle(path, follow);
  return Folder(std::move(path), stored(handle));
}

// The 128-bit file ID where the volume has one (ReFS needs it), the 64-bit index otherwise.
std::optional<FileIdentity> Folder::identity() const {
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(handle_of(handle_), FileIdInfo, &id, sizeof id)) {
    FileIdentity identity{id.VolumeSerialNumber, {0, 0}};
    static_assert(sizeof id.FileId == sizeof identity.index);
    std::memcpy(identity.index, &id.FileId, sizeof identity.index);
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle_of(handle_), &info)) {
    return std::nullopt;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      {(std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0}};
}

// The folder that was opened and checked is the one listed, through its handle.
bool Folder::list(std::vector<FolderEntry>& entries) const {
  alignas(8) static thread_local char buffer[64 * 1024];
  const std::size_t before = entries.size();
  const bool listed = for_each_entry(handle_of(handle_), buffer, sizeof buffer,
                                     [&](std::wstring_view name, DWORD attributes) {
                                       entries.push_back(entry_of(name, attributes));
                                       return true;
                                     });
  return listed || (entries.size() == before && is_unsupported(GetLastError()) &&
                    list_by_name(path_, entries));
}

namespace {

// Opened as what the name is, so that a folder swapped for a link or junction leads nowhere:
// such a folder is not followed either. What is listed is not kept: listing it is the point,
// so that the walk finds it in the cache.
void list_below(std::wstring& path, int levels, const std::atomic<bool>& stop) {
  const OwnedHandle folder(CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) {
    return;
  }
  alignas(8) char buffer[8192];
  (void)for_each_entry(folder.get(), buffer, sizeof buffer,
                       [&](std::wstring_view name, DWORD attributes) {
                         if (levels > 1 && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                             (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                           const std::size_t size = path.size();
                           path.append(L"\\").append(name);
                           list_below(path, levels - 1, stop);
                           path.resize(size);
                         }
                         return !stop;
                       });
}

}  // namespace

// Windows opens nothing relative to a folder: the one offered is reached by its path.
void list_folders_below(const Folder& folder, std::string_view name, int levels,
                        const std::atomic<bool>& stop) {
  std::wstring path = extended_path(folder.path_of(name));
  list_below(path, levels, stop);
}

// By where the file system says the folders are: spelled exactly so, the path leads through
// the same folders. Spelled so only ignoring case, it may lead through a twin (a folder with
// case sensitivity of its own holds "steam" and "STEAM"): then by what the folders above this
// one are, where that can be told.
bool Folder::lies_within(const Folder& bounds) const {
  const auto location = location_of(handle_of(handle_));
  const auto folder = location_of(handle_of(bounds.handle_));
  if (!location || !folder) {
    return false;
  }
  return is_location(*location, *folder, true, [&] {
    const auto outer = bounds.identity();
    const auto above = lineage();
    if (outer && std::find(above.begin(), above.end(), *outer) != above.end()) {
      return true;
    }
    return above.size() <= 1 && is_case_blind(handle_of(bounds.handle_));
  });
}

// Each folder above, opened by the path of the one below it: Windows opens nothing relative to
// a handle's parent. Where the path cannot be told (Wine, past 260 characters), the folder
// alone.
std::vector<FileIdentity> Folder::lineage() const {
  std::vector<FileIdentity> found;
  const auto here = identity();
  if (!here) {
    return found;
  }
  found.push_back(*here);
  const auto path = final_path(handle_of(handle_));
  if (!path) {
    return found;
  }
  // "\\?\C:\games\Steam": the volume's root, which keeps its separator, is the last above.
  for (std::size_t end = path->size(); end > 7;) {
    end = path->rfind('\\', end - 1);
    if (end == std::string::npos || end < 6) {
      break;
    }
    const auto identity = Folder::open(path->substr(0, end == 6 ? 7 : end)).identity();
    if (!identity) {
      break;
    }
    if (*identity != found.back()) {
      found.push_back(*identity);
    }
  }
  return found;
}

std::size_t most_open_files() {
  return 1 << 20;  // handles are bounded by memory alone
}

// The names in a folder reach the disk with the folder's own flush, for which the folder
// must be open for writing.
void Folder::flush() const {
  const OwnedHandle folder(CreateFileW(extended_path(path_ + "/").c_str(), GENERIC_WRITE, kShareAll,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
  if (folder) {
    // Not asked, as on Linux: FAT and network drives refuse it, and nothing could be undone.
    (void)FlushFileBuffers(folder.get());
  }
}

namespace {

std::string folder_of(const std::string& path) {
  return path.substr(0, path.find_last_of("/\\"));
}

std::string name_of(const std::string& path) {
  return path.substr(path.find_last_of("/\\") + 1);
}

// What the file is: its volume and index.
std::optional<FileIdentity> identity_of(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    return std::nullopt;
  }
  return stamp_of(info).identity;
}

HANDLE open_for_questions(const std::string& path) {
  return CreateFileW(extended_path(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

// Every entry may be a link here, so every file is opened and asked where it lies: in
// the folder under its own name, or (a link) elsewhere, where its folder is opened by the
// final path and must hold that very file. Places compare as location_of tells them, which
// Wine can tell for long paths too.
FilePlace place_of_file(const Folder& folder, std::string_view name) {
  const std::string entry(name);
  const OwnedHandle file(open_for_questions(folder.path_of(entry)));
  if (!file) {
    return {FilePlaceKind::kNowhere, Folder(), entry};
  }
  if (is_in_folder(file.get(), folder, entry)) {
    return {FilePlaceKind::kHere, Folder(), entry};
  }
  const auto target = final_path(file.get());
  if (!target) {
    return {FilePlaceKind::kUntold, Folder(), entry};
  }
  FilePlace place{FilePlaceKind::kElsewhere, Folder::open(folder_of(*target)), name_of(*target)};
  const OwnedHandle named(place.folder.is_open()
                              ? open_for_questions(place.folder.path_of(place.name))
                              : INVALID_HANDLE_VALUE);
  const auto opened = identity_of(file.get());
  if (!named || !opened || identity_of(named.get()) != opened) {
    return {FilePlaceKind::kUntold, Folder(), entry};
  }
  return place;
}

bool is_absolute_path(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') &&
                     path[1] == ':' && separator(path[2]);
  return drive || (path.size() >= 2 && separator(path[0]) && separator(path[1]));
}

const bool kBackslashSeparates = true;

bool path_exists(const std::string& path) {
  return GetFileAttributesW(extended_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string working_folder() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring path(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, path.data());
  if (length == 0 || length >= size) {
    return "";
  }
  path.resize(length);
  return utf8_from_wide(path);
}
