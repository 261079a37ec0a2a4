#ifndef CONFMEND_DISK_WHOLE_FILE_H_
#define CONFMEND_DISK_WHOLE_FILE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "disk/folder.h"
#include "disk/system_error.h"

// What became of a file, told in one way from the disk, which reads and writes it, up to the
// report that shows it; what the system refused, where it refused something, travels beside
// it as a SystemError.
enum class FileOutcome {
  kChanged,       // it holds its new bytes, which differ from what it held
  kUnchanged,     // its new bytes are what it held; a run still writes it, a dry run does not;
                  // of a read or a look: it is as it was, to go on
  kWouldChange,   // a dry run's: it would be given new bytes that differ
  kCannotRead,    // it could not be read: left alone
  kHoldsNul,      // it holds NUL bytes (UTF-16 text): left alone
  kOutOfMemory,   // its text does not fit in memory: left alone
  kCannotWrite,   // it could not be written (read-only, a full disk): left as it was
  kDamaged,       // an in-place write failed and its old bytes could not be put back
  kKeptChanging,  // another program changed it since it was read: left as it is
  kInUse,         // another program kept it open past every wait: left as it is
  kMovedAway,     // its folder was moved out of the tree being walked: left as it is
  kNoCopyKept,    // no copy to take the change back by could be kept: left as it is
  kInPlaceOnly,   // only an in-place write keeps its metadata: nothing done yet
};

// The bytes of a regular file, read to its real end: no line-end translation, and no byte
// value ends the file early. kUnchanged once read; kCannotRead when it cannot be opened, is
// no regular file (a folder, a pipe or a device, whose opening never waits) or a read fails;
// kOutOfMemory when it is larger than `largest`, which bounds the memory it takes.
FileOutcome read_whole_file(const std::string& path, std::string& bytes, std::size_t largest);

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
// tells what it was before the reading began: kUnchanged once it is read; kCannotRead (not
// there, no regular file, no permission, a read error), kInUse (another program keeps it to
// itself), kOutOfMemory, or kHoldsNul (UTF-16 text), with the system's reason in `error`
// where it refused something. Read a piece at a time, so that a file holding a NUL byte is
// known as soon as the NUL is read, whatever its size.
FileOutcome read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
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

// Another program's file, opened by path (links followed) to be read a piece at a time
// wherever the reader asks: for files too large to hold whole, or needed only in part.
//   PiecewiseFile file = PiecewiseFile::open(path);
//   if (file.is_open()) { ... file.read_at(buffer, size, at) ... }
class PiecewiseFile {
 public:
  // Not open when it cannot be opened or is no regular file.
  static PiecewiseFile open(const std::string& path);
  PiecewiseFile() = default;
  ~PiecewiseFile();
  PiecewiseFile(PiecewiseFile&& other) noexcept
      : handle_(std::exchange(other.handle_, -1)), size_(other.size_) {}
  PiecewiseFile& operator=(PiecewiseFile&&) = delete;
  PiecewiseFile(const PiecewiseFile&) = delete;
  PiecewiseFile& operator=(const PiecewiseFile&) = delete;

  bool is_open() const { return handle_ != -1; }
  // Its size when it was opened.
  std::uint64_t size() const { return size_; }
  // Up to `size` bytes at `at`: how many were read, 0 past the end, -1 on an error.
  long long read_at(char* buffer, std::size_t size, std::uint64_t at) const;

 private:
  PiecewiseFile(std::intptr_t handle, std::uint64_t size) : handle_(handle), size_(size) {}
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
};

// Each platform's: the regular file at `path` opened to be read, and its size; -1 when it
// cannot be; and its closing.
std::intptr_t open_file_to_read(const std::string& path, std::uint64_t& size);
void close_read_file(std::intptr_t file);

// For disk/ alone: how both platforms read a whole file into memory.

// Read at most this much at once, and look for NUL in it before reading on.
constexpr std::size_t kPiece = 1 << 20;
// Files up to this size get room for all of their bytes at once; larger ones grow as read,
// so that one that proves to hold NUL never takes its whole size.
constexpr std::uint64_t kRoomAtOnce = 64 << 20;

// Reads to the end into a buffer on the C heap, which tells when memory is short, with
// `read_piece(buffer, most)`: the bytes read, 0 at the end, or -1 with `error` set. A file
// said to be `size` bytes long may have grown since; none may be larger than `largest`
// (kOutOfMemory). With `stop_at_nul`, a NUL byte ends the reading (kHoldsNul).
template <typename ReadPiece>
FileOutcome read_in_pieces(const ReadPiece& read_piece, std::uint64_t size, std::uint64_t largest,
                           bool stop_at_nul, FileBytes& bytes) {
  if (size > largest || size >= SIZE_MAX / 2 ||
      !bytes.make_room(static_cast<std::size_t>(std::min(size, kRoomAtOnce)) + 1)) {
    return FileOutcome::kOutOfMemory;
  }
  std::size_t held = 0;
  for (;;) {
    if (held == bytes.capacity()) {
      const std::size_t more = bytes.capacity() + bytes.capacity() / 2 + 65536;
      if (more > largest + 1 || !bytes.make_room(more)) {
        bytes.clear();
        return FileOutcome::kOutOfMemory;
      }
    }
    const long long got =
        read_piece(bytes.data() + held, std::min(bytes.capacity() - held, kPiece));
    if (got == 0) {
      bytes.set_size(held);
      return held > largest ? FileOutcome::kOutOfMemory : FileOutcome::kUnchanged;
    }
    if (got < 0) {
      bytes.clear();
      return FileOutcome::kCannotRead;
    }
    const auto size_read = static_cast<std::size_t>(got);
    if (stop_at_nul && std::memchr(bytes.data() + held, '\0', size_read) != nullptr) {
      bytes.clear();
      return FileOutcome::kHoldsNul;
    }
    held += size_read;
  }
}

#endif  // CONFMEND_DISK_WHOLE_FILE_H_
