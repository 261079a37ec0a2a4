#ifndef CONFMEND_SETTINGS_SETTING_LINE_H_
#define CONFMEND_SETTINGS_SETTING_LINE_H_

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Setting name to value, both raw bytes; names unique, in byte-wise ascending order.
// std::less<> lets a name be looked up from a string_view without a copy.
using SettingTable = std::map<std::string, std::string, std::less<>>;

// Adds the entry, or replaces the value of the entry that has this exact name.
void store_setting(SettingTable& table, std::string_view name, std::string_view value);

// The non-empty value stored under exactly `name`, or `fallback` itself. Never a copy, and
// never adds an entry.
const std::string& lookup_setting(const SettingTable& table, std::string_view name,
                                  const std::string& fallback);

// Exactly " \t\r\n\f": vertical tab, NUL and bytes from 0x80 up are kept.
constexpr bool is_trimmed_byte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The text without its leading and trailing " \t\r\n\f" bytes; a view into `text`.
// Inline, as it runs several times on every line of every file.
inline std::string_view trim_setting_text(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && is_trimmed_byte(text[end - 1])) {
    --end;
  }
  std::size_t start = 0;
  while (start < end && is_trimmed_byte(text[start])) {
    ++start;
  }
  return text.substr(start, end - start);
}

// Calls `handle` with every line of the text, trimmed. Lines end at LF, or at CR in a text
// that holds no LF; and a line that still holds a CR once trimmed is split at each CR too, as
// an old Mac file that some tool gave a final LF must be, so that no line swallows another.
template <typename Handle>
void for_each_trimmed_line(std::string_view text, Handle&& handle) {
  const char line_end = text.find('\n') == std::string_view::npos ? '\r' : '\n';
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(line_end, start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = trim_setting_text(text.substr(start, end - start));
    if (line_end == '\n' && line.find('\r') != std::string_view::npos) {
      for_each_trimmed_line(line, handle);  // holds no LF: split at CR
    } else {
      handle(line);
    }
    start = end + 1;
  }
}

struct SettingLine {
  std::string_view name;
  std::string_view value;
};

// The position of the "=" that makes `line` a setting line: its first "=", unless there is
// none or it is the last byte (tested on the line as given, before any trimming).
inline std::optional<std::size_t> setting_separator(std::string_view line) {
  const auto separator = line.find('=');
  if (separator == std::string_view::npos || separator + 1 == line.size()) {
    return std::nullopt;
  }
  return separator;
}

// Splits a setting line at its first "=" into a trimmed name and value.
inline std::optional<SettingLine> split_setting_line(std::string_view line) {
  const auto separator = setting_separator(line);
  if (!separator) {
    return std::nullopt;
  }
  return SettingLine{trim_setting_text(line.substr(0, *separator)),
                     trim_setting_text(line.substr(*separator + 1))};
}

// The trimmed name of a setting line, for callers that need no value.
inline std::optional<std::string_view> setting_name(std::string_view line) {
  const auto separator = setting_separator(line);
  if (!separator) {
    return std::nullopt;
  }
  return trim_setting_text(line.substr(0, *separator));
}

// DOS's end-of-file mark. DOSBox for Windows reads its configuration in text mode, where the
// first Ctrl+Z ends what it reads; these are Windows games' files, also on Linux.
constexpr char kEndOfFileMark = '\x1A';

// The part of a line DOSBox for Windows reads: up to its first Ctrl+Z.
inline std::string_view part_read_by_dosbox(std::string_view line) {
  return line.substr(0, line.find(kEndOfFileMark));
}

// Each trimmed line of the text that DOSBox for Windows reads, as it reads it: none after the
// first Ctrl+Z, and the line that holds it up to the mark.
template <typename Handle>
void for_each_line_dosbox_reads(std::string_view text, Handle&& handle) {
  bool ended = false;
  for_each_trimmed_line(text, [&](std::string_view line) {
    if (!ended) {
      ended = line.find(kEndOfFileMark) != std::string_view::npos;
      handle(part_read_by_dosbox(line));
    }
  });
}

// The value a reference line gives, trimmed: cut at a NUL byte (a stray of UTF-16 text) and at
// a Ctrl+Z, which, written into a game's file, would end it there for DOSBox for Windows.
inline std::string_view reference_value(std::string_view raw) {
  return trim_setting_text(raw.substr(0, raw.find_first_of(std::string_view("\0\x1A", 2))));
}

// Stores the setting that `line` holds, if any, in `table`; a stored name keeps its place and
// takes the new value.
void parse_setting_line(SettingTable& table, std::string_view line);

#endif  // CONFMEND_SETTINGS_SETTING_LINE_H_
