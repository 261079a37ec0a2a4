#include "settings/reference_settings.h"

#include "disk/whole_file.h"
#include "encoding/utf16.h"
#include "settings/setting_line.h"

std::string decoded_reference_text(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    return std::string(text.substr(3));
  }
  const bool little_endian = text.starts_with("\xFF\xFE");
  if (!little_endian && !text.starts_with("\xFE\xFF")) {
    return std::string(text);
  }
  std::u16string units;
  units.reserve(text.size() / 2);
  for (std::size_t at = 2; at + 1 < text.size(); at += 2) {
    const auto first = static_cast<unsigned char>(text[at]);
    const auto second = static_cast<unsigned char>(text[at + 1]);
    units.push_back(
        static_cast<char16_t>(little_endian ? first | second << 8 : first << 8 | second));
  }
  return utf8_from_utf16(units);
}

namespace {

SettingTable settings_from_decoded_text(std::string_view decoded) {
  SettingTable table;
  for_each_trimmed_line(decoded, [&](std::string_view line) {
    const auto setting = split_setting_line(line);
    if (!setting) {
      return;
    }
    const std::string_view value = reference_value(setting->value);
    if (!value.empty()) {
      store_setting(table, setting->name, value);
    }
  });
  return table;
}

}  // namespace

SettingTable reference_settings_from_text(std::string_view text) {
  return settings_from_decoded_text(decoded_reference_text(text));
}

LoadedReference read_reference_file(const std::string& file_name) {
  std::string bytes;
  switch (read_whole_file(file_name, bytes, kLargestReference)) {
    case FileOutcome::kUnchanged: {
      LoadedReference loaded{ReferenceFile::kRead, {}, decoded_reference_text(bytes)};
      loaded.settings = settings_from_decoded_text(loaded.text);
      return loaded;
    }
    case FileOutcome::kOutOfMemory:
      return {ReferenceFile::kTooLarge, {}, {}};
    default:
      return {};
  }
}

SettingTable load_reference_settings(const std::string& file_name) {
  return read_reference_file(file_name).settings;
}
