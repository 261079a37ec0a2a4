#ifndef CONFMEND_DISK_WINDOWS_FILE_H_
#define CONFMEND_DISK_WINDOWS_FILE_H_

// Windows only: what disk/'s Windows files share.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "disk/folder.h"
#include "disk/whole_file.h"

// A handle, closed when it goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle)
      : handle_(handle == nullptr ? INVALID_HANDLE_VALUE : handle) {}
  ~OwnedHandle() { close(); }
  OwnedHandle(OwnedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  bool close() {
    const bool closed = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Paths as the wide file functions take them.

std::wstring wide_from_utf8(std::string_view text);
std::string utf8_from_wide(std::wstring_view text);

// The path (UTF-8, with "/" or "\" separators) as an extended-length path: \\?\C:\... or
// \\?\UNC\server\share\..., which Windows hands to the file system as it stands, so that
// reserved names (aux.conf), names ending in a dot and paths past 260 characters are all
// reached. A relative or drive-relative start is made absolute first, "." and ".." are
// resolved by name, and repeated separators count as one. A path that already starts with
// \\?\ is taken as its writer meant it, dots and all.
std::wstring extended_path(const std::string& path);

// Where what the handle is open on really is, every link and junction resolved: a path as
// \\?\C:\... or \\?\UNC\..., in UTF-8. Wine cannot tell it for paths past 260 characters.
std::optional<std::string> final_path(HANDLE handle);

// The same, to compare places by: the volume's serial number in hexadecimal, then the path
// below the volume's root ("5a000000\games\Steam"), names separated by "\". Told for every
// path, however long.
std::optional<std::string> location_of(HANDLE handle);

// How a location, as location_of gives it, compares with a folder's: it is the folder (or,
// `below_too`, lies below it) spelled exactly so, or only when case is ignored, which is one
// place on a file system blind to case and may be another one's twin where it is not.
enum class LocationMatch { kNone, kExactly, kIgnoringCase };
LocationMatch match_location(std::string_view location, std::string_view folder, bool below_too);

// Whether the location is the folder (or, with `below_too`, below it): not when they differ
// even ignoring case, yes when spelled exactly alike, and what `judge_twin()` says when they
// differ only in case, which may be the same place or a twin.
template <typename JudgeTwin>
bool is_location(std::string_view location, std::string_view folder, bool below_too,
                 const JudgeTwin& judge_twin) {
  switch (match_location(location, folder, below_too)) {
    case LocationMatch::kNone:
      return false;
    case LocationMatch::kExactly:
      return true;
    case LocationMatch::kIgnoringCase:
      break;
  }
  return judge_twin();
}

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

// Whether what the handle is open on lies on a FAT or exFAT volume: blind to case, and its
// file numbers are only where the file's entry stands, not the file itself.
bool on_fat(HANDLE handle);

// Whether names that differ only in case are one name in this folder: on FAT and exFAT
// always; elsewhere unless the folder has case sensitivity of its own (WSL gives it to the
// folders it makes). Asked only where what the places are cannot be told.
bool is_case_blind(HANDLE folder);

// Whether the handle is open on a link: a reparse point whose tag is a name surrogate
// (a symbolic link, a junction). Other reparse points (deduplicated files, cloud
// placeholders) are files and folders like any other.
bool is_link(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info);

// Whether it is open on a folder or a link: no file to read or write.
inline bool is_folder_or_link(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || is_link(file, info);
}

// The file `name` in the folder, by its path, never through a link: a link is opened as
// itself, for the caller to refuse; another reparse point as what it holds.
HANDLE open_file_handle_in(const Folder& folder, const std::string& name, DWORD access, DWORD share,
                           DWORD flags);

// Whether what the handle is open on is `name` in the folder the Folder holds open: a path
// opened by name may have led elsewhere, if the folder was swapped for a junction meanwhile.
// Decided by what the file system says the places are, not by how their names compare.
bool is_in_folder(HANDLE file, const Folder& folder, const std::string& name);

inline OwnedHandle open_file_in(const Folder& folder, const std::string& name, DWORD access,
                                DWORD flags = 0) {
  return OwnedHandle(open_file_handle_in(folder, name, access, kShareAll, flags));
}

// How long another program's hold on a file is waited out, by the clock: a scanner, an
// indexer or a sync client holds a file for a moment.
constexpr ULONGLONG kHolderWaitMilliseconds = 2000;

// Whether the call failed because another program holds the file, or may have: a sharing or
// lock violation, or a denial that neither the file's read-only attribute nor its access
// control list explains (a file being deleted, for one). `access` is what was asked.
bool refused_by_holder(DWORD error, const Folder& folder, const std::string& name, DWORD access);

// open_file_in, waiting out another program's hold; the last error is the last try's.
OwnedHandle open_file_waiting(const Folder& folder, const std::string& name, DWORD access,
                              DWORD flags = 0);

// WriteFile until every byte is written at `at`; GetLastError tells why not.
bool write_all(HANDLE file, std::string_view bytes, std::uint64_t at);

#endif  // CONFMEND_DISK_WINDOWS_FILE_H_
