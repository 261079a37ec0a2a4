#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "disk/folder.h"
#include "disk/posix_file.h"
#include "disk/read_ahead.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

int descriptor(std::intptr_t handle) {
  return static_cast<int>(handle);
}

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) {
    return EntryKind::kFolder;
  }
  return S_ISREG(mode) ? EntryKind::kFile : EntryKind::kOther;
}

// The listing's type spares a stat for all but links (and file systems that give none).
// Links are taken for what they lead to; one that leads nowhere counts as a file, so that
// the rewriter reports it as unreadable.
FolderEntry entry_of(int folder, const char* name, unsigned char type) {
  FolderEntry entry{name, EntryKind::kOther, type == DT_LNK};
  switch (type) {
    case DT_DIR:
      entry.kind = EntryKind::kFolder;
      return entry;
    case DT_REG:
      entry.kind = EntryKind::kFile;
      return entry;
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:
      return entry;
  }
  struct stat info;
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return entry;  // gone since it was listed
  }
  entry.may_be_link = S_ISLNK(info.st_mode);
  if (!entry.may_be_link) {
    entry.kind = kind_of_mode(info.st_mode);
  } else {
    entry.kind =
        fstatat(folder, name, &info, 0) == 0 ? kind_of_mode(info.st_mode) : EntryKind::kFile;
  }
  return entry;
}

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Gives `visit` the name and type of each entry of the open folder but "." and "..", for as
// long as it says to go on. False when the folder cannot be read.
template <typename Visit>
bool for_each_entry(int fd, char* buffer, std::size_t size, const Visit& visit) {
  for (;;) {
    const ssize_t got = getdents64(fd, buffer, size);
    if (got == 0) {
      return true;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* found = reinterpret_cast<const dirent64*>(buffer + at);
      at += found->d_reclen;
      if (!is_dot_or_dot_dot(found->d_name) && !visit(found->d_name, found->d_type)) {
        return true;
      }
    }
  }
}

std::optional<FileIdentity> identity_of(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    return std::nullopt;
  }
  return identity_of(info);
}

// The folder above, by its ".." entry: the root's is the root itself.
int open_parent(int folder) {
  return openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

void Folder::close() {
  if (handle_ != kNoHandle) {
    (void)::close(descriptor(handle_));  // only read through: nothing to lose
    handle_ = kNoHandle;
  }
}

Folder Folder::open(const std::string& path) {
  return Folder(path, open_keeping_access_time(AT_FDCWD, path.c_str(), kFolderFlags));
}

Folder Folder::open_folder(std::string_view name, Follow follow) const {
  const std::string entry(name);
  const int flags = kFolderFlags | (follow == Follow::kLinks ? 0 : O_NOFOLLOW);
  return Folder(path_of(name), open_keeping_access_time(descriptor(handle_), entry.c_str(), flags));
}

std::optional<FileIdentity> Folder::identity() const {
  return identity_of(descriptor(handle_));
}

// Read with one large buffer: a folder of a few thousand entries takes two calls.
bool Folder::list(std::vector<FolderEntry>& entries) const {
  const int fd = descriptor(handle_);
  if (lseek(fd, 0, SEEK_SET) != 0) {
    return false;
  }
  alignas(dirent64) static thread_local char buffer[64 * 1024];
  return for_each_entry(fd, buffer, sizeof buffer, [&](const char* name, unsigned char type) {
    entries.push_back(entry_of(fd, name, type));
    return true;
  });
}

namespace {

// Listed through the walk's folders, and never through a link. What is listed is not kept:
// listing it is the point, so that the walk finds it in the cache.
void list_below(int at, const char* name, int levels, const std::atomic<bool>& stop) {
  const int fd =
      open_keeping_access_time(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  alignas(dirent64) char buffer[8192];
  (void)for_each_entry(fd, buffer, sizeof buffer, [&](const char* entry, unsigned char type) {
    if (levels > 1 && type == DT_DIR) {
      list_below(fd, entry, levels - 1, stop);
    }
    return !stop;
  });
  (void)::close(fd);  // only read through
}

}  // namespace

void list_folders_below(const Folder& folder, std::string_view name, int levels,
                        const std::atomic<bool>& stop) {
  char entry[256];
  if (name.size() >= sizeof entry) {
    return;
  }
  name.copy(entry, name.size());
  entry[name.size()] = '\0';
  list_below(descriptor(folder.handle()), entry, levels, stop);
}

namespace {

// Gives `visit` the identity of the folder open as `folder`, then of each folder above it by
// "..", up to the root or until `visit` says stop: a count of steps, not a path, so it holds
// for any depth and any spelling. False when an identity could not be told on the way.
template <typename Visit>
bool climb_from(int folder, const Visit& visit) {
  int fd = dup(folder);
  std::optional<FileIdentity> below;
  bool told = true;
  for (auto here = fd >= 0 ? identity_of(fd) : std::nullopt;; here = identity_of(fd)) {
    if (!here) {
      told = false;
      break;
    }
    if (here == below || !visit(*here)) {  // the root is its own parent
      break;
    }
    below = here;
    const int parent = open_parent(fd);
    (void)::close(fd);  // opened only to be climbed from, as below
    fd = parent;
    if (fd < 0) {
      told = false;
      break;
    }
  }
  if (fd >= 0) {
    (void)::close(fd);
  }
  return told;
}

}  // namespace

bool Folder::lies_within(const Folder& bounds) const {
  const auto sought = bounds.identity();
  bool found = false;
  climb_from(descriptor(handle_), [&](const FileIdentity& here) {
    found = here == sought;
    return !found;
  });
  return sought && found;
}

std::vector<FileIdentity> Folder::lineage() const {
  std::vector<FileIdentity> found;
  climb_from(descriptor(handle_), [&](const FileIdentity& here) {
    found.push_back(here);
    return true;
  });
  return found;
}

std::size_t most_open_files() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) {
    return 1 << 20;
  }
  return static_cast<std::size_t>(files.rlim_cur);
}

