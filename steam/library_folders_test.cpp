#include "steam/library_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

TEST(LibraryPathsIn, ReadsBothFormsSteamHasWritten) {
  const struct {
    const char* what;
    std::string text;
    Paths paths;
  } cases[] = {
      {"today's form",
       R"("libraryfolders"
{
	"0"
	{
		"path"		"C:\\Program Files (x86)\\Steam"
		"label"		""
		"contentid"		"4281279423358296787"
		"totalsize"		"0"
		"apps" { "1091500" "62679923338" }
	}
	"1"
	{
		"path"		"D:\\SteamLibrary"
		"label"		"games"
		"mounted"		"1"
	}
	"2" { "path" "/run/media/mmcblk0p1" "mounted" "0" }
	"3" { "Path" "/mnt/games/SteamLibrary" }
})",
       {"C:\\Program Files (x86)\\Steam", "D:\\SteamLibrary", "/mnt/games/SteamLibrary"}},
      {"the form before mid-2021",
       R"("LibraryFolders"
{
	"TimeNextStatsReport"		"1622476800"
	"ContentStatsID"		"-6424466496585934283"
	"1"		"D:\\SteamLibrary"
	"2"		"E:\\Games\\Steam \"old\""
})",
       {"D:\\SteamLibrary", "E:\\Games\\Steam \"old\""}},
      {"only numbered keys name libraries",
       R"("libraryfolders" { "1a" { "path" "/x" } "contentstatsid" "/y" "12" { "path" "/z" } })",
       {"/z"}},
      {"a block's first path counts",
       R"("libraryfolders" { "1" { "path" "/a" "path" "/b" } })",
       {"/a"}},
      {"another root block", R"("Registry" { "1" "/x" })", {}},
      {"malformed", R"("libraryfolders" { "1" "/x")", {}},
      {"empty", "", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(library_paths_in(c.text), c.paths) << c.what;
  }
}

}  // namespace
