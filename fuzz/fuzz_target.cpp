#include "fuzz/fuzz_target.h"

#include <sanitizer/allocator_interface.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};
std::atomic<std::size_t> baseline{0};

void on_allocation(const volatile void*, std::size_t size) {
  const std::size_t now = live += size;
  std::size_t highest = peak.load();
  while (now > highest && !peak.compare_exchange_weak(highest, now)) {
  }
}

void on_release(const volatile void* block) {
  live -= __sanitizer_get_allocated_size(const_cast<const void*>(block));
}

const bool hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_allocation, on_release);

}  // namespace

const std::string& scratch_folder() {
  static const std::string folder = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/confmend-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  return folder;
}

HeapPeak::HeapPeak() {
  (void)hooks_installed;
  baseline = live.load();
  peak = baseline.load();
}

std::size_t HeapPeak::bytes() const {
  return peak - baseline;
}
