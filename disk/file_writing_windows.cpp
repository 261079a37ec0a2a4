#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "disk/file_writing.h"
#include "disk/windows_file.h"

namespace {

// SetFileInformationByHandle's class and flags for a rename with POSIX semantics (Windows 10
// version 1607 on), which MinGW declares only for a newer target than this program's.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1;
constexpr DWORD kPosixSemantics = 0x2;

// Administrators hold the privilege to give files any owner, as backup programs do; it is
// off until asked for. Asked once.
bool may_give_any_owner() {
  static const bool enabled = [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      return false;
    }
    const OwnedHandle owned(token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
  }();
  return enabled;
}

// The owner and access control list of a file, as GetSecurityInfo gives them.
class Security {
 public:
  explicit Security(HANDLE file) {
    known_ = GetSecurityInfo(file, SE_FILE_OBJECT,
                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner_,
                             nullptr, &dacl_, nullptr, &descriptor_) == ERROR_SUCCESS;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    protected_ = known_ && GetSecurityDescriptorControl(descriptor_, &control, &revision) &&
                 (control & SE_DACL_PROTECTED) != 0;
  }
  ~Security() { LocalFree(descriptor_); }
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;

  bool known() const { return known_; }
  bool same_owner(const Security& other) const {
    return known_ && other.known_ && EqualSid(owner_, other.owner_);
  }
  // The same entries, in the same order, and the same protection from inheritance.
  bool same_list(const Security& other) const {
    if (!known_ || !other.known_ || protected_ != other.protected_ ||
        (dacl_ == nullptr) != (other.dacl_ == nullptr)) {
      return false;
    }
    if (dacl_ == nullptr) {
      return true;
    }
    if (dacl_->AceCount != other.dacl_->AceCount) {
      return false;
    }
    for (DWORD i = 0; i < dacl_->AceCount; ++i) {
      void* mine = nullptr;
      void* theirs = nullptr;
      if (!GetAce(dacl_, i, &mine) || !GetAce(other.dacl_, i, &theirs)) {
        return false;
      }
      const WORD size = static_cast<ACE_HEADER*>(mine)->AceSize;
      if (size != static_cast<ACE_HEADER*>(theirs)->AceSize ||
          std::memcmp(mine, theirs, size) != 0) {
        return false;
      }
    }
    return true;
  }
  bool give_owner_to(HANDLE file) const {
    return SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner_, nullptr,
                           nullptr, nullptr) == ERROR_SUCCESS;
  }
  bool give_list_to(HANDLE file) const {
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (protected_ ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl_, nullptr) ==
           ERROR_SUCCESS;
  }

 private:
  PSID owner_ = nullptr;
  PACL dacl_ = nullptr;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  bool known_ = false;
  bool protected_ = false;
};

// The temporary file takes the old one's owner and access control list, or fails. In the usual
// case, a list inherited from the folder, it has them already. An administrator's temporary file
// belongs to the Administrators group, and is given the old owner with the restore
// privilege. A list is given only where it differs, and is then read back: Wine, which makes
// a list up from the Unix mode bits, cannot take every list, and a file whose list cannot be
// carried over is written in place.
bool carry_security(const Security& old, HANDLE fresh) {
  const Security now(fresh);
  if (!old.same_owner(now) &&
      !(may_give_any_owner() && old.give_owner_to(fresh) && old.same_owner(Security(fresh)))) {
    return false;
  }
  return old.same_list(now) || (old.give_list_to(fresh) && old.same_list(Security(fresh)));
}

// Named streams (a download's Zone.Identifier, say) would stay behind with the old file. A
// list too long for the buffer has more than the unnamed one.
bool has_named_streams(HANDLE file) {
  std::vector<char> buffer(4096);
  if (!GetFileInformationByHandleEx(file, FileStreamInfo, buffer.data(),
                                    static_cast<DWORD>(buffer.size()))) {
    return GetLastError() == ERROR_MORE_DATA;
  }
  const char* at = buffer.data();
  for (;;) {
    const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(at);
    const std::wstring_view name(stream->StreamName, stream->StreamNameLength / sizeof(WCHAR));
    if (name != L"::$DATA") {
      return true;
    }
    if (stream->NextEntryOffset == 0) {
      return false;
    }
    at += stream->NextEntryOffset;
  }
}

