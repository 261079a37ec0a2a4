#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "mending/folder_listing.h"

struct FolderListing::State {
  DIR* folder = nullptr;
  std::optional<FolderIdentity> identity;
};

namespace {

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) {
    return EntryKind::kFolder;
  }
  return S_ISREG(mode) ? EntryKind::kFile : EntryKind::kOther;
}

// Links are taken for what they lead to; one that leads nowhere counts as a file, so that
// the rewriter reports it as unreadable.
EntryKind kind_of_entry(DIR* folder, const dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR:
      return EntryKind::kFolder;
    case DT_REG:
      return EntryKind::kFile;
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:
      return EntryKind::kOther;
  }
  struct stat target;
  if (fstatat(dirfd(folder), entry.d_name, &target, 0) == 0) {
    return kind_of_mode(target.st_mode);
  }
  if (fstatat(dirfd(folder), entry.d_name, &target, AT_SYMLINK_NOFOLLOW) == 0) {
    return S_ISLNK(target.st_mode) ? EntryKind::kFile : kind_of_mode(target.st_mode);
  }
  return EntryKind::kOther;  // gone since it was listed
}

}  // namespace

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  state_->folder = opendir(folder.c_str());
  struct stat info;
  if (state_->folder != nullptr && fstat(dirfd(state_->folder), &info) == 0) {
    state_->identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                                      static_cast<std::uint64_t>(info.st_ino)};
  }
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
  return state_->identity;
}

bool FolderListing::next(FolderEntry& entry) {
  const dirent* found = readdir(state_->folder);
  if (found == nullptr) {
    return false;
  }
  entry.name = found->d_name;
  entry.kind = kind_of_entry(state_->folder, *found);
  return true;
}
