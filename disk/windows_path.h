#ifndef CONFMEND_DISK_WINDOWS_PATH_H_
#define CONFMEND_DISK_WINDOWS_PATH_H_

// Windows only: paths as the wide file functions take them.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

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

#endif  // CONFMEND_DISK_WINDOWS_PATH_H_
