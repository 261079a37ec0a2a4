#include "mending/text_accumulator.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "disk/whole_file.h"

TextAccumulator::~TextAccumulator() {
  std::free(block_);
}

void TextAccumulator::clear() {
  std::free(block_);
  block_ = nullptr;
  length_ = 0;
  capacity_ = 0;
  failed_ = false;
}

bool TextAccumulator::make_room(std::size_t extra) {
  if (failed_ || extra > std::numeric_limits<std::size_t>::max() / 2 - length_) {
    failed_ = true;
    return false;
  }
  const std::size_t needed = length_ + extra;
  if (block_ != nullptr && needed <= capacity_) {
    return true;
  }
  std::size_t capacity = capacity_ + capacity_ / 2;
  if (capacity < needed) {
    capacity = needed;
  }
  char* grown = static_cast<char*>(std::realloc(block_, capacity + 1));
  if (grown == nullptr) {
    // The old block stays intact and owned; the text is marked as missing pieces.
    failed_ = true;
    return false;
  }
  if (block_ == nullptr) {
    grown[0] = '\0';
  }
  block_ = grown;
  capacity_ = capacity;
  ask_for_large_pages(block_, capacity_);
  return true;
}

void TextAccumulator::reserve(std::size_t capacity) {
  if (block_ == nullptr || capacity > capacity_) {
    make_room(capacity > length_ ? capacity - length_ : 0);
  }
}

TextAccumulator& TextAccumulator::append_text(std::string_view piece) {
  const std::size_t nul = piece.find('\0');
  return append_bytes(nul == std::string_view::npos ? piece : piece.substr(0, nul));
}

TextAccumulator& TextAccumulator::append_growing(std::string_view bytes) {
  if (make_room(bytes.size())) {
    copy_in(bytes);
  }
  return *this;
}
