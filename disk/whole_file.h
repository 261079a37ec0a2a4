#ifndef CONFMEND_DISK_WHOLE_FILE_H_
#define CONFMEND_DISK_WHOLE_FILE_H_

#include <string>
#include <string_view>

// The bytes of a regular file, read to its real end: no line-end translation, and no byte
// value ends the file early. False when it cannot be opened, is no regular file (a folder, a
// pipe or a device, whose opening never waits), or a read fails.
bool read_whole_file(const std::string& path, std::string& bytes);

enum class WriteMode {
  kText,    // every "\n" stored as the platform's line end
  kBinary,  // the bytes exactly
};

enum class WriteResult {
  kWritten,
  kCannotOpen,  // the file was not touched
  kFailed,      // opened and emptied, but the bytes may not all have reached it
};

// Empties the file (creating it if absent) and writes the bytes; every step is checked.
WriteResult replace_file_content(const std::string& path, std::string_view bytes, WriteMode mode);

#endif  // CONFMEND_DISK_WHOLE_FILE_H_
