// Owns the mutex that runs of confmend take turns by, for a folder, as another user's run
// would, with the access control list given; or squats its name with an event, as a hostile
// program could. For the tests of the Windows program.
//
//   hold_mutex FOLDER SDDL|event MILLISECONDS    prints "held" once it holds the name
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_mutex FOLDER SDDL MILLISECONDS\n");
    return 2;
  }
  const HANDLE folder = CreateFileA(argv[1], FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FILE_ID_INFO id{};
  if (folder == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandleEx(folder, FileIdInfo, &id, sizeof id)) {
    std::fprintf(stderr, "cannot tell the folder's identity: %lu\n", GetLastError());
    return 1;
  }
  unsigned long long index[2];
  std::memcpy(index, &id.FileId, sizeof index);
  char name[96];
  std::snprintf(name, sizeof name, "Global\\confmend-%016llx-%016llx%016llx",
                static_cast<unsigned long long>(id.VolumeSerialNumber), index[1], index[0]);
  if (std::strcmp(argv[2], "event") == 0) {
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
    if (event == nullptr) {
      std::fprintf(stderr, "cannot make %s: %lu\n", name, GetLastError());
      return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    CloseHandle(event);
    return 0;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[2], SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    std::fprintf(stderr, "not a security descriptor: %s\n", argv[2]);
    return 2;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const HANDLE mutex = CreateMutexA(&attributes, TRUE, name);
  if (mutex == nullptr) {
    std::fprintf(stderr, "cannot make %s: %lu\n", name, GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}
