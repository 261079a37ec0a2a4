#ifndef CONFMEND_SETTINGS_REFERENCE_SETTINGS_H_
#define CONFMEND_SETTINGS_REFERENCE_SETTINGS_H_

#include <string>
#include <string_view>

#include "settings/setting_line.h"

// Every setting line of the text; the last occurrence of a name wins. The text is bytes, but
// taken as people save it: without a UTF-8 byte-order mark, UTF-16 as UTF-8, its lines split
// as for_each_trimmed_line splits them. A value ends at its first NUL, and one that is then
// empty is not stored: every stored value can be written as it is.
SettingTable reference_settings_from_text(std::string_view text);

// The reference file as Notepad may save it: a UTF-8 byte-order mark is dropped, and
// "Unicode" (UTF-16 with its mark, either byte order) becomes UTF-8.
std::string decoded_reference_text(std::string_view text);

// The largest reference file read: a configuration is a few kilobytes, and one larger than
// this is no configuration of DOSBox's.
constexpr std::size_t kLargestReference = 64 << 20;

enum class ReferenceFile {
  kRead,
  kUnreadable,  // missing, unreadable, or no regular file
  kTooLarge,    // larger than kLargestReference
};

struct LoadedReference {
  ReferenceFile file = ReferenceFile::kUnreadable;
  SettingTable settings;  // empty unless the file was read
  std::string text;       // the file decoded, as its lines were read
};

// The reference settings of the file, and whether it could be read.
LoadedReference read_reference_file(const std::string& file_name);

// The reference settings of the file. A file that cannot be read, or is no regular file,
// gives an empty table, silently.
SettingTable load_reference_settings(const std::string& file_name);

#endif  // CONFMEND_SETTINGS_REFERENCE_SETTINGS_H_
