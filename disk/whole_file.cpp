#include "disk/whole_file.h"

#include <fstream>

WriteResult replace_file_content(const std::string& path, std::string_view bytes, WriteMode mode) {
  std::ios::openmode open_mode = std::ios::out | std::ios::trunc;
  if (mode == WriteMode::kBinary) {
    open_mode |= std::ios::binary;
  }
  std::ofstream file(path, open_mode);
  if (!file.is_open()) {
    return WriteResult::kCannotOpen;
  }
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.flush();
  file.close();
  return file.fail() ? WriteResult::kFailed : WriteResult::kWritten;
}
