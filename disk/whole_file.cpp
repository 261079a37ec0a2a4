#include "disk/whole_file.h"

#include <cstdlib>

FileBytes::~FileBytes() {
  std::free(block_);
}

bool FileBytes::make_room(std::size_t capacity) {
  if (capacity <= capacity_ && block_ != nullptr) {
    return true;
  }
  char* grown = static_cast<char*>(std::realloc(block_, capacity == 0 ? 1 : capacity));
  if (grown == nullptr) {
    clear();
    return false;
  }
  block_ = grown;
  capacity_ = capacity;
  ask_for_large_pages(block_, capacity_);
  return true;
}

void FileBytes::clear() {
  std::free(block_);
  block_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}
