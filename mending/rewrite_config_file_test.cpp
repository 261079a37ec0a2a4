// rewrite_config_file on real files, each call in a child process whose limits and user the
// test controls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "mending/config_rewriter.h"
#include "settings/setting_line.h"
#include "tests/child_process.h"

namespace {

using namespace std::string_literals;

SettingTable reference_of(std::initializer_list<std::string> lines) {
  SettingTable table;
  for (const auto& line : lines) {
    parse_setting_line(table, line);
  }
  return table;
}

const SettingTable kReference = reference_of({"fullscreen=true", "output=opengl"});

// The names in the folder, sorted, each followed by "|".
std::string folder_names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  std::string joined;
  for (const auto& name : names) {
    joined += name + "|";
  }
  return joined;
}

// What became of the file, in the words the console shows for it, each with the file's name.
std::string outcome_of(FileOutcome outcome, const std::string& name) {
  switch (outcome) {
    case FileOutcome::kChanged:
    case FileOutcome::kUnchanged:
      return "";
    case FileOutcome::kCannotRead:
      return "Cannot read file " + name + "\n";
    case FileOutcome::kHoldsNul:
      return "Left unchanged, it holds NUL bytes: " + name + "\n";
    case FileOutcome::kCannotWrite:
      return "Cannot write to file " + name + "\n";
    case FileOutcome::kDamaged:
      return "Cannot write to file " + name + "\n" +
             "The old content could not be put back, the file may be damaged: " + name + "\n";
    default:
      return "outcome " + std::to_string(static_cast<int>(outcome)) + "\n";
  }
}

// Rewrites the file in a child process, which tells its outcome on its output.
std::string rewrite_with(const SettingTable& reference, const std::string& path,
                         const ChildOptions& options = {}) {
  const auto result = run_in_child(
      [&] {
        const std::size_t slash = path.rfind('/');
        const Folder folder = Folder::open(path.substr(0, slash));
        RewrittenFile file;
        rewrite_config_file(reference, folder, path.substr(slash + 1), MendingMode::kWrite, file);
        const std::string told = outcome_of(file.outcome, path);
        (void)!write(STDOUT_FILENO, told.data(), told.size());
      },
      options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.errors, "");
  return result.output;
}

class RewriteConfigFile : public testing::Test {
 protected:
  std::string rewrite(const std::string& path, const ChildOptions& options = {}) {
    return rewrite_with(kReference, path, options);
  }

  TempDir folder_;
};

TEST_F(RewriteConfigFile, ReplacesTheFileByItsMendedText) {
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

// The new text outgrows the file size limit, the old one does not: a new file is removed,
// and a file written in place (one with a second name) gets its old bytes back.
TEST_F(RewriteConfigFile, WriteThatFailsLeavesTheOldBytes) {
  const std::string original = "cycles=1\n" + std::string(3000, 'x') + "\r\n";
  const SettingTable long_value = reference_of({"cycles=" + std::string(5000, '9')});
  ChildOptions limited;
  limited.file_size_limit = 4096;
  for (const bool second_name : {false, true}) {
    TempDir folder;
    const std::string path = folder / "big.conf";
    write_file(path, original);
    if (second_name) {
      ASSERT_EQ(link(path.c_str(), (folder / "other name").c_str()), 0);
    }
    EXPECT_EQ(rewrite_with(long_value, path, limited), "Cannot write to file " + path + "\n");
    EXPECT_EQ(read_file(path), original) << "second name: " << second_name;
    EXPECT_EQ(folder_names(folder.path()), second_name ? "big.conf|other name|" : "big.conf|");
  }
}

// The limit is known before the file is emptied: an in-place write it cannot hold is never
// started, and the file keeps every byte.
TEST_F(RewriteConfigFile, InPlaceWriteBeyondTheFileSizeLimitIsNotStarted) {
  const std::string path = folder_ / "big.conf";
  const std::string original(5000, 'x');
  write_file(path, original);
  ASSERT_EQ(link(path.c_str(), (folder_ / "other name").c_str()), 0);  // written in place
  ChildOptions limited;
  limited.file_size_limit = 1024;
  EXPECT_EQ(rewrite(path, limited), "Cannot write to file " + path + "\n");
  EXPECT_EQ(read_file(path), original);
}

}  // namespace
