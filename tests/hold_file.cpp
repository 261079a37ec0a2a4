// Holds a file open for a while, as an indexer, a sync client or DOSBox itself does, for the
// tests of the Windows program.
//
//   hold_file PATH rwd|rw MILLISECONDS    prints "held" once the file is open
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_file PATH rwd|rw MILLISECONDS\n");
    return 2;
  }
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (std::strcmp(argv[2], "rwd") == 0) {
    share |= FILE_SHARE_DELETE;
  }
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s: %lu\n", argv[1], GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  CloseHandle(file);
  return 0;
}
