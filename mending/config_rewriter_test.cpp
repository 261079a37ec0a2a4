#include "mending/config_rewriter.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/setting_line.h"
#include "tests/sandbox.h"

namespace {

using namespace std::string_literals;

SettingTable reference_of(const std::string& text) {
  SettingTable table;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    parse_setting_line(table, trim_setting_text(text.substr(start, end - start)));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return table;
}

std::string mended(const SettingTable& reference, const std::string& original) {
  TextAccumulator text;
  mend_config_text(reference, original, text);
  return std::string(text.text(), text.size());
}

const SettingTable kReference = reference_of(
    "fullscreen=true\noutput=opengl\ncycles=max\nempty = \n=nameless\n"
    "\xEF\xBB\xBFmarked=bom\n");

TEST(MendConfigText, TrimsEveryLineAndReplacesKnownSettings) {
  const struct {
    const char* what;
    std::string original, mended;
  } cases[] = {
      {"empty file", "", ""},
      {"last line without LF gains one", "a=1", "a=1\n"},
      {"a final LF adds no empty line", "a=1\n", "a=1\n"},
      {"blank and white-space lines become empty", "\n \t \n\f\n", "\n\n\n"},
      {"comments and headers are trimmed too", "  [sdl]  \n\t# note \n", "[sdl]\n# note\n"},
      {"known name: no blanks left", "  fullscreen \t=  false  \n", "fullscreen=true\n"},
      {"unknown name: inner blanks kept", "  speed \t=  fast  \n", "speed \t=  fast\n"},
      {"nothing after the equals sign", " cycles =  \n", "cycles =\n"},
      {"empty reference value", "empty=5\n", "empty=5\n"},
      {"several equals signs", "output=a=b\nmode=a=b\n", "output=opengl\nmode=a=b\n"},
      {"same name in two sections", "[a]\ncycles=1\n[b]\ncycles=2\n",
       "[a]\ncycles=max\n[b]\ncycles=max\n"},
      {"names are case-sensitive", "Fullscreen=false\n", "Fullscreen=false\n"},
      {"empty name", "= x\n", "=nameless\n"},
      {"byte-order mark belongs to the first name",
       "\xEF\xBB\xBF"
       "fullscreen=false\n",
       "\xEF\xBB\xBF"
       "fullscreen=false\n"},
      {"byte-order mark matched with its bytes",
       "\xEF\xBB\xBF"
       "marked=x\n",
       "\xEF\xBB\xBF"
       "marked=bom\n"},
      {"CR LF read as line ends", "fullscreen=false\r\nrate=1\r\n", "fullscreen=true\nrate=1\n"},
      {"lone CR inside a line with LF ends stays", "a\rb\n", "a\rb\n"},
      {"CR-only lines are not merged", "[sdl]\rfullscreen=false\rx=1\r",
       "[sdl]\nfullscreen=true\nx=1\n"},
      {"0x1A is an ordinary byte", "a=\x1A\nfullscreen=no\n", "a=\x1A\nfullscreen=true\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mended(kReference, c.original), c.mended) << c.what;
  }
}

TEST(MendConfigText, AnEmptyReferenceOnlyTrims) {
  EXPECT_EQ(mended({}, " fullscreen = false \r\n"), "fullscreen = false\n");
}

class RewriteConfigFile : public testing::Test {
 protected:
  // Rewrites the file in a child process and returns what it printed.
  std::string rewrite(const std::string& path, const ChildOptions& options = {}) {
    const auto result = run_in_child([&] { rewrite_config_file(kReference, path); }, options);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.errors, "");
    return result.output;
  }

  TempDir folder_;
};

TEST_F(RewriteConfigFile, WritesTheMendedTextInPlace) {
  const std::string path = folder_ / "game.conf";
  write_file(path, "[sdl]\r\n  fullscreen = false\r\nkeep = me \r\n");
  EXPECT_EQ(rewrite(path), "");
  EXPECT_EQ(read_file(path), "[sdl]\nfullscreen=true\nkeep = me\n");
}

TEST_F(RewriteConfigFile, EmptyFileStaysEmpty) {
  const std::string path = folder_ / "empty.conf";
  write_file(path, "");
  EXPECT_EQ(rewrite(path), "");
  EXPECT_EQ(read_file(path), "");
}

TEST_F(RewriteConfigFile, LeavesFilesItCannotHandleAsTheyAre) {
  const struct {
    const char* what;
    std::string name, content, message;
  } cases[] = {
      {"UTF-16 text", "utf16.conf",
       "\xFF\xFE"
       "a\0=\0"
       "1\0\r\0\n\0"s,
       "Left unchanged, it holds NUL bytes: "},
      {"a folder", "folder.conf", "", "Cannot read file "},
  };
  for (const auto& c : cases) {
    const std::string path = folder_ / c.name;
    if (c.name == "folder.conf") {
      make_folders(path);
    } else {
      write_file(path, c.content);
    }
    EXPECT_EQ(rewrite(path), c.message + path + "\n") << c.what;
    if (c.name != "folder.conf") {
      EXPECT_EQ(read_file(path), c.content) << c.what;
    }
  }
}

TEST_F(RewriteConfigFile, MissingFileIsReportedAndNotCreated) {
  const std::string path = folder_ / "gone.conf";
  EXPECT_EQ(rewrite(path), "Cannot read file " + path + "\n");
  EXPECT_FALSE(file_exists(path));
}

TEST_F(RewriteConfigFile, ReadOnlyFileKeepsItsContent) {
  const std::string path = folder_ / "locked.conf";
  write_file(path, " fullscreen=false\n");
  open_to_everyone(folder_.path());
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  EXPECT_EQ(rewrite(path, as_nobody), "Cannot write to file " + path + "\n");
  EXPECT_EQ(read_file(path), " fullscreen=false\n");
}

TEST_F(RewriteConfigFile, WriteThatFailsMidwayPutsTheOldBytesBack) {
  const std::string path = folder_ / "big.conf";
  // The new text outgrows the file size limit, the old one does not.
  const std::string original = "cycles=1\n" + std::string(3000, 'x') + "\r\n";
  write_file(path, original);
  const SettingTable long_value = reference_of("cycles=" + std::string(5000, '9'));
  ChildOptions limited;
  limited.file_size_limit = 4096;
  const auto result = run_in_child([&] { rewrite_config_file(long_value, path); }, limited);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, "Cannot write to file " + path + "\n");
  EXPECT_EQ(read_file(path), original);
}

TEST_F(RewriteConfigFile, ReportsWhenEvenTheOldBytesCannotGoBack) {
  const std::string path = folder_ / "big.conf";
  write_file(path, std::string(5000, 'x'));
  ChildOptions limited;
  limited.file_size_limit = 1024;
  EXPECT_EQ(rewrite(path, limited),
            "Cannot write to file " + path + "\n" +
                "The old content could not be put back, the file may be damaged: " + path + "\n");
}

}  // namespace
