#include "mending/config_rewriter.h"

#include <algorithm>
#include <bitset>

#include "console/console.h"
#include "disk/file_writing.h"
#include "disk/whole_file.h"
#include "mending/interruption_shield.h"
#include "settings/setting_line.h"

namespace {

// The lengths of the reference names: most lines name a setting of none of these lengths,
// and then need no lookup at all.
class NameLengths {
 public:
  explicit NameLengths(const SettingTable& reference) {
    for (const auto& entry : reference) {
      lengths_.set(bucket(entry.first.size()));
    }
  }
  bool may_name(std::string_view name) const { return lengths_.test(bucket(name.size())); }

 private:
  static constexpr std::size_t kBuckets = 64;  // the last one stands for every longer name
  static std::size_t bucket(std::size_t length) { return std::min(length, kBuckets - 1); }

  std::bitset<kBuckets> lengths_;
};

// The line holds no NUL byte (files that do are left alone), so its pieces are appended as
// they are; a reference value is cut at its first NUL, if it has one.
void mend_line(const SettingTable& reference, const NameLengths& names, std::string_view line,
               TextAccumulator& new_text) {
  static const std::string no_value;
  const auto name = setting_name(line);
  if (name && names.may_name(*name)) {
    const std::string& value = lookup_setting(reference, *name, no_value);
    if (!value.empty()) {
      new_text.append_bytes(*name).append_char('=').append_text(value).append_char('\n');
      return;
    }
  }
  new_text.append_bytes(line).append_char('\n');
}

// Replaces the file by a new one holding the new text; where only an in-place write keeps
// what the file is, writes over it, and when that fails after the file was emptied, puts the
// old bytes back exactly as they were.
void write_mended_text(const std::string& path, std::string_view new_text,
                       std::string_view original) {
  const InterruptionShield shield;
  switch (replace_file_durably(path, new_text)) {
    case ReplaceResult::kReplaced:
      return;
    case ReplaceResult::kNotWritable:
    case ReplaceResult::kFailed:
      print_line("Cannot write to file " + path);
      return;
    case ReplaceResult::kInPlaceOnly:
      break;
  }
  const WriteResult result = write_file_in_place(path, new_text, WriteMode::kText);
  if (result == WriteResult::kWritten) {
    return;
  }
  const bool restored =
      result == WriteResult::kCannotOpen ||
      write_file_in_place(path, original, WriteMode::kBinary) == WriteResult::kWritten;
  print_line("Cannot write to file " + path);
  if (!restored) {
    print_line("The old content could not be put back, the file may be damaged: " + path);
  }
}

}  // namespace

void mend_config_text(const SettingTable& reference, std::string_view original,
                      TextAccumulator& new_text) {
  // Room for a little growth up front: most files change only a few values.
  new_text.reserve(original.size() + original.size() / 8 + 64);
  const NameLengths names(reference);
  for_each_trimmed_line(
      original, [&](std::string_view line) { mend_line(reference, names, line, new_text); });
  // Gives an empty file a block too, so that it is written as the empty text.
  new_text.append_char('\0');
}

void rewrite_config_file(const SettingTable& reference, const std::string& path) {
  std::string original;
  if (!read_whole_file(path, original)) {
    print_line("Cannot read file " + path);
    return;
  }
  if (original.find('\0') != std::string::npos) {
    print_line("Left unchanged, it holds NUL bytes: " + path);
    return;
  }
  TextAccumulator new_text;
  mend_config_text(reference, original, new_text);
  if (new_text.failed()) {
    print_line("Not enough memory, left unchanged: " + path);
    return;
  }
  write_mended_text(path, std::string_view(new_text.text(), new_text.size()), original);
}
