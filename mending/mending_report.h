#ifndef CONFMEND_MENDING_MENDING_REPORT_H_
#define CONFMEND_MENDING_MENDING_REPORT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "disk/file_writing.h"
#include "disk/system_error.h"

// Whether the file has, or in a dry run would have, the text the run gives it.
inline bool is_mended(FileOutcome outcome) {
  return outcome == FileOutcome::kChanged || outcome == FileOutcome::kUnchanged ||
         outcome == FileOutcome::kWouldChange;
}

// What a DOSBox configuration file lacked of the settings kept in sections, before any was
// added: their places in the list of them, of those that may be added.
struct FileLacks {
  bool dosbox_file = false;
  std::vector<std::size_t> settings;
};

// How one line the rewriter read came out in the new text, for a dry run's diff: where the
// line of the old text it stands in ends (past its LF), and where its own new line begins and
// ends, and the lines added after it end, in the new text. Lines the rewriter read are those
// for_each_trimmed_line gives; one old line holding CRs gives several.
struct MendedLine {
  std::size_t old_end = 0;
  std::size_t new_start = 0;
  std::size_t new_end = 0;
  std::size_t added_end = 0;
};

struct FoundFile {
  std::string path;  // as it is announced: the walked folder's path, "/" and its name
  FileOutcome outcome = FileOutcome::kUnchanged;
  SystemError error;  // what the system refused, where the outcome is its refusal
  // A dry run's: the file's bytes, and those a run would give it; empty otherwise.
  std::string_view old_bytes, new_bytes;
  // Where an earlier name led to the same file: that name, under which it was mended (and, in
  // a dry run, its changes shown). Its outcome is that file's.
  std::string same_file_as;
  // A dry run's, where the run looks for settings kept in sections: what the file lacks.
  const FileLacks* lacks = nullptr;
  // A dry run's: how each line of the old bytes became lines of the new.
  const std::vector<MendedLine>* lines = nullptr;
};

// What a run of the mending tells, in the order of the walk; the driver decides what to
// show of it. Called on one thread, the one that started the run.
class MendingReport {
 public:
  virtual ~MendingReport() = default;
  // Another run of the program holds the tree; this one waits for it.
  virtual void waiting_for_other_run(const std::string& tree) = 0;
  // This run may not take part in the turns runs take: the tree is left unmended.
  virtual void cannot_take_turns(const std::string& tree, SystemError error) = 0;
  // A file found and handled, once it is done.
  virtual void file_done(const FoundFile& file) = 0;
  // A folder below more folders than the open file limit lets the run hold open: not walked.
  virtual void folder_too_deep(const std::string& path) = 0;
};

#endif  // CONFMEND_MENDING_MENDING_REPORT_H_