void Folder::flush() const {
  // Its result is not asked, as SQLite does not ask it of folders: some file systems refuse
  // to flush a folder at all, and a rename that failed to last cannot be taken back by now.
  (void)fsync(descriptor(handle_));
}

namespace {

// Where the open file lies: its path as the kernel tells it; unknown where /proc is missing
// or the path is longer than it tells.
std::optional<std::string> location_of_open_file(int fd) {
  char location[PATH_MAX];
  const std::string open_file = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(open_file.c_str(), location, sizeof location);
  if (length > 0 && length < static_cast<ssize_t>(sizeof location) && location[0] == '/') {
    return std::string(location, static_cast<std::size_t>(length));
  }
  return std::nullopt;
}

}  // namespace

// A link is opened, and then asked where it led: the file opened is what counts, whatever the
// names on the way become. Its folder is opened by that path and must hold that very file.
FilePlace place_of_file(const Folder& folder, std::string_view name) {
  const int at = descriptor(folder.handle());
  const std::string entry(name);
  struct stat info;
  if (fstatat(at, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode)) {
    return {FilePlaceKind::kHere, Folder(), entry};
  }
  const int file = open_retrying(at, entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) {
    return {errno == ENOENT || errno == ELOOP ? FilePlaceKind::kNowhere : FilePlaceKind::kUntold,
            Folder(), entry};
  }
  const auto location = location_of_open_file(file);
  struct stat opened;
  const bool known = fstat(file, &opened) == 0 && S_ISREG(opened.st_mode) && location;
  (void)::close(file);  // opened only to be asked where it lies
  if (!known) {
    return {FilePlaceKind::kUntold, Folder(), entry};
  }
  const std::size_t slash = location->rfind('/');
  FilePlace place{FilePlaceKind::kElsewhere,
                  Folder::open(slash == 0 ? "/" : location->substr(0, slash)),
                  location->substr(slash + 1)};
  struct stat there;
  if (!place.folder.is_open() ||
      fstatat(descriptor(place.folder.handle()), place.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) !=
          0 ||
      identity_of(there) != identity_of(opened)) {
    return {FilePlaceKind::kUntold, Folder(), entry};
  }
  return place;
}

bool is_absolute_path(std::string_view path) {
  return path.starts_with('/');
}

const bool kBackslashSeparates = false;

bool path_exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string working_folder() {
  std::string path(256, '\0');
  for (;;) {
    if (getcwd(path.data(), path.size()) != nullptr) {
      path.resize(path.find('\0'));
      return path;
    }
    if (errno != ERANGE) {
      return "";
    }
    path.resize(path.size() * 2);
  }
}
