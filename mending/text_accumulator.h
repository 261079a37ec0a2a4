#ifndef CONFMEND_MENDING_TEXT_ACCUMULATOR_H_
#define CONFMEND_MENDING_TEXT_ACCUMULATOR_H_

#include <cstddef>
#include <cstring>
#include <string_view>

// A growable, NUL-terminated byte buffer that collects the new text of one file. It has no
// block until the first append. Appends cost time in proportion to the piece, not to the
// text already held: the length is kept and the buffer grows geometrically.
//
// When memory runs out the accumulator reports failed(): its text then misses pieces and
// must never be written over a file.
class TextAccumulator {
 public:
  TextAccumulator() = default;
  ~TextAccumulator();
  TextAccumulator(const TextAccumulator&) = delete;
  TextAccumulator& operator=(const TextAccumulator&) = delete;

  // Adds the piece up to its first NUL byte, if it has one.
  TextAccumulator& append_text(std::string_view piece);
  // Adds the bytes exactly, sparing the search for a NUL: for pieces known to hold none,
  // since the text never holds one.
  TextAccumulator& append_bytes(std::string_view bytes) {
    // Inline while the buffer has room: this runs for every piece of every line.
    if (block_ != nullptr && bytes.size() <= capacity_ - length_) {
      copy_in(bytes);
      return *this;
    }
    return append_growing(bytes);
  }
  // Adds one byte; the NUL byte leaves the text unchanged but makes sure a buffer exists.
  TextAccumulator& append_char(char c) {
    if (block_ != nullptr && length_ < capacity_ && c != '\0') {
      block_[length_++] = c;
      block_[length_] = '\0';
      return *this;
    }
    return c == '\0' ? append_growing({}) : append_growing(std::string_view(&c, 1));
  }
  // Makes room for `capacity` bytes of text ahead of time.
  void reserve(std::size_t capacity);
  // Gives the buffer back: as new, with none.
  void clear();

  // The text, or nullptr while nothing has been appended.
  const char* text() const { return block_; }
  std::size_t size() const { return length_; }
  bool failed() const { return failed_; }

 private:
  bool make_room(std::size_t extra);
  TextAccumulator& append_growing(std::string_view bytes);
  // Copies the bytes to the end of the text, which has room for them.
  void copy_in(std::string_view bytes) {
    if (!bytes.empty()) {  // an empty view may have no address at all
      std::memcpy(block_ + length_, bytes.data(), bytes.size());
    }
    length_ += bytes.size();
    block_[length_] = '\0';
  }

  char* block_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;  // bytes of text the buffer holds, without its terminator
  bool failed_ = false;
};

#endif  // CONFMEND_MENDING_TEXT_ACCUMULATOR_H_
