// Holds a file open for a while, as an indexer, a sync client, an antivirus or DOSBox itself
// does, sharing what the program it stands for shares, for the tests of the Windows program.
//
//   hold_file PATH none|r|rw|rwd MILLISECONDS    prints "held" once the file is open
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_file PATH none|r|rw|rwd MILLISECONDS\n");
    return 2;
  }
  DWORD share = 0;
  for (const char* at = argv[2]; *at != '\0' && std::strcmp(argv[2], "none") != 0; ++at) {
    share |= *at == 'r' ? FILE_SHARE_READ : *at == 'w' ? FILE_SHARE_WRITE : FILE_SHARE_DELETE;
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
