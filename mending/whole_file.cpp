#include "mending/whole_file.h"

#include <fstream>

namespace {

constexpr std::streamsize kChunk = 64 * 1024;
// Beyond this a reported size is not to be trusted for one allocation.
constexpr std::streamsize kLargestHint = std::streamsize{1} << 48;

// The bytes left to read, to read the file in one go: one query of the open file (0 when it
// cannot tell, as for a folder).
std::streamsize size_hint(std::ifstream& file) {
  const std::streamsize left = file.rdbuf()->in_avail();
  return left > 0 && left < kLargestHint ? left : 0;
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    return false;
  }
  // One byte more than the size, so that a file that has not grown is read in one call;
  // whatever it has gained since follows in chunks.
  std::streamsize chunk = size_hint(file) + 1;
  while (file) {
    const std::size_t held = bytes.size();
    bytes.resize(held + static_cast<std::size_t>(chunk));
    file.read(bytes.data() + held, chunk);
    bytes.resize(held + static_cast<std::size_t>(file.gcount()));
    chunk = kChunk;
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
