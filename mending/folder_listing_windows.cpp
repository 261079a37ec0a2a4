#include <windows.h>

#include <cstring>

#include "disk/windows_path.h"
#include "mending/folder_listing.h"

const char kLocationSeparator = '\\';

struct FolderListing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool holds_first = false;              // `data` still holds the entry the listing started with
  HANDLE folder = INVALID_HANDLE_VALUE;  // the listed folder itself, for what it really is
};

namespace {

HANDLE open_for_questions(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

// The folder is named with a separator after it, so that a bare drive ("Y:") means its root
// here as it does in the paths of its entries ("Y:/name").
FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  const std::wstring path = extended_path(folder + "/");
  const std::wstring pattern = path + (path.ends_with(L'\\') ? L"*" : L"\\*");
  state_->find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &state_->data,
                                  FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  state_->holds_first = state_->find != INVALID_HANDLE_VALUE;
  if (state_->holds_first) {
    state_->folder = open_for_questions(path, FILE_FLAG_BACKUP_SEMANTICS);
  }
}

FolderListing::~FolderListing() {
  if (state_->find != INVALID_HANDLE_VALUE) {
    FindClose(state_->find);
  }
  if (state_->folder != INVALID_HANDLE_VALUE) {
    CloseHandle(state_->folder);
  }
}

bool FolderListing::is_open() const {
  return state_->find != INVALID_HANDLE_VALUE;
}

// The 128-bit file ID where the volume has one (ReFS needs it), the 64-bit index otherwise.
std::optional<FolderIdentity> FolderListing::identity() const {
  if (state_->folder == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(state_->folder, FileIdInfo, &id, sizeof id)) {
    FolderIdentity identity{id.VolumeSerialNumber, {0, 0}};
    static_assert(sizeof id.FileId == sizeof identity.index);
    std::memcpy(identity.index, &id.FileId, sizeof identity.index);
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(state_->folder, &info)) {
    return std::nullopt;
  }
  return FolderIdentity{info.dwVolumeSerialNumber,
                        {(std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0}};
}

std::optional<std::string> FolderListing::location() const {
  if (state_->folder == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  return location_of(state_->folder);
}

// Only the directory bit is asked: junctions and folder links carry it and are followed.
// No entry is known to be plain: under Wine a Unix link shows as what it leads to.
bool FolderListing::next(FolderEntry& entry) {
  if (state_->holds_first) {
    state_->holds_first = false;
  } else if (FindNextFileW(state_->find, &state_->data) == 0) {
    return false;
  }
  entry.name = utf8_from_wide(state_->data.cFileName);
  entry.kind = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder
                                                                               : EntryKind::kFile;
  entry.plain = false;
  return true;
}

std::optional<std::string> real_location(const std::string& path) {
  const HANDLE file = open_for_questions(extended_path(path), FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  auto location = location_of(file);
  CloseHandle(file);
  return location;
}
