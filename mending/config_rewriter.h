#ifndef CONFMEND_MENDING_CONFIG_REWRITER_H_
#define CONFMEND_MENDING_CONFIG_REWRITER_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/file_writing.h"
#include "disk/folder.h"
#include "disk/whole_file.h"
#include "mending/mending_report.h"
#include "mending/text_accumulator.h"
#include "settings/missing_settings.h"
#include "settings/setting_line.h"

// What a run gives each file: by the plain rule, the reference's value to each line of its
// name; with --add-missing, in a DOSBox configuration file, also the settings DOSBox keeps in
// a section, to lines that name them in another case there, and added where the file lacks
// them. Where only `kept_in_sections` is given, the file is only looked at for what it lacks.
struct MendingRules {
  MendingRules(const SettingTable& plain_reference)  // NOLINT: the plain rule alone
      : reference(&plain_reference) {}

  const SettingTable* reference;
  const std::vector<SectionSetting>* kept_in_sections = nullptr;
  bool add_missing = false;
};

// The new text of a configuration file: every line trimmed and ended by `line_end`, and each
// setting line whose name has a non-empty reference value given that value; and what the
// rules add (see MendingRules), each added line ended alike. Lines are split as
// for_each_trimmed_line splits them, so that none swallows another. With `lines`, tells how
// each line read came out (see MendedLine).
void mend_config_text(const MendingRules& rules, std::string_view original,
                      TextAccumulator& new_text, std::string_view line_end = "\n",
                      FileLacks* lacks = nullptr, std::vector<MendedLine>* lines = nullptr);

enum class MendingMode {
  kWrite,
  kDryRun,  // everything but writing: files, names and times stay as they are
};

// What the caller asks of a file before it is written; by default nothing.
struct MendingGuards {
  // The tree the folder must still lie within: one moved out during the run is left.
  const Folder* tree = nullptr;
  // Whether the file read is this rewriter's to mend: no other thread's, no other name's.
  std::function<bool(const FileIdentity&)> is_ours;
  // Keeps what the file holds, and a digest of what it is given, to take the run back by,
  // before a file whose bytes change is changed; false, with the reason, when it cannot. A
  // large file's is asked on a thread of its own, while the file's new bytes are written.
  std::function<bool(std::string_view old_bytes, std::string_view new_bytes, SystemError& error)>
      keep_copy;
  // Where the store can link it: keeps a large file's old file itself, just before it is
  // replaced, instead of writing a copy of its bytes.
  std::function<bool(const OldFile& old, std::string_view old_bytes, std::string_view new_bytes,
                     SystemError& error)>
      keep_old_file;
};

// What rewriting one file came to.
struct RewrittenFile {
  FileOutcome outcome = FileOutcome::kUnchanged;
  bool replaced = false;  // a temporary file took its place: its folder wants flushing
  SystemError error;      // what the system refused, where it refused something
  // What the file held, and the bytes it was given (or, in a dry run, would be given).
  FileBytes original;
  TextAccumulator new_text;
  FileLacks lacks;
  std::vector<MendedLine> lines;  // a dry run's: how each line read came out
};

// Gives the file exactly these bytes as a run gives a file its new text, once: kChanged, or
// kKeptChanging when it is no longer what was read, or why it was left; `replaced` when a
// temporary file took its place (its folder wants flushing). `keep_copy`, when given, is asked
// just before the file is changed, and kNoCopyKept is the outcome when it says no; with
// `keep_old`, a file replaced by a temporary file asks that instead.
FileOutcome give_file_bytes(const Folder& folder, const std::string& name, std::string_view bytes,
                            const FileAsRead& read, SystemError& error, bool& replaced,
                            const BeforeChanging& keep_copy = {}, const KeepingOld& keep_old = {});

// Gives the file `name` in the folder its mended text, with the platform's line ends: a
// temporary file takes its place in one step (see replace_file_durably), or, where only that
// keeps the file's metadata, the text is written over it, and put back as it was should that
// fail midway. A file that cannot be read to its end, that holds NUL bytes or that cannot be
// written is left as it is. A file that another program writes meanwhile is mended again from
// what it then holds, a few times at most. In a dry run nothing is written. The outcome tells
// whether the bytes changed: kChanged, kUnchanged (written all the same) or, in a dry run,
// kWouldChange.
void rewrite_config_file(const MendingRules& rules, const Folder& folder, const std::string& name,
                         MendingMode mode, RewrittenFile& result, const MendingGuards& guards = {});

#endif  // CONFMEND_MENDING_CONFIG_REWRITER_H_
