#include "disk/file_writing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace {

constexpr std::string_view kPrefix = ".confmend-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kDigits = 16;

}  // namespace

std::string replacement_name(std::uint64_t number) {
  std::string name(kPrefix);
  for (int shift = 60; shift >= 0; shift -= 4) {
    name += "0123456789abcdef"[(number >> shift) & 0xF];
  }
  return name.append(kSuffix);
}

bool is_replacement_name(std::string_view name) {
  if (name.size() != kPrefix.size() + kDigits + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix)) {
    return false;
  }
  for (const char c : name.substr(kPrefix.size(), kDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// The clock, a count and where this run's stack lies, mixed (splitmix64). Names are created
// exclusively, so a clash only costs another try.
std::uint64_t replacement_number() {
  static std::atomic<std::uint64_t> count{0};  // the pool's threads name files at once
  const int here = 0;
  std::uint64_t x =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (reinterpret_cast<std::uintptr_t>(&here) << 16) ^ (++count * 0x9E3779B97F4A7C15u);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

bool holds_exactly(std::intptr_t file, std::string_view bytes) {
  char piece[64 * 1024];
  for (std::uint64_t at = 0;;) {
    const long long got = read_at(file, piece, sizeof piece, at);
    if (got <= 0) {
      return got == 0 && at == bytes.size();
    }
    const auto size = static_cast<std::size_t>(got);
    if (at + size > bytes.size() || std::memcmp(piece, bytes.data() + at, size) != 0) {
      return false;
    }
    at += size;
  }
}

// The new bytes past the old end go first, then those over the old bytes; the file is cut
// short last, so that the space the old bytes take is never given up before the new bytes
// are whole, and they can always be put back, however full the disk.
FileOutcome write_file_in_place(const Folder& folder, const std::string& name,
                                std::string_view bytes, const FileAsRead& read,
                                SystemError& error) {
  if (const FileOutcome look = look_before_writing(folder, name, read);
      look != FileOutcome::kUnchanged) {
    return look;
  }
  FileOutcome refused = FileOutcome::kCannotWrite;
  const FileToWrite file = open_to_write_over(folder, name, read.stamp, refused, error);
  if (file.handle == -1) {
    return refused;
  }
  const auto outcome = [&] {
    if (past_file_size_limit(bytes.size(), error)) {
      return FileOutcome::kCannotWrite;
    }
    const std::string_view old_bytes = read.bytes;
    const std::size_t over = std::min(bytes.size(), old_bytes.size());
    if (bytes.size() > over && !write_at(file.handle, bytes.substr(over), over)) {
      error = last_system_error();
      return set_file_size(file.handle, old_bytes.size()) ? FileOutcome::kCannotWrite
                                                          : FileOutcome::kDamaged;
    }
    if (write_at(file.handle, bytes.substr(0, over), 0) &&
        set_file_size(file.handle, bytes.size()) && flush_file(file.handle)) {
      return FileOutcome::kChanged;
    }
    error = last_system_error();
    const bool put_back = write_at(file.handle, old_bytes, 0) &&
                          set_file_size(file.handle, old_bytes.size()) && flush_file(file.handle);
    return put_back ? FileOutcome::kCannotWrite : FileOutcome::kDamaged;
  }();
  close_written_file(file);
  return outcome;
}

namespace {

// A name no file has yet, tried a number of times: another run, or another thread, may have
// chosen the same.
bool make_replacement(Replacement& replacement, SystemError& error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    switch (create_replacement(replacement, replacement_name(replacement_number()), error)) {
      case Creation::kMade:
        return true;
      case Creation::kNameTaken:
        continue;
      case Creation::kRefused:
        return false;
    }
  }
  return false;
}

}  // namespace

FileOutcome replace_file_durably(const Folder& folder, const std::string& name,
                                 std::string_view bytes, const FileAsRead& read, SystemError& error,
                                 const BeforeChanging& before_changing,
                                 const KeepingOld& keep_old) {
  ReplacementHeld replacement;
  if (const FileOutcome old = look_at_old_file(folder, name, read, replacement, error);
      old != FileOutcome::kUnchanged) {
    return old;
  }
  if (past_file_size_limit(bytes.size(), error)) {
    return FileOutcome::kCannotWrite;
  }
  if (!make_replacement(*replacement, error)) {
    return refuses_new_files(error) ? FileOutcome::kInPlaceOnly : FileOutcome::kCannotWrite;
  }
  // Each step only where every one before it went through.
  FileOutcome result = carry_metadata(*replacement);
  if (result == FileOutcome::kUnchanged) {
    result = write_replacement(*replacement, bytes, error) ? FileOutcome::kChanged
                                                           : FileOutcome::kCannotWrite;
  }
  if (result == FileOutcome::kChanged && before_changing && !before_changing(error)) {
    result = FileOutcome::kNoCopyKept;
  }
  if (result == FileOutcome::kChanged) {
    if (const FileOutcome look = look_last(*replacement, read); look != FileOutcome::kUnchanged) {
      result = look;
    }
  }
  if (result == FileOutcome::kChanged && keep_old &&
      !keep_old(looked_at_file(*replacement), error)) {
    result = FileOutcome::kNoCopyKept;
  }
  if (result == FileOutcome::kChanged) {
    result = rename_replacement(*replacement, error);
  }
  if (result != FileOutcome::kChanged) {
    discard_replacement(*replacement);
  }
  return result;
}
