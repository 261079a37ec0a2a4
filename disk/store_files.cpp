#include "disk/store_files.h"

#include <utility>

AppendedFile::~AppendedFile() {
  close();
}

AppendedFile::AppendedFile(AppendedFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), size_(other.size_), broken_(other.broken_) {}

AppendedFile& AppendedFile::operator=(AppendedFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
    size_ = other.size_;
    broken_ = other.broken_;
  }
  return *this;
}

HeldFile::HeldFile(HeldFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    HeldFile gone(std::move(*this));
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}