// The attributes a file is seen with (hidden, system, archive) and its creation time.
bool give_attributes(const BY_HANDLE_FILE_INFORMATION& old, HANDLE file) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};
  basic.CreationTime.LowPart = old.ftCreationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(old.ftCreationTime.dwHighDateTime);
  basic.FileAttributes =
      (old.dwFileAttributes & kKept) != 0 ? old.dwFileAttributes & kKept : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool refuses_new_files(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_WRITE_PROTECT;
}

// The same file, size and time, and the same bytes: NTFS moves the time only when the writer
// closes its handle, and FAT's is two seconds coarse.
bool still_as_read(const Folder& folder, const std::string& name, const FileAsRead& read) {
  const OwnedHandle file = open_file_waiting(folder, name, GENERIC_READ);
  BY_HANDLE_FILE_INFORMATION info;
  return file && GetFileInformationByHandle(file.get(), &info) &&
         !is_folder_or_link(file.get(), info) && stamp_of(info) == read.stamp &&
         holds_exactly(reinterpret_cast<std::intptr_t>(file.get()), read.bytes);
}

// One way of renaming a file through its handle; every later way is asked only where an
// earlier one is not supported (older Windows, Wine).
enum class RenameWay { kPosixRelative, kRelative, kFullPath };

bool rename_by_handle(HANDLE file, RenameWay way, HANDLE folder, const std::wstring& name,
                      const std::wstring& full_path) {
  const std::wstring& target = way == RenameWay::kFullPath ? full_path : name;
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(WCHAR));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  const DWORD flags = way == RenameWay::kPosixRelative ? kReplaceIfExists | kPosixSemantics : 0;
  std::memcpy(info, &flags, sizeof flags);  // Flags, which shares its place with ReplaceIfExists
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = way == RenameWay::kFullPath ? nullptr : folder;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(WCHAR));
  std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(WCHAR));
  return SetFileInformationByHandle(
      file, way == RenameWay::kPosixRelative ? kFileRenameInfoEx : FileRenameInfo, info,
      static_cast<DWORD>(buffer.size()));
}

// The first way of renaming worth trying on each volume: one FAT or exFAT library, which
// takes no POSIX rename, says nothing of the NTFS ones.
class RenameWays {
 public:
  int first_for(DWORD volume) {
    const std::lock_guard<std::mutex> hold(mutex_);
    const auto found = first_.find(volume);
    return found == first_.end() ? static_cast<int>(RenameWay::kPosixRelative) : found->second;
  }
  void not_supported(DWORD volume, int way) {
    const std::lock_guard<std::mutex> hold(mutex_);
    int& first = first_[volume];
    first = std::max(first, way + 1);
  }

 private:
  std::mutex mutex_;
  std::map<DWORD, int> first_;
};

// Renames the temporary file over the old one in one step. With POSIX semantics it replaces a file
// that others hold open (sharing its deletion); a file held without that sharing, or a brief
// scanner's hold, is waited out for about two seconds by the clock, as LLVM's and Go's file
// functions do.
DWORD rename_over(HANDLE fresh, const Folder& folder, const std::string& name) {
  static RenameWays ways;
  const std::wstring wide_name = wide_from_utf8(name);
  const std::wstring full_path = extended_path(folder.path_of(name));
  const auto handle = reinterpret_cast<HANDLE>(folder.handle());
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationByHandle(handle, &info);  // volume 0 where it cannot be told
  const DWORD volume = info.dwVolumeSerialNumber;
  const ULONGLONG deadline = GetTickCount64() + kHolderWaitMilliseconds;
  for (;;) {
    DWORD error = ERROR_SUCCESS;
    for (int way = ways.first_for(volume);; ++way) {
      if (rename_by_handle(fresh, static_cast<RenameWay>(way), handle, wide_name, full_path)) {
        return ERROR_SUCCESS;
      }
      error = GetLastError();
      // FAT and exFAT may deny a POSIX rename rather than say they do not support it, as
      // Rust's fs::rename finds: the classic rename is asked before anyone is waited for.
      if (way == static_cast<int>(RenameWay::kPosixRelative) && error == ERROR_ACCESS_DENIED) {
        continue;
      }
      if (!is_unsupported(error) || way == static_cast<int>(RenameWay::kFullPath)) {
        break;
      }
      ways.not_supported(volume, way);
    }
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        GetTickCount64() >= deadline) {
      return error;
    }
    Sleep(10);
  }
}

