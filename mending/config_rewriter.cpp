#include "mending/config_rewriter.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <optional>

#include "disk/file_writing.h"
#include "disk/ordered_jobs.h"
#include "settings/dosbox_properties.h"
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
const std::string kNoValue;

// The line given `value` for `name`: a line is read and mended up to its first Ctrl+Z, as
// DOSBox for Windows reads it, and the bytes from the mark on are kept as they are.
void append_mended_line(TextAccumulator& text, std::string_view name, std::string_view value,
                        std::string_view line, std::string_view line_end) {
  text.append_bytes(name).append_char('=').append_bytes(value);
  text.append_bytes(line.substr(part_read_by_dosbox(line).size())).append_bytes(line_end);
}

void mend_line(const SettingTable& reference, const NameLengths& names, std::string_view line,
               std::string_view line_end, TextAccumulator& new_text) {
  const auto name = setting_name(part_read_by_dosbox(line));
  if (name && names.may_name(*name)) {
    const std::string& value = lookup_setting(reference, *name, kNoValue);
    if (!value.empty()) {
      append_mended_line(new_text, *name, value, line, line_end);
      return;
    }
  }
  new_text.append_bytes(line).append_bytes(line_end);
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// The setting kept in the section that the line names, without regard to case; or none.
const SectionSetting* kept_setting_named(const std::vector<SectionSetting>& settings,
                                         std::string_view section, std::string_view name) {
  const SectionSetting* found = nullptr;
  for (const SectionSetting& setting : settings) {
    if (setting.section == section && !setting.withheld &&
        same_ignoring_case(setting.lower_name, name)) {
      found = &setting;
    }
  }
  return found;
}

// Where in a DOSBox configuration file what it lacks goes, read in a first pass: by the
// numbers of its lines, so that nothing of the file is held but the text.
struct DosboxFileLayout {
  static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);
  bool dosbox_file = false;
  // The last non-blank line of the last occurrence of each section a setting is kept in.
  std::map<std::string, std::size_t, std::less<>> section_ends;
  std::vector<bool> set;                     // of each setting kept in a section
  std::size_t new_sections_after = kNoLine;  // the last non-blank line before [autoexec]
};

DosboxFileLayout layout_of(std::string_view original, const std::vector<SectionSetting>& settings) {
  DosboxFileLayout layout;
  layout.set.assign(settings.size(), false);
  DosboxFileTest test;
  std::string section;
  bool before_autoexec = true;
  bool kept_here = false;  // whether a setting is kept in the section
  std::size_t at = 0;
  // Nothing is added after the end-of-file mark.
  for_each_line_dosbox_reads(original, [&](std::string_view line) {
    if (auto header = dosbox_header(line)) {
      if (!header->empty()) {
        section = std::move(*header);
        test.saw_header(section);
        before_autoexec = before_autoexec && section != "autoexec";
        kept_here = std::any_of(settings.begin(), settings.end(),
                                [&](const SectionSetting& s) { return s.section == section; });
      }
    } else if (const auto name = setting_name(line); name && !section.empty()) {
      if (const SectionSetting* kept = kept_setting_named(settings, section, *name)) {
        layout.set[static_cast<std::size_t>(kept - settings.data())] = true;
      }
    }
    if (!line.empty()) {  // up to a Ctrl+Z, which what is added goes before
      if (kept_here) {
        layout.section_ends[section] = at;
      }
      if (before_autoexec) {
        layout.new_sections_after = at;
      }
    }
    ++at;
  });
  layout.dosbox_file = test.is_dosbox_configuration();
  return layout;
}

void append_line(TextAccumulator& text, std::string_view line, std::string_view line_end) {
  text.append_bytes(line).append_bytes(line_end);
}

void append_setting(TextAccumulator& text, std::string_view name, std::string_view value,
                    std::string_view line_end) {
  text.append_bytes(name).append_char('=').append_bytes(value).append_bytes(line_end);
}

