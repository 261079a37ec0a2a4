// Acts as an on-access virus scanner does, for the tests of the Windows program: every file
// that appears in the folder's tree, or is renamed there, is opened as soon as it can be and
// held for a while.
//
//   scan_folder FOLDER MILLISECONDS SECONDS    prints "watching" once it watches
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: scan_folder FOLDER MILLISECONDS SECONDS\n");
    return 2;
  }
  const std::string folder = argv[1];
  const DWORD hold = static_cast<DWORD>(std::atoi(argv[2]));
  const ULONGLONG end = GetTickCount64() + 1000ull * std::atoi(argv[3]);
  const HANDLE watched = CreateFileA(
      folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (watched == INVALID_HANDLE_VALUE) {
    return 1;
  }
  std::printf("watching\n");
  std::fflush(stdout);
  std::vector<DWORD> buffer(16384);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int held = 0;
  while (GetTickCount64() < end) {
    ResetEvent(overlapped.hEvent);
    if (!ReadDirectoryChangesW(watched, buffer.data(), static_cast<DWORD>(buffer.size() * 4), TRUE,
                               FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE,
                               nullptr, &overlapped, nullptr)) {
      return 1;
    }
    if (WaitForSingleObject(overlapped.hEvent, 200) != WAIT_OBJECT_0) {
      CancelIo(watched);
      continue;
    }
    DWORD got = 0;
    GetOverlappedResult(watched, &overlapped, &got, FALSE);
    for (const char* at = reinterpret_cast<const char*>(buffer.data()); got > 0;) {
      const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
      if (change->Action != FILE_ACTION_REMOVED && change->Action != FILE_ACTION_RENAMED_OLD_NAME) {
        const std::wstring name(change->FileName, change->FileNameLength / sizeof(WCHAR));
        const std::wstring path = std::wstring(folder.begin(), folder.end()) + L"\\" + name;
        const HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
          ++held;
          Sleep(hold);
          CloseHandle(file);
        }
      }
      if (change->NextEntryOffset == 0) {
        break;
      }
      at += change->NextEntryOffset;
    }
  }
  std::printf("held %d files\n", held);
  return 0;
}
