#ifndef CONFMEND_FUZZ_FUZZ_TARGET_H_
#define CONFMEND_FUZZ_FUZZ_TARGET_H_

#include <cstdio>
#include <cstdlib>
#include <string>

// A promise of the program's that the input broke: said, with the input's size, and ended
// by abort(), which libFuzzer takes for a finding and keeps the input of.
#define FUZZ_EXPECT(condition, what)                                       \
  do {                                                                     \
    if (!(condition)) {                                                    \
      std::fprintf(stderr, "broken promise: %s (%s)\n", what, #condition); \
      std::abort();                                                        \
    }                                                                      \
  } while (false)

// A folder of the target's own for files it must write, on tmpfs where there is one, where
// flushing costs nothing; made once and kept.
const std::string& scratch_folder();

// How many bytes the heap held at most, beyond what it held when the count started: the
// sanitizer's allocator tells every allocation and release.
class HeapPeak {
 public:
  HeapPeak();
  std::size_t bytes() const;
};

#endif  // CONFMEND_FUZZ_FUZZ_TARGET_H_