// Tells, where it is asked, how each line read came out: the old line it stands in, found by
// where its view lies in the old text, and the new bytes given so far.
struct LineRecorder {
  std::string_view original;
  const TextAccumulator& new_text;
  std::vector<MendedLine>* lines;

  void operator()(std::string_view line, std::size_t start, std::size_t end) const {
    if (lines == nullptr) {
      return;
    }
    const auto past = static_cast<std::size_t>(line.data() - original.data()) + line.size();
    const std::size_t lf = original.find('\n', past);
    lines->push_back(
        {lf == std::string_view::npos ? original.size() : lf + 1, start, end, new_text.size()});
  }
};

// The plain rule, then, in a DOSBox configuration file, the settings kept in sections: a
// line naming one in another case in its section gets its value, and each the file lacks is
// added at the end of its section's last occurrence, or in a section of its own before
// [autoexec] (at the end where there is none).
void mend_dosbox_text(const MendingRules& rules, const NameLengths& names,
                      std::string_view original, std::string_view line_end,
                      TextAccumulator& new_text, FileLacks* lacks, LineRecorder& record) {
  const auto& settings = *rules.kept_in_sections;
  const DosboxFileLayout layout = layout_of(original, settings);
  const bool dosbox_file = layout.dosbox_file;
  std::map<std::size_t, std::vector<std::size_t>> added_after;  // line: settings added
  std::vector<std::pair<std::string, std::vector<std::size_t>>> new_sections;
  for (std::size_t k = 0; dosbox_file && k < settings.size(); ++k) {
    if (layout.set[k] || !settings[k].may_add) {
      continue;
    }
    if (lacks != nullptr) {
      lacks->settings.push_back(k);
    }
    const auto end = layout.section_ends.find(settings[k].section);
    if (end != layout.section_ends.end()) {
      added_after[end->second].push_back(k);
      continue;
    }
    auto section = std::find_if(new_sections.begin(), new_sections.end(),
                                [&](const auto& s) { return s.first == settings[k].section; });
    if (section == new_sections.end()) {
      new_sections.push_back({settings[k].section, {}});
      section = new_sections.end() - 1;
    }
    section->second.push_back(k);
  }
  if (lacks != nullptr) {
    lacks->dosbox_file = dosbox_file;
  }
  const bool adding = dosbox_file && rules.add_missing;
  const auto append_new_sections = [&](bool at_start) {
    for (const auto& [section, added] : new_sections) {
      if (!at_start) {
        append_line(new_text, "", line_end);
      }
      new_text.append_char('[').append_bytes(section).append_char(']').append_bytes(line_end);
      for (const std::size_t k : added) {
        append_setting(new_text, settings[k].name, settings[k].value, line_end);
      }
      if (at_start) {
        append_line(new_text, "", line_end);
      }
    }
  };
  if (adding && layout.new_sections_after == DosboxFileLayout::kNoLine) {
    append_new_sections(true);
  }
  std::string section;
  std::size_t at = 0;
  bool past_mark = false;  // DOSBox reads no line after a Ctrl+Z: none is given a kept value
  for_each_trimmed_line(original, [&](std::string_view line) {
    if (auto header = dosbox_header(line); header && !header->empty()) {
      section = std::move(*header);
    }
    const auto name = setting_name(part_read_by_dosbox(line));
    const SectionSetting* other_case =
        adding && !past_mark && name && !section.empty() &&
                lookup_setting(*rules.reference, *name, kNoValue).empty()
            ? kept_setting_named(settings, section, *name)
            : nullptr;
    const auto added = adding ? added_after.find(at) : added_after.end();
    const bool adds_here =
        added != added_after.end() || (adding && at == layout.new_sections_after);
    // What is added after the last line DOSBox reads goes before its Ctrl+Z: that line is
    // parted there, and the bytes from the Ctrl+Z on follow what is added.
    const std::string_view rest =
        adds_here ? line.substr(part_read_by_dosbox(line).size()) : std::string_view();
    const std::string_view own = rest.empty() ? line : trim_setting_text(part_read_by_dosbox(line));
    const std::size_t start = new_text.size();
    if (other_case != nullptr) {
      append_mended_line(new_text, *name, other_case->value, own, line_end);
    } else {
      mend_line(*rules.reference, names, own, line_end, new_text);
    }
    const std::size_t end = new_text.size();
    if (adding) {
      if (added != added_after.end()) {
        for (const std::size_t k : added->second) {
          append_setting(new_text, settings[k].name, settings[k].value, line_end);
        }
      }
      if (at == layout.new_sections_after) {
        append_new_sections(false);
      }
    }
    if (!rest.empty()) {
      append_line(new_text, rest, line_end);
    }
    past_mark = past_mark || line.find(kEndOfFileMark) != std::string_view::npos;
    record(line, start, end);
    ++at;
  });
}

