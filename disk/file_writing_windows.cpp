#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/file_writing.h"
#include "disk/windows_path.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { close(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    const bool closed = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

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

// The new file takes the old one's owner and access control list, or fails. In the usual
// case, a list inherited from the folder, it has them already. A list is given only where it
// differs, and is then read back: Wine, which makes a list up from the Unix mode bits, cannot
// take every list, and a file whose list cannot be carried over is written in place.
bool carry_security(const Security& old, HANDLE fresh) {
  const Security now(fresh);
  if (!old.same_owner(now)) {
    return false;
  }
  return old.same_list(now) || (old.give_list_to(fresh) && old.same_list(Security(fresh)));
}

bool put(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD put = 0;
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(file, bytes.data(), size, &put, nullptr) || put == 0) {
      return false;
    }
    bytes.remove_prefix(put);
  }
  return true;
}

// In text mode each "\n" goes out as "\r\n", a piece at a time.
bool write_all(HANDLE file, std::string_view bytes, WriteMode mode) {
  if (mode == WriteMode::kBinary) {
    return put(file, bytes);
  }
  constexpr std::size_t kPiece = 1 << 16;
  std::string piece;
  piece.reserve(kPiece + 2);
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
    piece.append(bytes.substr(start, end - start));
    if (end < bytes.size()) {
      piece += "\r\n";
    }
    start = end + 1;
    if (piece.size() >= kPiece) {
      if (!put(file, piece)) {
        return false;
      }
      piece.clear();
    }
  }
  return put(file, piece);
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

// Whether the file itself may be written: a rename would slip past its read-only bit or its
// access control list.
bool may_write(const std::wstring& path) {
  const OwnedHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

HANDLE create_replacement(const std::string& folder, std::wstring& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = extended_path(folder + "\\" + replacement_name(replacement_number()));
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC | FILE_WRITE_ATTRIBUTES,
                    0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return INVALID_HANDLE_VALUE;
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

std::string folder_of(const std::string& path) {
  return path.substr(0, path.find_last_of("/\\"));
}

// The path of the file to replace: the path itself, where the file lies in the folder its
// name says; otherwise (a link) the file it leads to, so that the link stays a link. Places
// are compared as location_of gives them, which Wine can tell for long paths too.
std::optional<std::string> file_to_replace(const std::string& path, HANDLE file) {
  const OwnedHandle folder(CreateFileW(extended_path(folder_of(path)).c_str(), 0, kShareAll,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
  auto here = folder ? location_of(folder.get()) : std::nullopt;
  const auto there = location_of(file);
  if (here && !here->ends_with('\\')) {
    *here += '\\';  // a volume's root has its separator already
  }
  if (here && there && *there == *here + path.substr(folder_of(path).size() + 1)) {
    return path;
  }
  return final_path(file);
}

bool refuses_new_files(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_WRITE_PROTECT;
}

}  // namespace

// MoveFileExW, not ReplaceFileW: ReplaceFileW carries more of the old file over by itself, but
// in steps, and between them (or on some of its failures) the file is gone from its name.
// The rename is one step; what ReplaceFileW would carry over is given to the new file first.
ReplaceResult replace_file_durably(const std::string& path, std::string_view text) {
  const std::wstring wide = extended_path(path);
  OwnedHandle old(CreateFileW(wide.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!old || !GetFileInformationByHandle(old.get(), &info)) {
    return ReplaceResult::kInPlaceOnly;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 || !may_write(wide)) {
    return ReplaceResult::kNotWritable;
  }
  const Security security(old.get());
  const auto target = file_to_replace(path, old.get());
  if (info.nNumberOfLinks > 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0 ||
      !security.known() || !target || has_named_streams(old.get())) {
    return ReplaceResult::kInPlaceOnly;
  }
  std::wstring replacement;
  OwnedHandle fresh(create_replacement(folder_of(*target), replacement));
  if (!fresh) {
    return refuses_new_files(GetLastError()) ? ReplaceResult::kInPlaceOnly : ReplaceResult::kFailed;
  }
  ReplaceResult result = ReplaceResult::kReplaced;
  if (!carry_security(security, fresh.get())) {
    result = ReplaceResult::kInPlaceOnly;
  } else if (!write_all(fresh.get(), text, WriteMode::kText) ||
             !give_attributes(info, fresh.get()) || !FlushFileBuffers(fresh.get())) {
    result = ReplaceResult::kFailed;
  }
  if (!fresh.close() && result == ReplaceResult::kReplaced) {
    result = ReplaceResult::kFailed;
  }
  old.close();
  if (result == ReplaceResult::kReplaced &&
      !MoveFileExW(replacement.c_str(), extended_path(*target).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    result =
        refuses_new_files(GetLastError()) ? ReplaceResult::kInPlaceOnly : ReplaceResult::kFailed;
  }
  if (result != ReplaceResult::kReplaced) {
    DeleteFileW(replacement.c_str());
  }
  return result;
}

WriteResult write_file_in_place(const std::string& path, std::string_view bytes, WriteMode mode) {
  OwnedHandle file(CreateFileW(extended_path(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (!file) {
    return WriteResult::kCannotOpen;
  }
  const bool written = SetEndOfFile(file.get()) && write_all(file.get(), bytes, mode) &&
                       FlushFileBuffers(file.get());
  return file.close() && written ? WriteResult::kWritten : WriteResult::kFailed;
}

void remove_leftover_replacement(const std::string& path) {
  const std::wstring wide = extended_path(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
    DeleteFileW(wide.c_str());
  }
}
