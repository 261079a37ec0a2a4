#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "disk/whole_file.h"
#include "disk/windows_file.h"
#include "disk/windows_handle.h"
#include "disk/windows_path.h"

namespace {

// Read at most this much at once, and look for NUL in it before reading on.
constexpr std::size_t kPiece = 1 << 20;
// Files up to this size get room for all of their bytes at once; larger ones grow as read.
constexpr std::uint64_t kRoomAtOnce = 64 << 20;

ReadResult read_to_end(HANDLE file, std::uint64_t size, std::uint64_t largest, bool stop_at_nul,
                       FileBytes& bytes, SystemError& error) {
  if (size > largest || size >= SIZE_MAX / 2) {
    return ReadResult::kTooLarge;
  }
  if (!bytes.make_room(static_cast<std::size_t>(std::min(size, kRoomAtOnce)) + 1)) {
    return ReadResult::kTooLarge;
  }
  std::size_t held = 0;
  for (;;) {
    if (held == bytes.capacity()) {
      const std::size_t more = bytes.capacity() + bytes.capacity() / 2 + 65536;
      if (more > largest + 1 || !bytes.make_room(more)) {
        bytes.clear();
        return ReadResult::kTooLarge;
      }
    }
    const auto wanted = static_cast<DWORD>(std::min(bytes.capacity() - held, kPiece));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + held, wanted, &got, nullptr)) {
      error = last_system_error();
      bytes.clear();
      return ReadResult::kCannotRead;
    }
    if (got == 0) {
      bytes.set_size(held);
      return held > largest ? ReadResult::kTooLarge : ReadResult::kRead;
    }
    if (stop_at_nul && std::memchr(bytes.data() + held, '\0', got) != nullptr) {
      bytes.clear();
      return ReadResult::kHoldsNul;
    }
    held += got;
  }
}

}  // namespace

ReadResult read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  const OwnedHandle file(CreateFileW(extended_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
    return ReadResult::kCannotRead;
  }
  FileBytes read;
  SystemError ignored;  // the reference's reasons are not shown
  const ReadResult result = read_to_end(file.get(), static_cast<std::uint64_t>(size.QuadPart),
                                        largest, false, read, ignored);
  if (result == ReadResult::kRead) {
    bytes.assign(read.view());
  }
  return result;
}

ReadResult read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                        FileStamp& stamp, SystemError& error) {
  const OwnedHandle file =
      open_file_in(folder, std::string(name), GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!file) {
    error = last_system_error();
    return ReadResult::kCannotRead;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return ReadResult::kCannotRead;
  }
  stamp = stamp_of(info);
  return read_to_end(file.get(), stamp.size, SIZE_MAX / 2 - 1, true, bytes, error);
}

// Windows tells a file's number only through a handle; one that asks for no access is opened
// whoever holds the file.
std::optional<FileStamp> stamp_of_file_in(const Folder& folder, std::string_view name) {
  const OwnedHandle file = open_file_in(folder, std::string(name), 0);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  return stamp_of(info);
}