// How often a file that changes under the rewriter is read and mended again.
constexpr int kTries = 3;

// How the platform ends a line in a text file, as mended files are written.
#ifdef _WIN32
constexpr std::string_view kStoredLineEnd = "\r\n";
#else
constexpr std::string_view kStoredLineEnd = "\n";
#endif

}  // namespace

// Replaces the file by a temporary file holding the new bytes; where only an in-place write
// keeps its metadata, writes over it (which puts the old bytes back should it fail midway).
FileOutcome give_file_bytes(const Folder& folder, const std::string& name, std::string_view bytes,
                            const FileAsRead& read, SystemError& error, bool& replaced,
                            const BeforeChanging& keep_copy, const KeepingOld& keep_old) {
  error = {};
  const BeforeChanging none;
  const FileOutcome outcome =
      replace_file_durably(folder, name, bytes, read, error, keep_old ? none : keep_copy, keep_old);
  if (outcome != FileOutcome::kInPlaceOnly) {
    replaced = outcome == FileOutcome::kChanged;
    return outcome;
  }
  error = {};
  if (keep_copy && !keep_copy(error)) {
    return FileOutcome::kNoCopyKept;
  }
  return write_file_in_place(folder, name, bytes, read, error);
}

namespace {

// The undo copy of a file whose bytes change, to be kept before the file is. A large file's
// is kept on a thread of its own while its temporary file is written: both writes, and both
// flushes, then go on at once (at ordinary priority: a busy machine must not hold the run
// back). A small file's is kept at once, where a thread would cost more than it saves, and
// the file is not touched when it cannot be.
class CopyKeeping {
 public:
  using Keep = std::function<bool(std::string_view, std::string_view, SystemError&)>;
  static constexpr std::size_t kAlongsideFrom = 1 << 20;

  CopyKeeping(const Keep& keep_copy, std::string_view old_bytes, std::string_view new_bytes)
      : keep_(keep_copy), old_bytes_(old_bytes), new_bytes_(new_bytes) {
    if (!keep_) {
      return;
    }
    if (old_bytes.size() >= kAlongsideFrom) {
      std::function<void()> job = [this] { keep(); };
      if (!alongside_.emplace(1).try_push(job)) {
        alongside_.reset();
      }
    }
    if (!alongside_) {
      keep();
    }
  }

  // Whether the copy, kept at once, is known already not to be kept; why in `error`.
  bool refused(SystemError& error) { return !alongside_ && !kept(error); }
  // Whether the copy is kept, on stable storage (or none is wanted); why not in `error`.
  bool kept(SystemError& error) {
    alongside_.reset();  // waits for the copy
    if (!kept_) {
      error = error_;
    }
    return kept_;
  }

 private:
  void keep() { kept_ = keep_(old_bytes_, new_bytes_, error_); }

  const Keep& keep_;
  const std::string_view old_bytes_;
  const std::string_view new_bytes_;
  bool kept_ = true;  // with nothing to keep
  SystemError error_;
  std::optional<OrderedJobs> alongside_;  // last: its thread ends before what it uses goes
};

}  // namespace

