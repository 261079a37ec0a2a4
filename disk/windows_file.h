#ifndef CONFMEND_DISK_WINDOWS_FILE_H_
#define CONFMEND_DISK_WINDOWS_FILE_H_

// Windows only: what disk/'s Windows files share.

#include <windows.h>

#include <string>

#include "disk/folder.h"
#include "disk/whole_file.h"
#include "disk/windows_handle.h"
#include "disk/windows_path.h"

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The errors of a call that the file system's driver, or Windows itself, does not support.
inline bool is_unsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION;
}

inline FileStamp stamp_of(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileStamp{
      FileIdentity{info.dwVolumeSerialNumber,
                   {(std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0}},
      (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime)};
}

// The file `name` in the folder, by its path, never through a link: a reparse point is
// opened as itself, for the caller to refuse.
inline HANDLE open_file_handle_in(const Folder& folder, const std::string& name, DWORD access,
                                  DWORD share, DWORD flags) {
  return CreateFileW(extended_path(folder.path_of(name)).c_str(), access, share, nullptr,
                     OPEN_EXISTING, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whether what the handle is open on is `name` in the folder the Folder holds open: a path
// opened by name may have led elsewhere, if the folder was swapped for a junction meanwhile.
inline bool is_in_folder(HANDLE file, const Folder& folder, const std::string& name) {
  auto here = location_of(reinterpret_cast<HANDLE>(folder.handle()));
  const auto there = location_of(file);
  if (here && !here->ends_with('\\')) {
    *here += '\\';  // a volume's root has its separator already
  }
  return here && there && same_location(*there, *here + name);
}

inline OwnedHandle open_file_in(const Folder& folder, const std::string& name, DWORD access,
                                DWORD flags = 0) {
  return OwnedHandle(open_file_handle_in(folder, name, access, kShareAll, flags));
}

#endif  // CONFMEND_DISK_WINDOWS_FILE_H_
