#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

#include "disk/store_files.h"
#include "disk/windows_file.h"

std::string user_state_folder() {
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), static_cast<DWORD>(folder.size()));
    if (length == 0) {
      return "";
    }
    if (length < folder.size()) {
      folder.resize(length);
      return utf8_from_wide(folder);
    }
    folder.resize(length);
  }
}

// Made by the user running confmend, the store is that user's. What an elevated run makes is
// not yet given to the user who started it; the Administrators, who own it, are trusted.
StoreOwner store_owner_for(const std::string&) {
  return {};
}

void give_to_owner(const Folder&, const std::string&, const StoreOwner&) {}

namespace {

// The user this process runs as; empty when it cannot be told.
std::vector<BYTE> user_of_process() {
  HANDLE token = nullptr;
  std::vector<BYTE> user;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return user;
  }
  DWORD size = 0;
  (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);  // tells the size
  user.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    user.clear();
  }
  (void)CloseHandle(token);  // a handle only queried
  return user;
}

// The user, SYSTEM and the Administrators may own and write the store; nobody else.
bool is_trusted(PSID sid, PSID user) {
  return (user != nullptr && EqualSid(sid, user)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinCreatorOwnerSid);
}

std::string account_name(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD name_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    wchar_t* text = nullptr;
    std::string shown = ConvertSidToStringSidW(sid, &text) ? utf8_from_wide(text) : "unknown";
    (void)LocalFree(text);  // fails only on a handle that is not one
    return shown;
  }
  return utf8_from_wide(domain_size > 0 ? std::wstring(domain) + L"\\" + name : name);
}

// Rights that let another account change what the store holds.
constexpr ACCESS_MASK kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                 FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

StoreTrust trust_in_path(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = extended_path(path);
  const DWORD refused = GetNamedSecurityInfoW(
      wide.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
      nullptr, &dacl, nullptr, &descriptor);
  if (refused != ERROR_SUCCESS) {
    return {Trust::kCannotTell, path, 0, "", SystemError{static_cast<int>(refused)}};
  }
  std::vector<BYTE> user = user_of_process();
  const PSID me = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  StoreTrust trust;
  if (owner == nullptr || !is_trusted(owner, me)) {
    trust = {Trust::kOtherOwner, path, 0, owner ? account_name(owner) : "nobody", {}};
  } else if (dacl == nullptr) {
    trust = {Trust::kOthersMayWrite, path, 0, account_name(owner), {}};  // no list: all may
  } else {
    for (DWORD at = 0; at < dacl->AceCount; ++at) {
      void* entry = nullptr;
      if (!GetAce(dacl, at, &entry)) {
        continue;
      }
      const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
      if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (allowed->Mask & kWriting) != 0 &&
          (allowed->Header.AceFlags & INHERIT_ONLY_ACE) == 0 && !is_trusted(sid, me)) {
        trust = {Trust::kOthersMayWrite, path, 0, account_name(owner), {}};
        break;
      }
    }
  }
  (void)LocalFree(descriptor);  // fails only on a handle that is not one
  return trust;
}

}  // namespace

StoreTrust trust_in_store(const std::string& store, const StoreOwner&) {
  return trust_in_path(store);
}

StoreTrust trust_in_store_item(const Folder& folder, const std::string& name, const StoreOwner&) {
  return trust_in_path(folder.path_of(name));
}

// Held without sharing its writing: another process that asks to write it is refused, for as
// long as this handle is open, and no longer, however the process ends.
HeldFile::~HeldFile() {
  if (handle_ != -1) {
    (void)CloseHandle(reinterpret_cast<HANDLE>(handle_));  // which lets the file go
  }
}

HeldFile HeldFile::create(const Folder& folder, const std::string& name, SystemError& error) {
  HeldFile file;
  const HANDLE handle = CreateFileW(extended_path(folder.path_of(name)).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = last_system_error();
    return file;
  }
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

std::optional<std::uint64_t> name_count(const Folder& folder, const std::string& name) {
  const OwnedHandle file(CreateFileW(extended_path(folder.path_of(name)).c_str(),
                                     FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) {
    return std::nullopt;
  }
  return info.nNumberOfLinks;
}

bool rename_within(const Folder& folder, const std::string& from, const std::string& to,
                   SystemError& error) {
  if (!MoveFileExW(extended_path(folder.path_of(from)).c_str(),
                   extended_path(folder.path_of(to)).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = last_system_error();
    return false;
  }
  return true;
}

bool is_file_held(const Folder& folder, const std::string& name) {
  OwnedHandle file(CreateFileW(extended_path(folder.path_of(name)).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string local_date_time(std::int64_t seconds) {
  const auto moment = static_cast<time_t>(seconds);
  struct tm local {};
  char text[32] = "";
  if (localtime_s(&local, &moment) == 0) {
    (void)std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);  // always fits
  }
  return text;
}

bool make_folders(const std::string& path, SystemError& error, const StoreOwner&) {
  const std::wstring extended = extended_path(path);
  // Past "\\?\C:\" (or "\\?\UNC\server\share\"), each folder in turn.
  std::size_t start = extended.find(L'\\', 4);
  if (extended.compare(4, 4, L"UNC\\") == 0) {
    start = extended.find(L'\\', extended.find(L'\\', 8) + 1);
  }
  for (std::size_t end = extended.find(L'\\', start + 1);; end = extended.find(L'\\', end + 1)) {
    const std::wstring part = extended.substr(0, end);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = last_system_error();
      return false;
    }
    if (end == std::wstring::npos) {
      break;
    }
  }
  const DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = SystemError{ERROR_DIRECTORY};
    return false;
  }
  return true;
}

void remove_file_in(const Folder& folder, const std::string& name) {
  (void)DeleteFileW(extended_path(folder.path_of(name)).c_str());
}

void remove_empty_folder_in(const Folder& folder, const std::string& name) {
  (void)RemoveDirectoryW(extended_path(folder.path_of(name)).c_str());
}

void AppendedFile::close() {
  if (handle_ != -1) {
    (void)CloseHandle(reinterpret_cast<HANDLE>(handle_));  // written and flushed already
    handle_ = -1;
  }
}

AppendedFile AppendedFile::create(const Folder& folder, const std::string& name,
                                  SystemError& error) {
  AppendedFile file;
  // Readable while it is written: an undo, or a look at the store, may read it meanwhile.
  const HANDLE handle =
      CreateFileW(extended_path(folder.path_of(name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = last_system_error();
    return file;
  }
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}