void mend_config_text(const MendingRules& rules, std::string_view original,
                      TextAccumulator& new_text, std::string_view line_end, FileLacks* lacks,
                      std::vector<MendedLine>* lines) {
  // Room for a little growth up front: most files change only a few values.
  new_text.reserve(original.size() + original.size() / 8 + 64);
  const NameLengths names(*rules.reference);
  if (lines != nullptr) {
    lines->clear();
  }
  LineRecorder record{original, new_text, lines};
  if (rules.kept_in_sections == nullptr || rules.kept_in_sections->empty()) {
    for_each_trimmed_line(original, [&](std::string_view line) {
      const std::size_t start = new_text.size();
      mend_line(*rules.reference, names, line, line_end, new_text);
      record(line, start, new_text.size());
    });
  } else {
    mend_dosbox_text(rules, names, original, line_end, new_text, lacks, record);
  }
  // Gives an empty file a buffer too, so that it is written as the empty text.
  new_text.append_char('\0');
}

void rewrite_config_file(const MendingRules& rules, const Folder& folder, const std::string& name,
                         MendingMode mode, RewrittenFile& file, const MendingGuards& guards) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    file.outcome = FileOutcome::kUnchanged;
    file.error = {};
    file.new_text.clear();
    FileStamp read;
    file.outcome = read_file_in(folder, name, file.original, read, file.error);
    if (file.outcome != FileOutcome::kUnchanged) {
      return;
    }
    // Another file has taken the name since it was found, one that another name led to.
    if (guards.is_ours && !guards.is_ours(read.identity)) {
      file.original.clear();
      file.outcome = FileOutcome::kKeptChanging;
      return;
    }
    file.lacks = {};
    mend_config_text(rules, file.original.view(), file.new_text, kStoredLineEnd, &file.lacks,
                     mode == MendingMode::kDryRun ? &file.lines : nullptr);
    if (file.new_text.failed()) {
      file.outcome = FileOutcome::kOutOfMemory;
      return;
    }
    const std::string_view bytes(file.new_text.text(), file.new_text.size());
    const bool changes = bytes != file.original.view();
    if (mode == MendingMode::kDryRun) {
      // What a run would find first: a file that may not be written.
      if (!may_write_file_in(folder, name, file.error)) {
        file.outcome = says_in_use(file.error) ? FileOutcome::kInUse : FileOutcome::kCannotWrite;
      } else {
        file.outcome = changes ? FileOutcome::kWouldChange : FileOutcome::kUnchanged;
      }
      return;
    }
    if (guards.tree != nullptr && !folder.lies_within(*guards.tree)) {
      file.outcome = FileOutcome::kMovedAway;
      return;
    }
    // A large file's old file itself is kept where the store can link it; a copy of its bytes
    // only where it is written in place after all.
    const std::string_view original = file.original.view();
    const bool by_link =
        changes && guards.keep_old_file && original.size() >= CopyKeeping::kAlongsideFrom;
    const CopyKeeping::Keep no_copy;
    CopyKeeping copy(changes && !by_link ? guards.keep_copy : no_copy, original, bytes);
    if (copy.refused(file.error)) {
      file.outcome = FileOutcome::kNoCopyKept;
      return;
    }
    const BeforeChanging keep_copy = [&](SystemError& error) {
      return by_link ? guards.keep_copy(original, bytes, error) : copy.kept(error);
    };
    KeepingOld keep_old;
    if (by_link) {
      keep_old = [&](const OldFile& old, SystemError& error) {
        return guards.keep_old_file(old, original, bytes, error);
      };
    }
    file.outcome = give_file_bytes(folder, name, bytes, FileAsRead{read, original}, file.error,
                                   file.replaced, keep_copy, keep_old);
    if (file.outcome == FileOutcome::kChanged && !changes) {
      file.outcome = FileOutcome::kUnchanged;  // written all the same, as every file is
    }
    if (file.outcome != FileOutcome::kKeptChanging) {
      return;
    }
  }
  file.outcome = FileOutcome::kKeptChanging;
}
