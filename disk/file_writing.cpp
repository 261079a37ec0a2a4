#include "disk/file_writing.h"

#include <atomic>
#include <chrono>

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
