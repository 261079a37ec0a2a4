#ifndef CONFMEND_DISK_WHOLE_FILE_H_
#define CONFMEND_DISK_WHOLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "disk/folder.h"
#include "disk/system_error.h"

enum class ReadResult {
  kRead,
  kCannotRead,  // not there, no regular file, no permission, or a read error
  kTooLarge,    // larger than the memory there is, or than the caller's bound
  kHoldsNul,    // read_file_in only: it holds a NUL byte (UTF-16 text); read no further
};

// The bytes of a regular file, read to its real end: no line-end translation, and no byte
// value ends the file early. kCannotRead when it cannot be opened, is no regular file (a
// folder, a pipe or a device, whose opening never waits) or a read fails; kTooLarge when it
// is larger than `largest`, which bounds the memory it takes.
ReadResult read_whole_file(const std::string& path, std::string& bytes, std::size_t largest);

// What a file was when it was read, to tell whether it is still that file, unchanged.
struct FileStamp {
  FileIdentity identity;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's own units
  // When its metadata last changed, which a writer that puts the modification time back
  // cannot hide; 0 where the platform does not tell (Windows).
  std::int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};

// Asks the system to back a large buffer with large pages where it does so only when asked
// (Linux's transparent huge pages in their "madvise" mode): a 64 MB file then costs tens of
// page faults instead of sixteen thousand. Small buffers are left as they are.
void ask_for_large_pages(char* block, std::size_t size);

// A file's bytes, in a buffer on the C heap: a file too large for memory is told, not thrown.
class FileBytes {
 public:
  FileBytes() = default;
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::string_view view() const { return {block_, size_}; }
  // Room for `capacity` bytes; false, with the bytes held gone, when memory is short.
  bool make_room(std::size_t capacity);
  char* data() { return block_; }
  std::size_t capacity() const { return capacity_; }
  void set_size(std::size_t size) { size_ = size; }
  void clear();

 private:
  char* block_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Reads the regular file `name` in the folder (never through a link) to its real end, and
// tells what it was before the reading began. Read a piece at a time, so that a file holding
// a NUL byte is known as soon as the NUL is read, whatever its size.
ReadResult read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                        FileStamp& stamp, SystemError& error);

// What a file was when it was read, and the bytes it held: it must be found exactly so again
// just before it is replaced or written over.
struct FileAsRead {
  FileStamp stamp;
  std::string_view bytes;
};

// The identity and size of the regular file `name` in the folder, without opening it where
// the platform allows; none when it cannot be told.
std::optional<FileStamp> stamp_of_file_in(const Folder& folder, std::string_view name);

#endif  // CONFMEND_DISK_WHOLE_FILE_H_
