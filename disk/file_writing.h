#ifndef CONFMEND_DISK_FILE_WRITING_H_
#define CONFMEND_DISK_FILE_WRITING_H_

#include <cstdint>
#include <string>
#include <string_view>

// The two ways a file gets its new content: replaced by a new file, which no crash or power
// cut can leave half written, or, where a new file would lose some of what the old one is,
// written over in place.

enum class WriteMode {
  kText,    // every "\n" stored as the platform's line end
  kBinary,  // the bytes exactly
};

enum class ReplaceResult {
  kReplaced,     // the file holds the new text, on stable storage
  kNotWritable,  // the file itself may not be written (read-only): left as it was
  kFailed,       // the new file could not be written whole (a full disk): removed, the old
                 // file left as it was
  kInPlaceOnly,  // a new file could not be what the old one is: nothing was done
};

// Writes the text, in text mode, to a new file beside the file that `path` names or, for a
// link, leads to; flushes it to stable storage; renames it over the old file in one step; and
// flushes the folder. The new file takes over what the old one is: permission bits, owner,
// group and extended attributes (ACLs among them) on POSIX; attributes, creation time, owner
// and access control list on Windows. A file with more than one name (hard links), one whose
// identity cannot be carried over, and one in whose folder no new file can be made are left
// to write_file_in_place.
ReplaceResult replace_file_durably(const std::string& path, std::string_view text);

enum class WriteResult {
  kWritten,
  kCannotOpen,  // the file was not touched
  kFailed,      // opened and emptied, but the bytes may not all have reached it
};

// Empties the file and writes the bytes, then flushes them to stable storage; every step is
// checked. A file that is not there is not made.
WriteResult write_file_in_place(const std::string& path, std::string_view bytes, WriteMode mode);

// The new files have names of one exact pattern: ".confmend-", 16 lower-case hexadecimal
// digits, ".tmp". A run killed, or cut by a power failure, between making one and renaming
// it leaves it behind, for the next run to remove; no other name is ever removed.
std::string replacement_name(std::uint64_t number);
bool is_replacement_name(std::string_view name);
// A number for the next new file's name that no other run is likely to choose too.
std::uint64_t replacement_number();

// Removes a new file that an earlier run left behind, when it is a regular file.
void remove_leftover_replacement(const std::string& path);

#endif  // CONFMEND_DISK_FILE_WRITING_H_
