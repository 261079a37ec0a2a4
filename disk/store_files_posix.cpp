#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "disk/posix_file.h"
#include "disk/store_files.h"

std::string user_state_folder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    return state;
  }
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/state" : "";
}

bool make_folders(const std::string& path, SystemError& error) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = last_system_error();
      return false;
    }
    if (end == std::string::npos) {
      break;
    }
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = SystemError{ENOTDIR};
    return false;
  }
  return true;
}

bool create_file_flushed(const Folder& folder, const std::string& name, std::string_view bytes,
                         SystemError& error) {
  const int at = static_cast<int>(folder.handle());
  const int fd = open_retrying(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = last_system_error();
    return false;
  }
  bool written = true;
  for (std::string_view left = bytes; written && !left.empty();) {
    const ssize_t put = write(fd, left.data(), left.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    written = put > 0;
    if (written) {
      left.remove_prefix(static_cast<std::size_t>(put));
    } else if (put == 0) {
      errno = ENOSPC;
    }
  }
  written = written && fsync(fd) == 0;
  if (!written) {
    error = last_system_error();
  }
  if (close(fd) != 0 && written) {
    error = last_system_error();
    written = false;
  }
  if (!written) {
    (void)unlinkat(at, name.c_str(), 0);  // left, the store's reader passes over it
  }
  return written;
}

void remove_folder_tree(const Folder& folder, const std::string& name) {
  const Folder inner = folder.open_folder(name, Follow::kNoLink);
  std::vector<FolderEntry> entries;
  if (inner.is_open() && inner.list(entries)) {
    for (const FolderEntry& entry : entries) {
      if (entry.kind == EntryKind::kFolder && !entry.may_be_link) {
        remove_folder_tree(inner, entry.name);
      } else {
        (void)unlinkat(static_cast<int>(inner.handle()), entry.name.c_str(), 0);  // see below
      }
    }
  }
  // What cannot be removed stays, and is tried again with the next run's pruning.
  (void)unlinkat(static_cast<int>(folder.handle()), name.c_str(), AT_REMOVEDIR);
}

void AppendedFile::close() {
  if (handle_ != -1) {
    (void)::close(static_cast<int>(handle_));  // written and flushed already: nothing is lost
    handle_ = -1;
  }
}

AppendedFile AppendedFile::create(const Folder& folder, const std::string& name,
                                  SystemError& error) {
  AppendedFile file;
  const int fd = open_retrying(static_cast<int>(folder.handle()), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = last_system_error();
  }
  file.handle_ = fd;
  return file;
}

bool AppendedFile::append(std::string_view first, std::string_view second, SystemError& error) {
  const int fd = static_cast<int>(handle_);
  if (broken_) {
    error = SystemError{EIO};
    return false;
  }
  const auto at = static_cast<off_t>(size_);
  if (!write_all(fd, first, at) || !write_all(fd, second, at + static_cast<off_t>(first.size())) ||
      fsync(fd) != 0) {
    error = last_system_error();
    broken_ = ftruncate(fd, at) != 0;
    return false;
  }
  size_ += first.size() + second.size();
  return true;
}
