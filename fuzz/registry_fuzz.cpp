// Steam's KeyValues files: the registry file, with the Steam folder lookup on top of the
// reader, and the library list. None may crash or hang on any input, and the reader's memory
// stays within a small multiple of its input's size.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_target.h"
#include "steam/key_values.h"
#include "steam/library_folders.h"
#include "steam/steam_path.h"

namespace {

const std::vector<std::string> kSteamKey = {"Registry", "HKCU", "Software", "Valve", "Steam"};

void write_registry_file(const std::string& home, std::string_view text) {
  std::FILE* file = std::fopen((home + "/.steam/registry.vdf").c_str(), "wb");
  FUZZ_EXPECT(file != nullptr, "the registry file can be written");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  {
    const HeapPeak heap;
    const KeyValuesLookup found = look_up_key_value(text, kSteamKey, "SteamPath");
    FUZZ_EXPECT(!found.value || found.value->size() <= size, "the value comes from the text");
    FUZZ_EXPECT(heap.bytes() <= 4 * size + 4096, "memory stays a small multiple of the input");
  }
  {
    const HeapPeak heap;
    std::size_t listed = 0;
    for (const std::string& path : library_paths_in(text)) {
      listed += path.size();
    }
    FUZZ_EXPECT(listed <= size, "every library path comes from the text");
    FUZZ_EXPECT(heap.bytes() <= 4 * size + 4096, "memory stays a small multiple of the input");
  }

  static const std::string home = [] {
    const std::string folder = scratch_folder() + "/home";
    mkdir(folder.c_str(), 0700);
    mkdir((folder + "/.steam").c_str(), 0700);
    return folder;
  }();
  write_registry_file(home, text);
  std::string folder;
  if (steam_path_from(stored_steam_path_below(home), folder) == SteamPathFailure::kNone) {
    FUZZ_EXPECT(!folder.empty() && folder.size() <= 1023, "a folder within the size limits");
    FUZZ_EXPECT(folder.find('\0') == std::string::npos, "a folder without NUL");
  }
  return 0;
}
