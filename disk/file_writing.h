#ifndef CONFMEND_DISK_FILE_WRITING_H_
#define CONFMEND_DISK_FILE_WRITING_H_

#include <cstdint>
#include <functional>
#include <memory>
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

// Writes the bytes to a temporary file in the folder, flushes it to stable storage, and renames
// it over the file `name` in one step. It takes on the old file's metadata: permission
// bits (set-ID bits included), owner, group and exactly its extended attributes (ACLs among
// them) on POSIX; attributes, creation time, owner and access control list on Windows. A
// file with more than one name (hard links), one whose identity cannot be carried over, and
// one in whose folder no temporary file can be made are left to write_file_in_place. Once the
// temporary file is on stable storage, and before the last look at the file, it asks
// `before_changing`, when there is one; once the last look found the file as read, just
// before the rename, it asks `keep_old`, when there is one. The caller flushes the folder.
// kChanged once the file holds the new bytes, on stable storage; kCannotWrite where the file
// may not be written or the temporary file could not be written whole; kKeptChanging, kInUse;
// kNoCopyKept where `before_changing` or `keep_old` said no; kInPlaceOnly. What the system
// refused, if anything, is told in `error`. Whatever the outcome, no temporary file is left.
FileOutcome replace_file_durably(const Folder& folder, const std::string& name,
                                 std::string_view bytes, const FileAsRead& read, SystemError& error,
                                 const BeforeChanging& before_changing = {},
                                 const KeepingOld& keep_old = {});

// Writes the bytes over the file and flushes them to stable storage, every step checked. The
// space the old bytes take is never given up before the new bytes are whole (the file is cut
// short last), so that they can always be put back should a write fail, however full the
// disk. A file that is not there is not made; the file's mode is kept. kChanged; kKeptChanging
// or kInUse, the file not touched; kCannotWrite where it could not be opened, would pass the
// size a process may write (ulimit -f), or a write failed and its old bytes are back,
// exactly; kDamaged where putting them back failed too.
FileOutcome write_file_in_place(const Folder& folder, const std::string& name,
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

// Whether the open file holds exactly these bytes, read a piece at a time.
bool holds_exactly(std::intptr_t file, std::string_view bytes);

// The platform's part, for file_writing.cpp alone.

// One file being replaced, as the platform holds it: the old file looked at, the temporary
// file, and the last look; made by look_at_old_file(), and let go of by its deleter.
struct Replacement;
struct ReplacementDeleter {
  void operator()(Replacement* replacement) const;
};
using ReplacementHeld = std::unique_ptr<Replacement, ReplacementDeleter>;

// Looks at the old file again, never through a link, for what its replacement must take on:
// kUnchanged to go on; kKeptChanging; kCannotWrite or kInUse where the file itself may not be
// written (a rename would slip past its read-only bit); kInPlaceOnly where a new file could
// not be what it is (more than one name, say).
FileOutcome look_at_old_file(const Folder& folder, const std::string& name, const FileAsRead& read,
                             ReplacementHeld& replacement, SystemError& error);
// Makes the temporary file of this name exclusively, and holds it so that no other run takes
// it for a leftover.
enum class Creation { kMade, kNameTaken, kRefused };
Creation create_replacement(Replacement& replacement, const std::string& name, SystemError& error);
// Whether the folder refuses new files (for lack of permission), which leaves the in-place
// write.
bool refuses_new_files(SystemError error);
// Gives the temporary file what the old one has beyond its bytes: kUnchanged, kInPlaceOnly
// where it cannot, kKeptChanging where the temporary file is not where it was made.
FileOutcome carry_metadata(Replacement& replacement);
// Writes the bytes, finishes the metadata a write disturbs, and flushes the temporary file.
bool write_replacement(Replacement& replacement, std::string_view bytes, SystemError& error);
// The last look at the old file, just before the rename: kUnchanged where it is exactly what
// was read, kKeptChanging, kInUse. What it holds open stays held until the rename.
FileOutcome look_last(Replacement& replacement, const FileAsRead& read);
// The old file as the last look found it, for a caller to keep.
const OldFile& looked_at_file(Replacement& replacement);
// Renames the temporary file over the old one in one step: kChanged; kInUse; kInPlaceOnly
// where the folder refuses; kCannotWrite.
FileOutcome rename_replacement(Replacement& replacement, SystemError& error);
// Removes the temporary file; one left behind, the next run removes.
void discard_replacement(Replacement& replacement);

// The last look before a file is written in place: kUnchanged where it is still exactly what
// was read, kKeptChanging where it is not, kInUse where another program holds it open for
// writing past every wait.
FileOutcome look_before_writing(const Folder& folder, const std::string& name,
                                const FileAsRead& read);
// A file opened to be written over.
struct FileToWrite {
  std::intptr_t handle = -1;
  std::uint32_t mode = 0;  // its permission bits as opened, on POSIX
};
// Opens the file `name` to be written over, never through a link, and finds it the regular
// file that was read. Otherwise no handle, and why: kCannotWrite (with `error`), kInUse or
// kKeptChanging.
FileToWrite open_to_write_over(const Folder& folder, const std::string& name, const FileStamp& read,
                               FileOutcome& refused, SystemError& error);
// More than the process may write to one file (ulimit -f), with the error that says so.
bool past_file_size_limit(std::uint64_t size, SystemError& error);
// Each false with the system's reason in last_system_error().
bool write_at(std::intptr_t file, std::string_view bytes, std::uint64_t at);
bool set_file_size(std::intptr_t file, std::uint64_t size);
bool flush_file(std::intptr_t file);
// Gives the file back the permission bits a write cleared (the set-ID bits), where its writer
// may, and closes it.
void close_written_file(const FileToWrite& file);
// Reads up to `size` bytes at `at`: how many, 0 at the end, -1 on an error.
long long read_at(std::intptr_t file, char* buffer, std::size_t size, std::uint64_t at);

#endif  // CONFMEND_DISK_FILE_WRITING_H_
