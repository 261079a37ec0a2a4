#include "disk/store_files.h"

#include <utility>
#include <vector>

#include "disk/file_writing.h"

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

// A record that cannot be written whole is cut off again, so that the records after it can
// be read; where even that fails, nothing more is appended, and the same error is told.
bool AppendedFile::append(std::string_view first, std::string_view second, SystemError& error) {
  if (broken_) {
    error = broken_;
    return false;
  }
  if (!write_at(handle_, first, size_) || !write_at(handle_, second, size_ + first.size()) ||
      !flush_file(handle_)) {
    error = last_system_error();
    if (!set_file_size(handle_, size_)) {
      broken_ = error;
    }
    return false;
  }
  size_ += first.size() + second.size();
  return true;
}

bool create_file_flushed(const Folder& folder, const std::string& name, std::string_view bytes,
                         SystemError& error) {
  {
    AppendedFile file = AppendedFile::create(folder, name, error);
    if (!file.is_open()) {
      return false;
    }
    if (file.append(bytes, {}, error)) {
      return true;
    }
  }  // closed first: Windows removes no file that is open
  // Left behind, it would only be an unfinished file, which the store's reader passes over.
  remove_file_in(folder, name);
  return false;
}

void remove_folder_tree(const Folder& folder, const std::string& name) {
  {
    const Folder inner = folder.open_folder(name, Follow::kNoLink);
    std::vector<FolderEntry> entries;
    if (inner.is_open() && inner.list(entries)) {
      for (const FolderEntry& entry : entries) {
        if (entry.kind == EntryKind::kFolder) {
          remove_folder_tree(inner, entry.name);
        } else {
          remove_file_in(inner, entry.name);
        }
      }
    }
  }  // closed first: Windows removes no folder that is open
  // What cannot be removed stays, and is tried again with the next run's pruning.
  remove_empty_folder_in(folder, name);
}
