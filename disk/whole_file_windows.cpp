#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "disk/whole_file.h"
#include "disk/windows_path.h"

namespace {

bool read_to_end(HANDLE file, std::string& bytes, std::size_t largest) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) > largest) {
    return false;
  }
  std::size_t held = 0;
  bytes.resize(static_cast<std::size_t>(size.QuadPart) + 1);
  for (;;) {
    if (held == bytes.size()) {
      bytes.resize(bytes.size() + bytes.size() / 2 + 65536);
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - held, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + held, wanted, &got, nullptr)) {
      bytes.clear();
      return false;
    }
    if (got == 0) {
      bytes.resize(held);
      return held <= largest;
    }
    held += got;
  }
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  const HANDLE file = CreateFileW(extended_path(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool read = GetFileType(file) == FILE_TYPE_DISK && read_to_end(file, bytes, largest);
  CloseHandle(file);
  return read;
}
