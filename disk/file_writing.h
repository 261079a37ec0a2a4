#ifndef CONFMEND_DISK_FILE_WRITING_H_
#define CONFMEND_DISK_FILE_WRITING_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "disk/folder.h"
#include "disk/system_error.h"
#include "disk/whole_file.h"

// The two ways a file gets its new bytes: replaced by a temporary file, which no crash or
// power cut can leave half written, or, where a temporary file could not take on the old
// one's metadata, written over in place. Both write the bytes exactly, and both first make sure,
// just before the file is touched, that it is still exactly what was read: the same file, size,
// times and bytes, with no other program holding it open for writing (one that does is waited out
// for about two seconds).

// What a caller asks just before a file is changed, its new bytes written and flushed:
// whether it may be; false, with the reason in `error`, leaves it as it was.
using BeforeChanging = std::function<bool(SystemError& error)>;

// The file about to be replaced, exactly as the last look found it: a caller may keep the old
// file itself by another name, in a folder of the same file system, instead of a copy of its
// bytes (as backup tools keep old versions).
class OldFile {
 public:
  virtual ~OldFile() = default;
  // Gives the old file the name `name` in the folder too (a hard link); false, with the
  // reason, where the system will not (another file system, one without links, a file the
  // system protects from links by others).
  virtual bool link_into(const Folder& folder, const std::string& name,
                         SystemError& error) const = 0;
};
// Asked just before the file is replaced, once the last look found it as read; false, with
// the reason, leaves it as it was.
using KeepingOld = std::function<bool(const OldFile& old, SystemError& error)>;

// Whether replace_file_durably can offer the old file to be linked: where it cannot, a
// `keep_old` is given an old file that links nowhere.
extern const bool kOldFilesLink;

enum class ReplaceResult {
  kReplaced,     // the file holds the new bytes, on stable storage; the folder is not yet
                 // flushed
  kNotWritable,  // the file itself may not be written (read-only): left as it was
  kFailed,       // the temporary file could not be written whole (a full disk): removed,
                 // the old file left as it was
  kChanged,      // the file is no longer what was read (another program wrote it): left
  kInUse,        // another program kept the file open past every wait: left
  kInPlaceOnly,  // a temporary file could not take on the old one's metadata: nothing done
  kRefused,      // `before_changing` or `keep_old` said no: the temporary file removed, the
                 // old file left
};

// Writes the bytes to a temporary file in the folder, flushes it to stable storage, and renames
// it over the file `name` in one step. It takes on the old file's metadata: permission
// bits (set-ID bits included), owner, group and exactly its extended attributes (ACLs among
// them) on POSIX; attributes, creation time, owner and access control list on Windows. A
// file with more than one name (hard links), one whose identity cannot be carried over, and
// one in whose folder no temporary file can be made are left to write_file_in_place. Once the
// temporary file is on stable storage, and before the last look at the file, it asks
// `before_changing`, when there is one; once the last look found the file as read, just
// before the rename, it asks `keep_old`, when there is one. The caller flushes the folder.
// What the system refused, if anything, is told in `error`.
ReplaceResult replace_file_durably(const Folder& folder, const std::string& name,
                                   std::string_view bytes, const FileAsRead& read,
                                   SystemError& error, const BeforeChanging& before_changing = {},
                                   const KeepingOld& keep_old = {});

enum class WriteResult {
  kWritten,
  kCannotOpen,         // the file was not touched
  kChanged,            // no longer what was read: not touched
  kInUse,              // another program kept it open for writing past every wait: not touched
  kPastFileSizeLimit,  // more than the process may write to a file (ulimit -f): not touched
  kPutBack,            // a write failed midway; the old bytes are back, exactly
  kDamaged,            // a write failed midway, and so did putting the old bytes back
};

// Writes the bytes over the file and flushes them to stable storage, every step checked. The
// space the old bytes take is never given up before the new bytes are whole (the file is cut
// short last), so that they can always be put back should a write fail, however full the
// disk. A file that is not there is not made; the file's mode is kept.
WriteResult write_file_in_place(const Folder& folder, const std::string& name,
                                std::string_view bytes, const FileAsRead& read, SystemError& error);

// Whether the file itself may be written: a rename would slip past its read-only bit.
bool may_write_file_in(const Folder& folder, const std::string& name, SystemError& error);

// The temporary files have names of one exact pattern: ".confmend-", 16 lower-case hexadecimal
// digits, ".tmp". One is held while it is written, so that no other run takes it for a
// leftover. A run killed, or cut by a power failure, between making one and renaming it
// leaves it behind, for the next run to remove; no other name is ever removed.
std::string replacement_name(std::uint64_t number);
bool is_replacement_name(std::string_view name);
// A number for the next temporary file's name that no other run is likely to choose too.
std::uint64_t replacement_number();

// Removes a temporary file that an earlier run left behind: a regular file that nobody holds.
void remove_leftover_replacement(const Folder& folder, const std::string& name);

#endif  // CONFMEND_DISK_FILE_WRITING_H_
