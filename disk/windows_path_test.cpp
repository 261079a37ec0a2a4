#include "disk/windows_path.h"

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

// As Windows compares names: "c:/program files (x86)/steam", as Steam stores it, and the
// folder as the file system spells it are one place.
TEST(Location, ComparesWithoutRegardToCase) {
  EXPECT_TRUE(same_location("5a\\Program Files (x86)\\Steam", "5a\\program files (x86)\\steam"));
  EXPECT_TRUE(same_location("5a\\\xC3\x89t\xC3\xA9", "5a\\\xC3\xA9T\xC3\x89"));  // Été, éTÉ
  EXPECT_FALSE(same_location("5a\\Steam", "5b\\Steam"));
  const struct {
    const char* location;
    const char* folder;
    bool within;
  } cases[] = {
      {"5a\\Steam", "5a\\steam", true},
      {"5a\\Steam\\steamapps\\common", "5a\\STEAM", true},
      {"5a\\SteamLibrary", "5a\\Steam", false},
      {"5a\\Steam", "5a\\Steam\\steamapps", false},
      {"5a\\Steam", "5a\\", true},
      {"5b\\Steam", "5a\\Steam", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(location_lies_within(c.location, c.folder), c.within)
        << c.location << " in " << c.folder;
  }
}

}  // namespace
