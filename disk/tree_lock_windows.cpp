#include <windows.h>

#include <cstdio>
#include <string>

#include "disk/tree_lock.h"

namespace {

// Local to the user's session: two runs a user starts, by a double-click or a prompt.
std::wstring mutex_name(const FileIdentity& tree) {
  wchar_t name[96];
  std::swprintf(name, sizeof name / sizeof name[0], L"Local\\confmend-%016llx-%016llx%016llx",
                static_cast<unsigned long long>(tree.volume),
                static_cast<unsigned long long>(tree.index[1]),
                static_cast<unsigned long long>(tree.index[0]));
  return name;
}

}  // namespace

TreeLock::~TreeLock() {
  release();
}

// A mutex left by a run that was killed is abandoned, and taken over.
bool TreeLock::try_take(const Folder& tree) {
  if (handle_ == -1) {
    const auto identity = tree.identity();
    if (!identity) {
      return true;
    }
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name(*identity).c_str());
    if (mutex == nullptr) {
      return true;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
  }
  const DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    owned_ = true;
  }
  return owned_ || waited == WAIT_FAILED;
}

bool TreeLock::take(const Folder& tree, const std::function<bool()>& keep_waiting) {
  while (!try_take(tree)) {
    if (!keep_waiting()) {
      return false;
    }
    Sleep(100);
  }
  return true;
}

void TreeLock::release() {
  if (handle_ != -1) {
    if (owned_) {
      ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    owned_ = false;
  }
}
