#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "mending/folder_listing.h"

const char kLocationSeparator = '/';

struct FolderListing::State {
  DIR* folder = nullptr;
  std::string path;
};

namespace {

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) {
    return EntryKind::kFolder;
  }
  return S_ISREG(mode) ? EntryKind::kFile : EntryKind::kOther;
}

// Links are taken for what they lead to; one that leads nowhere counts as a file, so that
// the rewriter reports it as unreadable. The entry type spares a stat for all but links.
void describe_entry(DIR* folder, const dirent& found, FolderEntry& entry) {
  entry.plain = found.d_type != DT_LNK;
  switch (found.d_type) {
    case DT_DIR:
      entry.kind = EntryKind::kFolder;
      return;
    case DT_REG:
      entry.kind = EntryKind::kFile;
      return;
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:
      entry.kind = EntryKind::kOther;
      return;
  }
  struct stat info;
  if (fstatat(dirfd(folder), found.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.kind = EntryKind::kOther;  // gone since it was listed
    return;
  }
  entry.plain = !S_ISLNK(info.st_mode);
  if (entry.plain) {
    entry.kind = kind_of_mode(info.st_mode);
  } else if (fstatat(dirfd(folder), found.d_name, &info, 0) == 0) {
    entry.kind = kind_of_mode(info.st_mode);
  } else {
    entry.kind = EntryKind::kFile;
  }
}

std::optional<std::string> resolved(const std::string& path) {
  char location[PATH_MAX];
  if (realpath(path.c_str(), location) == nullptr) {
    return std::nullopt;
  }
  return std::string(location);
}

}  // namespace

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  state_->folder = opendir(folder.c_str());
  state_->path = folder;
}

FolderListing::~FolderListing() {
  if (state_->folder != nullptr) {
    closedir(state_->folder);
  }
}

bool FolderListing::is_open() const {
  return state_->folder != nullptr;
}

std::optional<FolderIdentity> FolderListing::identity() const {
  struct stat info;
  if (fstat(dirfd(state_->folder), &info) != 0) {
    return std::nullopt;
  }
  return FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                        {static_cast<std::uint64_t>(info.st_ino), 0}};
}

// The folder that is open, whatever has become of the path since; by the path where /proc
// is missing.
std::optional<std::string> FolderListing::location() const {
  char location[PATH_MAX];
  const std::string open_folder = "/proc/self/fd/" + std::to_string(dirfd(state_->folder));
  const ssize_t length = readlink(open_folder.c_str(), location, sizeof location);
  if (length > 0 && length < static_cast<ssize_t>(sizeof location) && location[0] == '/') {
    return std::string(location, static_cast<std::size_t>(length));
  }
  return resolved(state_->path);
}

bool FolderListing::next(FolderEntry& entry) {
  const dirent* found = readdir(state_->folder);
  if (found == nullptr) {
    return false;
  }
  entry.name = found->d_name;
  describe_entry(state_->folder, *found, entry);
  return true;
}

std::optional<std::string> real_location(const std::string& path) {
  return resolved(path);
}