// After the waiting: whether the old file is held by others, or cannot be replaced at all
// (its access control list forbids it).
bool held_by_others(const Folder& folder, const std::string& name) {
  const OwnedHandle file(open_file_handle_in(folder, name, DELETE, kShareAll, 0));
  return file || GetLastError() == ERROR_SHARING_VIOLATION;
}

// Left, a temporary file is removed by the next run.
void delete_through(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  (void)SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Old files are not yet linked on Windows: kept as copies of their bytes.
class UnlinkedFile : public OldFile {
 public:
  bool link_into(const Folder&, const std::string&, SystemError& error) const override {
    error = SystemError{ERROR_NOT_SUPPORTED};
    return false;
  }
};

}  // namespace

struct Replacement {
  const Folder* folder = nullptr;
  std::string name;
  OwnedHandle old;
  BY_HANDLE_FILE_INFORMATION info{};
  std::optional<Security> security;
  OwnedHandle fresh;
  std::string fresh_name;
  UnlinkedFile unlinked;
};

void ReplacementDeleter::operator()(Replacement* replacement) const {
  delete replacement;
}

const bool kOldFilesLink = false;

FileOutcome look_at_old_file(const Folder& folder, const std::string& name, const FileAsRead& read,
                             ReplacementHeld& replacement, SystemError& error) {
  replacement.reset(new Replacement);
  replacement->folder = &folder;
  replacement->name = name;
  replacement->old = open_file_in(folder, name, READ_CONTROL | FILE_READ_ATTRIBUTES);
  const HANDLE old = replacement->old.get();
  BY_HANDLE_FILE_INFORMATION& info = replacement->info;
  if (!replacement->old || !GetFileInformationByHandle(old, &info) ||
      is_folder_or_link(old, info) || stamp_of(info) != read.stamp ||
      !is_in_folder(old, folder, name)) {
    return FileOutcome::kKeptChanging;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = SystemError{ERROR_ACCESS_DENIED};
    return FileOutcome::kCannotWrite;
  }
  if (!may_write_file_in(folder, name, error)) {
    return says_in_use(error) ? FileOutcome::kInUse : FileOutcome::kCannotWrite;
  }
  const Security& security = replacement->security.emplace(old);
  if (info.nNumberOfLinks > 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0 ||
      !security.known() || has_named_streams(old)) {
    return FileOutcome::kInPlaceOnly;
  }
  return FileOutcome::kUnchanged;
}

