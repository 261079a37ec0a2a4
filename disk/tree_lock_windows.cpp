#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <string>

#include "disk/tree_lock.h"

namespace {

// In the global namespace: runs of every user and session that mend a shared library (a
// second drive's D:\SteamLibrary) take turns.
std::wstring mutex_name(const FileIdentity& tree) {
  wchar_t name[96];
  std::swprintf(name, sizeof name / sizeof name[0], L"Global\\confmend-%016llx-%016llx%016llx",
                static_cast<unsigned long long>(tree.volume),
                static_cast<unsigned long long>(tree.index[1]),
                static_cast<unsigned long long>(tree.index[0]));
  return name;
}

// Every user may wait on the mutex and release it once owned: whoever makes it first (an
// elevated run, another account), the others take part.
constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr const wchar_t* kEveryoneWaits = L"D:(A;;0x00100001;;;WD)";

HANDLE open_shared_mutex(const std::wstring& name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneWaits, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE mutex = CreateMutexExW(&attributes, name.c_str(), 0, kMutexAccess);
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    // Made by someone who lets others only wait: waiting is taking part.
    mutex = CreateMutexExW(&attributes, name.c_str(), 0, SYNCHRONIZE);
  }
  const DWORD error = GetLastError();
  (void)LocalFree(descriptor);  // fails only on a handle that is not one
  SetLastError(error);
  return mutex;
}

}  // namespace

TreeLock::~TreeLock() {
  release();
}

// A mutex left by a run that was killed is abandoned, and taken over.
LockTaking TreeLock::try_take(const Folder& tree, SystemError& error) {
  if (handle_ == -1) {
    const auto identity = tree.identity();
    if (!identity) {
      return LockTaking::kTaken;  // nothing names the tree: no other run can lock it either
    }
    const HANDLE mutex = open_shared_mutex(mutex_name(*identity));
    if (mutex == nullptr) {
      error = last_system_error();
      return LockTaking::kNotAllowed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
  }
  const DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    owned_ = true;
    return LockTaking::kTaken;
  }
  if (waited == WAIT_FAILED) {
    error = last_system_error();
    return LockTaking::kNotAllowed;
  }
  return LockTaking::kHeld;
}

void TreeLock::release() {
  if (handle_ != -1) {
    if (owned_) {
      // Refused, closing the handle abandons the mutex, which the next run takes all the same.
      (void)ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    }
    (void)CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    owned_ = false;
  }
}
