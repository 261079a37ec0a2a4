#include "disk/folder.h"

#include <utility>

Folder::~Folder() {
  close();
}

Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, kNoHandle)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

std::string Folder::path_of(std::string_view name) const {
  return join_path(join_path(path_, "/"), std::string(name));
}

std::string join_path(const std::string& a, const std::string& b) {
  return a + b;
}
