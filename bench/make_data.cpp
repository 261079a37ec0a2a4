// Deterministic benchmark data: a synthetic Steam library shaped like real ones, and single
// large configuration files.
//
//   make_data library ROOT GAMES FILES CONFS   the whole library
//   make_data reset ROOT GAMES FILES CONFS     its ".conf" files only, back as first made
//   make_data big PATH MEGABYTES               one large ".conf" file
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

// About `bytes` of a DOSBox configuration with CR LF ends: sections, comments, settings,
// some of them indented or padded, as game installers leave them.
std::string dosbox_config(std::size_t bytes, std::mt19937& random) {
  static const char* const kSections[] = {"[sdl]",   "[dosbox]",   "[render]",  "[cpu]",
                                          "[mixer]", "[sblaster]", "[autoexec]"};
  static const char* const kNames[] = {"fullscreen", "fulldouble",  "fullresolution", "output",
                                       "autolock",   "sensitivity", "machine",        "memsize",
                                       "aspect",     "scaler",      "core",           "cycles",
                                       "cycleup",    "rate",        "sbtype"};
  std::string text;
  while (text.size() < bytes) {
    switch (random() % 8) {
      case 0:
        text += kSections[random() % 7];
        break;
      case 1:
      case 2:
        text += "# ";
        text.append(40 + random() % 40, static_cast<char>('a' + random() % 26));
        break;
      case 3:
        text += "  ";
        [[fallthrough]];
      default:
        text += kNames[random() % 15];
        text += random() % 4 == 0 ? " = " : "=";
        text += std::to_string(random() % 100000);
        break;
    }
    text += random() % 16 == 0 ? " \r\n" : "\r\n";
  }
  return text;
}

bool write_bytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

int make_library(const fs::path& root, int games, int files, int confs, bool confs_only) {
  static const char* const kFolders[] = {"", "/data", "/docs", "/dosbox", "/data/sound"};
  std::mt19937 random(20261208);
  const int files_per_game = files / games;
  const int confs_per_game = confs / games;
  for (int game = 0; game < games; ++game) {
    const fs::path folder = root / "steamapps" / "common" / ("Game " + std::to_string(game));
    for (int file = 0; file < files_per_game; ++file) {
      const fs::path where = folder.string() + kFolders[file % 5];
      const bool conf = file < confs_per_game;
      const std::string name = conf ? "dosbox_" + std::to_string(file) + ".conf"
                                    : "file" + std::to_string(file) + (file % 3 ? ".dat" : ".txt");
      // The generator draws the same numbers in both modes, so a reset gives the same bytes.
      const std::string bytes =
          conf ? dosbox_config(9000 + random() % 2000, random) : std::string(random() % 2048, 'x');
      if (conf || !confs_only) {
        std::error_code error;
        fs::create_directories(where, error);
        if (!write_bytes(where / name, bytes)) {
          std::fprintf(stderr, "cannot write %s\n", (where / name).c_str());
          return 1;
        }
      }
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if ((mode == "library" || mode == "reset") && argc == 6) {
    return make_library(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                        mode == "reset");
  }
  if (mode == "big" && argc == 4) {
    std::mt19937 random(64);
    const fs::path path = argv[2];
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    const std::size_t bytes = std::strtoull(argv[3], nullptr, 10) << 20;
    return write_bytes(path, dosbox_config(bytes, random)) ? 0 : 1;
  }
  std::fprintf(stderr,
               "usage: make_data library|reset ROOT GAMES FILES CONFS | big PATH MEGABYTES\n");
  return 2;
}
