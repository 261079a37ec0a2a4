#include "mending/config_rewriter.h"

#include <algorithm>
#include <bitset>

#include "disk/file_writing.h"
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

// Neither the line (files that hold NUL are left alone) nor a reference value (cut where the
// reference is read) holds a NUL byte, so every piece is appended as it is.
void mend_line(const SettingTable& reference, const NameLengths& names, std::string_view line,
               std::string_view line_end, TextAccumulator& new_text) {
  static const std::string no_value;
  const auto name = setting_name(line);
  if (name && names.may_name(*name)) {
    const std::string& value = lookup_setting(reference, *name, no_value);
    if (!value.empty()) {
      new_text.append_bytes(*name).append_char('=').append_bytes(value).append_bytes(line_end);
      return;
    }
  }
  new_text.append_bytes(line).append_bytes(line_end);
}

// How often a file that changes under the rewriter is read and mended again.
constexpr int kTries = 3;

enum class Written { kDone, kChanged };

// Replaces the file by a new one holding the new bytes; where only an in-place write keeps
// what the file is, writes over it (which puts the old bytes back should it fail midway).
Written write_mended_text(const Folder& folder, const std::string& name, const FileAsRead& read,
                          RewrittenFile& file) {
  const std::string_view bytes(file.new_text.text(), file.new_text.size());
  file.error = {};
  switch (replace_file_durably(folder, name, bytes, read, file.error)) {
    case ReplaceResult::kReplaced:
      file.replaced = true;
      return Written::kDone;
    case ReplaceResult::kChanged:
      return Written::kChanged;
    case ReplaceResult::kInUse:
      file.outcome = FileOutcome::kInUse;
      return Written::kDone;
    case ReplaceResult::kNotWritable:
    case ReplaceResult::kFailed:
      file.outcome = FileOutcome::kCannotWrite;
      return Written::kDone;
    case ReplaceResult::kInPlaceOnly:
      break;
  }
  file.error = {};
  switch (write_file_in_place(folder, name, bytes, read, file.error)) {
    case WriteResult::kWritten:
      return Written::kDone;
    case WriteResult::kChanged:
      return Written::kChanged;
    case WriteResult::kInUse:
      file.outcome = FileOutcome::kInUse;
      return Written::kDone;
    case WriteResult::kCannotOpen:
    case WriteResult::kTooLarge:
    case WriteResult::kPutBack:
      file.outcome = FileOutcome::kCannotWrite;
      return Written::kDone;
    case WriteResult::kDamaged:
      file.outcome = FileOutcome::kDamaged;
      return Written::kDone;
  }
  return Written::kDone;
}

}  // namespace

void mend_config_text(const SettingTable& reference, std::string_view original,
                      TextAccumulator& new_text, std::string_view line_end) {
  // Room for a little growth up front: most files change only a few values.
  new_text.reserve(original.size() + original.size() / 8 + 64);
  const NameLengths names(reference);
  for_each_trimmed_line(original, [&](std::string_view line) {
    mend_line(reference, names, line, line_end, new_text);
  });
  // Gives an empty file a block too, so that it is written as the empty text.
  new_text.append_char('\0');
}

void rewrite_config_file(const SettingTable& reference, const Folder& folder,
                         const std::string& name, MendingMode mode, RewrittenFile& file,
                         const MendingGuards& guards) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    file.outcome = FileOutcome::kMended;
    file.error = {};
    file.new_text.clear();
    FileStamp read;
    switch (read_file_in(folder, name, file.original, read, file.error)) {
      case ReadResult::kRead:
        break;
      case ReadResult::kCannotRead:
        file.outcome = FileOutcome::kCannotRead;
        return;
      case ReadResult::kTooLarge:
        file.outcome = FileOutcome::kTooLarge;
        return;
      case ReadResult::kHoldsNul:
        file.outcome = FileOutcome::kHoldsNul;
        return;
    }
    // Another file has taken the name since it was found, one that another name led to.
    if (guards.is_ours && !guards.is_ours(read.identity)) {
      file.original.clear();
      file.outcome = FileOutcome::kKeptChanging;
      return;
    }
    mend_config_text(reference, file.original.view(), file.new_text, kStoredLineEnd);
    if (file.new_text.failed()) {
      file.outcome = FileOutcome::kTooLarge;
      return;
    }
    if (mode == MendingMode::kDryRun) {
      // What a run would find first: a file that may not be written.
      if (!may_write_file_in(folder, name, file.error)) {
        file.outcome = FileOutcome::kCannotWrite;
      }
      return;
    }
    if (guards.tree != nullptr && !folder.lies_within(*guards.tree)) {
      file.outcome = FileOutcome::kMovedAway;
      return;
    }
    if (write_mended_text(folder, name, FileAsRead{read, file.original.view()}, file) ==
        Written::kDone) {
      return;
    }
  }
  file.outcome = FileOutcome::kKeptChanging;
}
