// Other programs' files that tell how a game is started: Steam's cache of apps, the launch
// options, a GOG info file, a batch file, a DOSBox command line and a configuration file's
// first line. None may crash or hang
// on any input, and whatever they tell comes from the input.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_target.h"
#include "settings/game_dosbox.h"
#include "steam/steam_games.h"

namespace {

const std::vector<std::string_view> kKeyNames = {
    "appinfo", "config", "launch", "0", "executable", "arguments", "workingdir", "type", "oslist"};

void expect_from_input(const GameLaunch& launch, std::size_t size) {
  FUZZ_EXPECT(
      launch.executable.size() + launch.arguments.size() + launch.working_folder.size() <= size,
      "a launch comes from the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (const auto launch = windows_launch(bytes, nullptr)) {
    expect_from_input(*launch, size);
  }
  if (const auto launch = windows_launch(bytes, &kKeyNames)) {
    FUZZ_EXPECT(!launch->executable.empty(), "a launch names its program");
  }
  static const std::string cache = scratch_folder() + "/appinfo.vdf";
  std::FILE* file = std::fopen(cache.c_str(), "wb");
  FUZZ_EXPECT(file != nullptr, "the cache can be written");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  for (const auto& [app, launch] : launches_in_app_cache(cache, {1, 2, 10, 0x41414141})) {
    FUZZ_EXPECT(app == 1 || app == 2 || app == 10 || app == 0x41414141, "an app asked for");
    expect_from_input(launch, size);
  }
  GameLaunch launch{"dosbox.exe", "", ""};
  add_launch_options(launch, bytes);
  FUZZ_EXPECT(launch.arguments.size() <= size, "options come from the input");
  std::size_t words = 0;
  for (const std::string& word : command_line_words(bytes)) {
    words += word.size();
  }
  FUZZ_EXPECT(words <= size, "words come from the input");
  (void)build_of_first_line(bytes);
  for (const auto& start : {start_in_gog_info(bytes), start_in_batch_file(bytes)}) {
    if (start) {
      FUZZ_EXPECT(start->program.size() <= 2 * size + 8, "a program comes from the input");
    }
  }
  return 0;
}
