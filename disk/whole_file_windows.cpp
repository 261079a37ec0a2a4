#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "disk/whole_file.h"
#include "disk/windows_file.h"
#include "disk/windows_handle.h"
#include "disk/windows_path.h"

namespace {

// Reads to the end of the file into the bytes, which `room` makes larger as needed.
template <typename Room>
bool read_to_end(HANDLE file, std::uint64_t size, char*& data, std::size_t& held,
                 const Room& room) {
  held = 0;
  std::size_t capacity = static_cast<std::size_t>(size) + 1;
  if (!room(capacity)) {
    return false;
  }
  for (;;) {
    if (held == capacity && !room(capacity += capacity / 2 + 65536)) {
      return false;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity - held, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, data + held, wanted, &got, nullptr)) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    held += got;
  }
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  const OwnedHandle file(CreateFileW(extended_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) > largest) {
    return false;
  }
  char* data = nullptr;
  std::size_t held = 0;
  const bool read = read_to_end(file.get(), static_cast<std::uint64_t>(size.QuadPart), data, held,
                                [&](std::size_t capacity) {
                                  bytes.resize(capacity);
                                  data = bytes.data();
                                  return true;
                                });
  bytes.resize(read && held <= largest ? held : 0);
  return read && held <= largest;
}

ReadResult read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                        FileStamp& stamp) {
  const OwnedHandle file =
      open_file_in(folder, std::string(name), GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return ReadResult::kCannotRead;
  }
  stamp = stamp_of(info);
  if (stamp.size >= SIZE_MAX / 2) {
    return ReadResult::kTooLarge;
  }
  char* data = nullptr;
  std::size_t held = 0;
  bool short_of_memory = false;
  const bool read = read_to_end(file.get(), stamp.size, data, held, [&](std::size_t capacity) {
    short_of_memory = !bytes.make_room(capacity);
    data = bytes.data();
    return !short_of_memory;
  });
  if (!read) {
    bytes.clear();
    return short_of_memory ? ReadResult::kTooLarge : ReadResult::kCannotRead;
  }
  bytes.set_size(held);
  return ReadResult::kRead;
}

std::uint64_t size_of_file_in(const Folder& folder, std::string_view name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(extended_path(folder.path_of(name)).c_str(), GetFileExInfoStandard,
                            &data)) {
    return 0;
  }
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}
