#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
    unlinkat(at, name.c_str(), 0);
  }
  return written;
}

void remove_folder_tree(const Folder& folder, const std::string& name) {
  const Folder inner = folder.open_folder(name, Follow::kNoLink);
  std::vector<FolderEntry> entries;
  if (inner.is_open() && inner.list(entries)) {
    for (const FolderEntry& entry : entries) {
      if (entry.kind == EntryKind::kFolder && entry.plain) {
        remove_folder_tree(inner, entry.name);
      } else {
        unlinkat(static_cast<int>(inner.handle()), entry.name.c_str(), 0);
      }
    }
  }
  unlinkat(static_cast<int>(folder.handle()), name.c_str(), AT_REMOVEDIR);
}
