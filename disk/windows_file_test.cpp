#include "disk/windows_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string current_drive() {
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  return utf8_from_wide(std::wstring(folder, 2));
}

TEST(ExtendedPath, ReachesEveryNameAsItStands) {
  const std::string drive = current_drive();
  const struct {
    std::string path;
    std::string extended;
  } cases[] = {
      {"C:/Games/Steam", "\\\\?\\C:\\Games\\Steam"},
      {"C:\\Games\\\\Steam\\", "\\\\?\\C:\\Games\\Steam"},
      {"C:/Games/./old/../Steam", "\\\\?\\C:\\Games\\Steam"},
      {"C:/..", "\\\\?\\C:\\"},
      {"C:/", "\\\\?\\C:\\"},
      {"C:/Steam/aux.conf", "\\\\?\\C:\\Steam\\aux.conf"},
      {"C:/Steam/Game./x.conf", "\\\\?\\C:\\Steam\\Game.\\x.conf"},
      {"//server/share/Steam", "\\\\?\\UNC\\server\\share\\Steam"},
      {"//server/share/../Steam", "\\\\?\\UNC\\server\\share\\Steam"},
      {"\\\\?\\C:\\Steam\\..\\x", "\\\\?\\C:\\Steam\\..\\x"},
      {"\\\\.\\C:\\Steam", "\\\\?\\C:\\Steam"},
      {"/Steam", "\\\\?\\" + drive + "\\Steam"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_from_wide(extended_path(c.path)), c.extended) << c.path;
  }
}

// "c:/program files (x86)/steam", as Steam stores it, and the folder as the file system
// spells it are one place only where case does not count: told apart from an exact match.
TEST(Location, TellsAnExactMatchFromOneIgnoringCase) {
  using enum LocationMatch;
  const struct {
    const char* location;
    const char* folder;
    bool below_too;
    LocationMatch match;
  } cases[] = {
      {"5a\\Steam", "5a\\Steam", false, kExactly},
      {"5a\\Program Files (x86)\\Steam", "5a\\program files (x86)\\steam", false, kIgnoringCase},
      {"5a\\\xC3\x89t\xC3\xA9", "5a\\\xC3\xA9T\xC3\x89", false, kIgnoringCase},  // Été, éTÉ
      {"5a\\Steam", "5b\\Steam", false, kNone},
      {"5a\\Steam\\steamapps", "5a\\Steam", false, kNone},
      {"5a\\Steam\\steamapps\\common", "5a\\Steam", true, kExactly},
      {"5a\\Steam\\steamapps\\common", "5a\\STEAM", true, kIgnoringCase},
      {"5a\\SteamLibrary", "5a\\Steam", true, kNone},
      {"5a\\Steam", "5a\\Steam\\steamapps", true, kNone},
      {"5a\\Steam", "5a\\", true, kExactly},
      {"5b\\Steam", "5a\\Steam", true, kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(match_location(c.location, c.folder, c.below_too), c.match)
        << c.location << " in " << c.folder;
  }
}

}  // namespace
