#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "disk/file_writing.h"

namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// The file to replace, with what it is: the one a link leads to, so that the link stays a
// link; any other path as it is.
bool file_to_replace(const std::string& path, std::string& target, struct stat& info) {
  if (lstat(path.c_str(), &info) != 0) {
    return false;
  }
  if (!S_ISLNK(info.st_mode)) {
    target = path;
    return true;
  }
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    return false;
  }
  target = resolved;
  return stat(resolved, &info) == 0;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::vector<char> attribute_bytes(ssize_t (*get)(const char*, const char*, void*, size_t),
                                  const char* path, const char* name, bool& ok) {
  std::vector<char> value;
  for (;;) {
    const ssize_t size = get(path, name, value.data(), value.size());
    if (size >= 0 && static_cast<std::size_t>(size) <= value.size()) {
      value.resize(static_cast<std::size_t>(size));
      return value;
    }
    if (size < 0 && errno != ERANGE) {
      ok = false;
      return value;
    }
    value.resize(value.empty() ? 256 : value.size() * 2);
  }
}

ssize_t list_attributes(const char* path, const char*, void* names, size_t size) {
  return listxattr(path, static_cast<char*>(names), size);
}

// Gives the new file every extended attribute of the old one, ACLs included; false when one
// cannot be given (an SELinux label the user may not set, say).
bool carry_extended_attributes(const char* from, int to) {
  bool ok = true;
  const std::vector<char> names = attribute_bytes(list_attributes, from, nullptr, ok);
  if (!ok) {
    return errno == ENOTSUP;  // a file system without them
  }
  for (std::size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    at += std::char_traits<char>::length(name) + 1;
    const std::vector<char> value = attribute_bytes(getxattr, from, name, ok);
    if (!ok) {
      return false;
    }
    // The new file may have it already (an SELinux label given by the folder).
    std::vector<char> present(value.size() + 1);
    const ssize_t size = fgetxattr(to, name, present.data(), present.size());
    if (size == static_cast<ssize_t>(value.size()) &&
        std::equal(value.begin(), value.end(), present.begin())) {
      continue;
    }
    if (fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Owner and group first (a change of owner clears the set-ID bits), then the attributes,
// then the permission bits (an ACL sets some of them).
bool carry_identity(const char* from, const struct stat& old, int to) {
  struct stat now;
  if (fstat(to, &now) != 0) {
    return false;
  }
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      fchown(to, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  return carry_extended_attributes(from, to) && fchmod(to, old.st_mode & 07777) == 0;
}

// A folder that takes no new file, for lack of permission, leaves only the in-place write.
bool refuses_new_files(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

int create_replacement(const std::string& folder, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = folder + "/" + replacement_name(replacement_number());
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

void flush_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

ReplaceResult replace_file_durably(const std::string& path, std::string_view text) {
  std::string target;
  struct stat old;
  if (!file_to_replace(path, target, old) || old.st_nlink > 1) {
    return ReplaceResult::kInPlaceOnly;
  }
  // A rename needs no permission on the file itself: ask for it, so that a read-only file
  // stays read-only.
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return ReplaceResult::kNotWritable;
  }
  const std::string folder = folder_of(target);
  std::string replacement;
  const int fd = create_replacement(folder, replacement);
  if (fd < 0) {
    return refuses_new_files(errno) ? ReplaceResult::kInPlaceOnly : ReplaceResult::kFailed;
  }
  ReplaceResult result = ReplaceResult::kReplaced;
  if (!carry_identity(target.c_str(), old, fd)) {
    result = ReplaceResult::kInPlaceOnly;
  } else if (!write_all(fd, text) || fsync(fd) != 0) {
    result = ReplaceResult::kFailed;
  }
  if (close(fd) != 0 && result == ReplaceResult::kReplaced) {
    result = ReplaceResult::kFailed;
  }
  if (result == ReplaceResult::kReplaced && rename(replacement.c_str(), target.c_str()) != 0) {
    result = refuses_new_files(errno) ? ReplaceResult::kInPlaceOnly : ReplaceResult::kFailed;
  }
  if (result != ReplaceResult::kReplaced) {
    unlink(replacement.c_str());
    return result;
  }
  flush_folder(folder);
  return result;
}

// Never creates the file: a link that has come to lead nowhere must not make one.
WriteResult write_file_in_place(const std::string& path, std::string_view bytes, WriteMode) {
  // Non-blocking, so that a pipe put in the file's place is not waited on.
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return WriteResult::kCannotOpen;
  }
  const bool written = write_all(fd, bytes) && fsync(fd) == 0;
  return close(fd) == 0 && written ? WriteResult::kWritten : WriteResult::kFailed;
}

void remove_leftover_replacement(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    unlink(path.c_str());
  }
}
