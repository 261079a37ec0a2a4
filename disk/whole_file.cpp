#include "disk/whole_file.h"

#include <cstdlib>

#include "disk/file_writing.h"

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

PiecewiseFile PiecewiseFile::open(const std::string& path) {
  std::uint64_t size = 0;
  const std::intptr_t handle = open_file_to_read(path, size);
  return handle == -1 ? PiecewiseFile() : PiecewiseFile(handle, size);
}

PiecewiseFile::~PiecewiseFile() {
  if (handle_ != -1) {
    close_read_file(handle_);
  }
}

long long PiecewiseFile::read_at(char* buffer, std::size_t size, std::uint64_t at) const {
  return ::read_at(handle_, buffer, size, at);
}
