#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "disk/whole_file.h"
#include "disk/windows_file.h"

namespace {

FileOutcome read_to_end(HANDLE file, std::uint64_t size, std::uint64_t largest, bool stop_at_nul,
                        FileBytes& bytes, SystemError& error) {
  const auto read_piece = [&](char* buffer, std::size_t most) -> long long {
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(most), &got, nullptr)) {
      error = last_system_error();
      return -1;
    }
    return got;
  };
  return read_in_pieces(read_piece, size, largest, stop_at_nul, bytes);
}

}  // namespace

FileOutcome read_whole_file(const std::string& path, std::string& bytes, std::size_t largest) {
  bytes.clear();
  const OwnedHandle file(CreateFileW(extended_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
    return FileOutcome::kCannotRead;
  }
  FileBytes read;
  SystemError ignored;  // the reference's reasons are not shown
  const FileOutcome result = read_to_end(file.get(), static_cast<std::uint64_t>(size.QuadPart),
                                         largest, false, read, ignored);
  if (result == FileOutcome::kUnchanged) {
    bytes.assign(read.view());
  }
  return result;
}

FileOutcome read_file_in(const Folder& folder, std::string_view name, FileBytes& bytes,
                         FileStamp& stamp, SystemError& error) {
  const OwnedHandle file =
      open_file_waiting(folder, std::string(name), GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!file) {
    error = last_system_error();
    return says_in_use(error) ? FileOutcome::kInUse : FileOutcome::kCannotRead;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      is_folder_or_link(file.get(), info)) {
    return FileOutcome::kCannotRead;
  }
  stamp = stamp_of(info);
  const FileOutcome read =
      read_to_end(file.get(), stamp.size, SIZE_MAX / 2 - 1, true, bytes, error);
  // A part of it another program has locked.
  return read == FileOutcome::kCannotRead && says_in_use(error) ? FileOutcome::kInUse : read;
}

// Windows tells a file's number only through a handle; one that asks for no access is opened
// whoever holds the file.
std::optional<FileStamp> stamp_of_file_in(const Folder& folder, std::string_view name) {
  const OwnedHandle file = open_file_in(folder, std::string(name), 0);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      is_folder_or_link(file.get(), info)) {
    return std::nullopt;
  }
  return stamp_of(info);
}

// Windows gives large pages only to a process with the privilege to lock pages in memory.
void ask_for_large_pages(char*, std::size_t) {}

std::intptr_t open_file_to_read(const std::string& path, std::uint64_t& size) {
  OwnedHandle file(CreateFileW(extended_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER bytes{};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &bytes)) {
    return -1;
  }
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return reinterpret_cast<std::intptr_t>(file.release());
}

void close_read_file(std::intptr_t file) {
  CloseHandle(reinterpret_cast<HANDLE>(file));
}
