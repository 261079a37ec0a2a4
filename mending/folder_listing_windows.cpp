#include <windows.h>

#include "mending/folder_listing.h"

struct FolderListing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data{};
  bool holds_first = false;  // `data` still holds the entry the listing started with
  std::optional<FolderIdentity> identity;
};

namespace {

// Volume and file index of the folder itself, whatever link or junction leads to it.
std::optional<FolderIdentity> identity_of(const std::string& folder) {
  const HANDLE handle =
      CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) {
    return std::nullopt;
  }
  return FolderIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  const std::string pattern = folder + "/*";
  state_->find = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &state_->data,
                                  FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  state_->holds_first = state_->find != INVALID_HANDLE_VALUE;
  if (state_->holds_first) {
    state_->identity = identity_of(folder);
  }
}

FolderListing::~FolderListing() {
  if (state_->find != INVALID_HANDLE_VALUE) {
    FindClose(state_->find);
  }
}

bool FolderListing::is_open() const {
  return state_->find != INVALID_HANDLE_VALUE;
}

std::optional<FolderIdentity> FolderListing::identity() const {
  return state_->identity;
}

// Only the directory bit is asked: junctions and folder links carry it and are followed.
bool FolderListing::next(FolderEntry& entry) {
  if (state_->holds_first) {
    state_->holds_first = false;
  } else if (FindNextFileA(state_->find, &state_->data) == 0) {
    return false;
  }
  entry.name = state_->data.cFileName;
  entry.kind = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder
                                                                               : EntryKind::kFile;
  return true;
}
