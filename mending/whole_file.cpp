#include "mending/whole_file.h"

#include <fstream>

namespace {

constexpr std::streamsize kMinimumChunk = 64 * 1024;
// Beyond this a reported size is not a file's: a folder's offset reads as the largest number.
constexpr std::streamoff kLargestHint = std::streamoff{1} << 48;

// The size the file has now, to read it in one go; 0 when it cannot be told.
std::streamsize size_hint(std::ifstream& file) {
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  file.seekg(0, std::ios::beg);
  if (!file) {
    file.clear();
    return 0;
  }
  return end > 0 && end < kLargestHint ? static_cast<std::streamsize>(end) : 0;
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    return false;
  }
  // One byte more than the size, so that a file that has not grown is read in one call.
  std::streamsize chunk = size_hint(file) + 1;
  if (chunk < kMinimumChunk) {
    chunk = kMinimumChunk;
  }
  while (file) {
    const std::size_t held = bytes.size();
    bytes.resize(held + static_cast<std::size_t>(chunk));
    file.read(bytes.data() + held, chunk);
    bytes.resize(held + static_cast<std::size_t>(file.gcount()));
  }
  // A read error sets badbit; only a read that met the real end sets eofbit alone.
  return file.eof() && !file.bad();
}

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
