#ifndef CONFMEND_DISK_READ_IN_PIECES_H_
#define CONFMEND_DISK_READ_IN_PIECES_H_

// disk/ only: how both platforms read a whole file into memory.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "disk/system_error.h"
#include "disk/whole_file.h"

// Read at most this much at once, and look for NUL in it before reading on.
constexpr std::size_t kPiece = 1 << 20;
// Files up to this size get room for all of their bytes at once; larger ones grow as read,
// so that one that proves to hold NUL never takes its whole size.
constexpr std::uint64_t kRoomAtOnce = 64 << 20;

// Reads to the end into a buffer on the C heap, which tells when memory is short, with
// `read_piece(buffer, most)`: the bytes read, 0 at the end, or -1 with `error` set. A file
// said to be `size` bytes long may have grown since; none may be larger than `largest`. With
// `stop_at_nul`, a NUL byte ends the reading.
template <typename ReadPiece>
ReadResult read_in_pieces(const ReadPiece& read_piece, std::uint64_t size, std::uint64_t largest,
                          bool stop_at_nul, FileBytes& bytes) {
  if (size > largest || size >= SIZE_MAX / 2 ||
      !bytes.make_room(static_cast<std::size_t>(std::min(size, kRoomAtOnce)) + 1)) {
    return ReadResult::kTooLarge;
  }
  std::size_t held = 0;
  for (;;) {
    if (held == bytes.capacity()) {
      const std::size_t more = bytes.capacity() + bytes.capacity() / 2 + 65536;
      if (more > largest + 1 || !bytes.make_room(more)) {
        bytes.clear();
        return ReadResult::kTooLarge;
      }
    }
    const long long got =
        read_piece(bytes.data() + held, std::min(bytes.capacity() - held, kPiece));
    if (got == 0) {
      bytes.set_size(held);
      return held > largest ? ReadResult::kTooLarge : ReadResult::kRead;
    }
    if (got < 0) {
      bytes.clear();
      return ReadResult::kCannotRead;
    }
    const auto size_read = static_cast<std::size_t>(got);
    if (stop_at_nul && std::memchr(bytes.data() + held, '\0', size_read) != nullptr) {
      bytes.clear();
      return ReadResult::kHoldsNul;
    }
    held += size_read;
  }
}

#endif  // CONFMEND_DISK_READ_IN_PIECES_H_