// Made exclusively, and held, sharing nothing, until it has taken the old file's place: no
// scanner can hold it open, and no other run take it for a leftover. It may be renamed and
// deleted through this handle.
Creation create_replacement(Replacement& replacement, const std::string& name, SystemError& error) {
  const DWORD owner = may_give_any_owner() ? WRITE_OWNER : 0;
  replacement.fresh = OwnedHandle(CreateFileW(
      extended_path(replacement.folder->path_of(name)).c_str(),
      GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | owner | FILE_WRITE_ATTRIBUTES, 0, nullptr,
      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | (owner != 0 ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
  if (!replacement.fresh) {
    error = last_system_error();
    return GetLastError() == ERROR_FILE_EXISTS ? Creation::kNameTaken : Creation::kRefused;
  }
  replacement.fresh_name = name;
  return Creation::kMade;
}

bool refuses_new_files(SystemError error) {
  return refuses_new_files(static_cast<DWORD>(error.code));
}

// The old file's own handle must not keep it from being replaced: it goes first.
FileOutcome carry_metadata(Replacement& replacement) {
  replacement.old.close();
  if (!is_in_folder(replacement.fresh.get(), *replacement.folder, replacement.fresh_name)) {
    return FileOutcome::kKeptChanging;
  }
  return carry_security(*replacement.security, replacement.fresh.get()) ? FileOutcome::kUnchanged
                                                                        : FileOutcome::kInPlaceOnly;
}

bool write_replacement(Replacement& replacement, std::string_view bytes, SystemError& error) {
  const HANDLE fresh = replacement.fresh.get();
  if (!write_all(fresh, bytes, 0) || !give_attributes(replacement.info, fresh) ||
      !FlushFileBuffers(fresh)) {
    error = last_system_error();
    return false;
  }
  return true;
}

FileOutcome look_last(Replacement& replacement, const FileAsRead& read) {
  return still_as_read(*replacement.folder, replacement.name, read) ? FileOutcome::kUnchanged
                                                                    : FileOutcome::kKeptChanging;
}

const OldFile& looked_at_file(Replacement& replacement) {
  return replacement.unlinked;
}

FileOutcome rename_replacement(Replacement& replacement, SystemError& error) {
  const DWORD refused = rename_over(replacement.fresh.get(), *replacement.folder, replacement.name);
  if (refused == ERROR_SUCCESS) {
    return FileOutcome::kChanged;
  }
  error = SystemError{static_cast<int>(refused)};
  const bool busy = refused == ERROR_ACCESS_DENIED || refused == ERROR_SHARING_VIOLATION;
  if (busy && held_by_others(*replacement.folder, replacement.name)) {
    error = SystemError{ERROR_SHARING_VIOLATION};  // what held_by_others found, whichever the
    return FileOutcome::kInUse;                    // rename said
  }
  return refuses_new_files(refused) ? FileOutcome::kInPlaceOnly : FileOutcome::kCannotWrite;
}

void discard_replacement(Replacement& replacement) {
  if (replacement.fresh) {
    delete_through(replacement.fresh.get());
  }
}

// Windows ends no process for the size of what it writes.
bool past_file_size_limit(std::uint64_t, SystemError&) {
  return false;
}

FileOutcome look_before_writing(const Folder& folder, const std::string& name,
                                const FileAsRead& read) {
  return still_as_read(folder, name, read) ? FileOutcome::kUnchanged : FileOutcome::kKeptChanging;
}

FileToWrite open_to_write_over(const Folder& folder, const std::string& name, const FileStamp& read,
                               FileOutcome& refused, SystemError& error) {
  OwnedHandle file = open_file_waiting(folder, name, GENERIC_WRITE | FILE_READ_ATTRIBUTES);
  if (!file) {
    error = last_system_error();
    refused = says_in_use(error) ? FileOutcome::kInUse : FileOutcome::kCannotWrite;
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info) || is_folder_or_link(file.get(), info) ||
      !is_in_folder(file.get(), folder, name)) {
    refused = FileOutcome::kCannotWrite;
    return {};
  }
  if (stamp_of(info) != read) {
    refused = FileOutcome::kKeptChanging;
    return {};
  }
  return {reinterpret_cast<std::intptr_t>(file.release()), 0};
}

bool write_at(std::intptr_t file, std::string_view bytes, std::uint64_t at) {
  return write_all(reinterpret_cast<HANDLE>(file), bytes, at);
}

bool set_file_size(std::intptr_t file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(reinterpret_cast<HANDLE>(file), FileEndOfFileInfo, &end,
                                    sizeof end) != 0;
}

bool flush_file(std::intptr_t file) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0;
}

void close_written_file(const FileToWrite& file) {
  (void)CloseHandle(reinterpret_cast<HANDLE>(file.handle));  // flushed already
}

long long read_at(std::intptr_t file, char* buffer, std::size_t size, std::uint64_t at) {
  DWORD got = 0;
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  const auto most = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, most, &got, &where)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

// Whether the file itself may be written: a rename would slip past its read-only bit or its
// access control list.
bool may_write_file_in(const Folder& folder, const std::string& name, SystemError& error) {
  if (open_file_waiting(folder, name, GENERIC_WRITE)) {
    return true;
  }
  error = last_system_error();
  return false;
}

// Deleted through a handle that shares nothing: a file that another run still holds cannot
// be opened so, and stays.
void remove_leftover_replacement(const Folder& folder, const std::string& name) {
  const OwnedHandle file(open_file_handle_in(folder, name, DELETE | FILE_READ_ATTRIBUTES, 0, 0));
  BY_HANDLE_FILE_INFORMATION info;
  if (file && GetFileInformationByHandle(file.get(), &info) &&
      !is_folder_or_link(file.get(), info)) {
    delete_through(file.get());
  }
}
