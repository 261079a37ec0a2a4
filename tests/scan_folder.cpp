// Acts as an on-access virus scanner does, for the tests of the Windows program: every new or
// changed file in the folder's tree is opened the moment its writer lets it be, and held for
// a while. It looks as often as it can, so that a file closed for an instant is caught.
//
//   scan_folder FOLDER MILLISECONDS SECONDS    prints "watching" once it watches
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

namespace {

// Each file once for every time it was written.
std::set<std::pair<std::wstring, ULONGLONG>> scanned;
int held = 0;

ULONGLONG written(const WIN32_FIND_DATAW& found) {
  return (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) |
         found.ftLastWriteTime.dwLowDateTime;
}

void scan(const std::wstring& folder, DWORD hold) {
  WIN32_FIND_DATAW found;
  const HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    const std::wstring name = found.cFileName;
    const std::wstring path = folder + L"\\" + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (name != L"." && name != L"..") {
        scan(path, hold);
      }
      continue;
    }
    if (!scanned.insert({path, written(found)}).second) {
      continue;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      scanned.erase({path, written(found)});  // held by its writer: caught next time
      continue;
    }
    ++held;
    Sleep(hold);
    CloseHandle(file);
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: scan_folder FOLDER MILLISECONDS SECONDS\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::wstring root(folder.begin(), folder.end());
  const DWORD hold = static_cast<DWORD>(std::atoi(argv[2]));
  const ULONGLONG end = GetTickCount64() + 1000ull * std::atoi(argv[3]);
  // What is there before the program starts is no new file.
  for (const DWORD unseen = 0; scanned.empty() && GetTickCount64() < end;) {
    scan(root, unseen);
  }
  held = 0;
  std::printf("watching\n");
  std::fflush(stdout);
  while (GetTickCount64() < end) {
    scan(root, hold);
  }
  std::printf("held %d files\n", held);
  return 0;
}
