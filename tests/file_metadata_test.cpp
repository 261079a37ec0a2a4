// What a mended file keeps of the old one: its metadata (mode, owner, extended attributes,
// ACLs), its place in place-written files, its permissions for an unprivileged user; the
// order of flushes; and no change without a copy to take it back by.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "tests/confmend_fixture.h"

namespace {

std::string attribute_of(const std::string& path, const char* name) {
  char value[64];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

// The folder's default ACL, as setfacl -d -m u:nobody:rw,g::-,o::- sets it: in the
// kernel's own form, so that no tool is needed (version 2, then tag, permissions and id).
void give_default_acl(const std::string& folder) {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  const Entry entries[] = {{0x01, 06, 0xFFFFFFFF},   // the owner: rw
                           {0x02, 06, 65534},        // nobody: rw
                           {0x04, 00, 0xFFFFFFFF},   // the group: nothing
                           {0x10, 06, 0xFFFFFFFF},   // the mask
                           {0x20, 00, 0xFFFFFFFF}};  // others: nothing
  std::string value("\x02\0\0\0", 4);
  value.append(reinterpret_cast<const char*>(entries), sizeof entries);
  ASSERT_EQ(setxattr(folder.c_str(), "system.posix_acl_default", value.data(), value.size(), 0), 0)
      << std::strerror(errno);
}

TEST_F(Confmend, ReadOnlyFileIsReportedAndTheRunGoesOn) {
  point_registry_at(steam_);
  make_folders(steam_ + "/a");
  write_file(steam_ + "/a/locked.conf", " x \n");
  open_to_everyone(home_.path());
  chmod((steam_ + "/a/locked.conf").c_str(), 0444);
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  const auto result = run(as_nobody);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output, lines({steam_, "Found: " + steam_ + "/a/locked.conf",
                                  "Cannot write to file " + steam_ + "/a/locked.conf",
                                  "  Permission denied (the file is read-only, or not yours to "
                                  "change)",
                                  "1 file was left unmended; the reason is under it."}) +
                               prompt());
  EXPECT_EQ(read_file(steam_ + "/a/locked.conf"), " x \n");
}

// Each file is replaced by a new one that is what the old one was; a file with a second name
// is written in place, so that both names keep showing one file.
TEST_F(Confmend, NewFilesAreWhatTheOldOnesWere) {
  SKIP_UNLESS_ROOT("giving files to other owners");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string game = steam_ + "/game";
  make_folders(game);
  make_folders(steam_ + "/real");
  for (const char* name : {"mode.conf", "owned.conf", "attributes.conf", "hard.conf"}) {
    write_file(game + "/" + name, "fullscreen=false\n");
  }
  write_file(steam_ + "/real/target.conf", "fullscreen=false\n");
  ASSERT_EQ(chmod((game + "/mode.conf").c_str(), 0640), 0);
  ASSERT_EQ(chown((game + "/owned.conf").c_str(), 1234, 5678), 0);
  ASSERT_EQ(setxattr((game + "/attributes.conf").c_str(), "user.origin", "steam", 5, 0), 0);
  ASSERT_EQ(make_link("../real/target.conf", game + "/link.conf"), 0);
  ASSERT_EQ(link((game + "/hard.conf").c_str(), (game + "/hard name.txt").c_str()), 0);
  const auto before = [&](const char* name) { return status_of(game + "/" + name).st_ino; };
  const ino_t mode = before("mode.conf"), owned = before("owned.conf"),
              attributes = before("attributes.conf"), hard = before("hard.conf");

  ASSERT_EQ(run().exit_status, 0);
  for (const char* name :
       {"mode.conf", "owned.conf", "attributes.conf", "hard.conf", "hard name.txt", "link.conf"}) {
    EXPECT_EQ(read_file(game + "/" + name), "fullscreen=true\n") << name;
  }
  const struct stat now_mode = status_of(game + "/mode.conf");
  EXPECT_NE(now_mode.st_ino, mode);
  EXPECT_EQ(now_mode.st_mode & 07777, 0640u);
  const struct stat now_owned = status_of(game + "/owned.conf");
  EXPECT_NE(now_owned.st_ino, owned);
  EXPECT_EQ(now_owned.st_uid, 1234u);
  EXPECT_EQ(now_owned.st_gid, 5678u);
  EXPECT_NE(status_of(game + "/attributes.conf").st_ino, attributes);
  EXPECT_EQ(attribute_of(game + "/attributes.conf", "user.origin"), "steam");
  EXPECT_TRUE(S_ISLNK(status_of(game + "/link.conf").st_mode)) << "the link must stay a link";
  const struct stat now_hard = status_of(game + "/hard.conf");
  EXPECT_EQ(now_hard.st_ino, hard);
  EXPECT_EQ(now_hard.st_nlink, 2u);
}

// As an ordinary user: a file of another owner's that the user may write, a writable file in
// a folder that takes no new file, and an attribute the user may not set. A new file could
// not be what the old one is, so each is written in place.
TEST_F(Confmend, WritesInPlaceWhereANewFileCouldNotBeTheSame) {
  SKIP_UNLESS_ROOT("acting as another user");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::vector<std::string> files = {
      steam_ + "/open/foreign.conf", steam_ + "/closed/game.conf", steam_ + "/open/labelled.conf"};
  make_folders(steam_ + "/open");
  make_folders(steam_ + "/closed");
  for (const auto& path : files) {
    write_file(path, "fullscreen=false\n");
  }
  open_to_everyone(home_.path());
  ASSERT_EQ(chown(files[0].c_str(), 1234, 1234), 0);
  ASSERT_EQ(chmod((steam_ + "/closed").c_str(), 0555), 0);
  ASSERT_EQ(chown(files[2].c_str(), 65534, 65534), 0);
  ASSERT_EQ(setxattr(files[2].c_str(), "security.confmend", "1", 1, 0), 0);
  std::vector<ino_t> inodes;
  for (const auto& path : files) {
    inodes.push_back(status_of(path).st_ino);
  }
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  const auto result = run(as_nobody);
  EXPECT_EQ(result.exit_status, 0) << result.errors;
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(read_file(files[i]), "fullscreen=true\n") << files[i];
    EXPECT_EQ(status_of(files[i]).st_ino, inodes[i]) << files[i] << " was not written in place";
  }
  EXPECT_EQ(status_of(files[0]).st_uid, 1234u);
  EXPECT_EQ(attribute_of(files[2], "security.confmend"), "1");
}

// The new file reaches the disk before it takes the old one's name, and the name before the
// folder is let go; all of it relative to the folder the walk holds open.
TEST_F(Confmend, FlushesTheNewFileBeforeTheRenameAndTheFolderAfter) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " a = 1 \n");
  const std::string trace = home_ / "trace";
  ChildOptions options;
  options.working_folder = work_;
  // The leak checker of the sanitizer build cannot work under a tracer.
  options.environment = {
      {"HOME", home_.path()}, {"PATH", "/usr/bin:/bin"}, {"ASAN_OPTIONS", "detect_leaks=0"}};
  const auto result =
      run_program({"strace", "-f", "-o", trace, "-e",
                   "trace=openat,fsync,rename,renameat,renameat2", CONFMEND_PROGRAM},
                  options);
  ASSERT_EQ(result.exit_status, 0) << result.errors;
  std::vector<std::string> calls;
  std::istringstream log(read_file(trace));
  for (std::string line; std::getline(log, line);) {
    calls.push_back(line);
  }
  // The index of the first call at or after `from` that holds every one of the texts.
  const auto find = [&](std::size_t from, std::initializer_list<std::string> texts) {
    for (std::size_t i = from; i < calls.size(); ++i) {
      if (std::all_of(texts.begin(), texts.end(), [&](const std::string& text) {
            return calls[i].find(text) != std::string::npos;
          })) {
        return i;
      }
    }
    ADD_FAILURE() << "no call after " << from << " holds " << *texts.begin() << "\n"
                  << read_file(trace);
    return calls.size();
  };
  const auto descriptor = [&](std::size_t call) {
    return call < calls.size() ? calls[call].substr(calls[call].rfind("= ") + 2) : "?";
  };
  const std::size_t folder = find(0, {"\"" + steam_ + "\"", "O_DIRECTORY"});
  const std::string at = "(" + descriptor(folder) + ", ";
  const std::size_t created = find(folder, {"openat" + at + "\".confmend-", "O_CREAT|O_EXCL"});
  const std::size_t flushed = find(created, {"fsync(" + descriptor(created) + ")", "= 0"});
  const std::size_t renamed =
      find(flushed, {"renameat" + at + "\".confmend-", "\"game.conf\") = 0"});
  find(renamed, {"fsync(" + descriptor(folder) + ")", "= 0"});
}

// A default ACL on a folder is handed down to every new file made in it: the new file must
// not keep what the old one lacked.
TEST_F(Confmend, NewFilesTakeNoAccessTheOldOnesLacked) {
  point_registry_at(steam_);
  make_folders(steam_ + "/game");
  write_file(steam_ + "/game/dosbox.conf", " fullscreen = no \n");
  ASSERT_EQ(chmod((steam_ + "/game/dosbox.conf").c_str(), 0640), 0);
  give_default_acl(steam_ + "/game");
  write_file(steam_ + "/game/inherits.conf", "");
  ASSERT_NE(attribute_of(steam_ + "/game/inherits.conf", "system.posix_acl_access"), "(none)")
      << "the folder hands its ACL down";
  ASSERT_EQ(run().exit_status, 0);
  EXPECT_EQ(read_file(steam_ + "/game/dosbox.conf"), "fullscreen = no\n");
  EXPECT_EQ(attribute_of(steam_ + "/game/dosbox.conf", "system.posix_acl_access"), "(none)");
  EXPECT_EQ(status_of(steam_ + "/game/dosbox.conf").st_mode & 07777, 0640u);
}

// Where no copy can be kept to take the run back by, no file is changed: each is left and
// said, with the reason, and a file whose bytes would not change needs none. A large file's
// copy is kept while its new bytes are written, which are then thrown away.
TEST_F(Confmend, ChangesNothingItCouldNotTakeBack) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  write_file(steam_ + "/a.conf", "fullscreen=false\n");
  write_file(steam_ + "/same.conf", "fullscreen=true\n");
  std::string large = "fullscreen=false\n";
  while (large.size() < (3 << 20)) {
    large += "# " + std::string(60, 'x') + "\n";
  }
  make_folders(steam_ + "/large");
  write_file(steam_ + "/large/dosbox.conf", large);
  write_file(home_ / "state", "a file where the state folder would be");
  ChildOptions options;
  options.environment = {{"XDG_STATE_HOME", home_ / "state"}};
  const auto result = run(options);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(result.output.starts_with(
      lines({steam_,
             "Cannot keep copies to undo this run in " + home_ / "state/confmend" +
                 ", so no file will be changed:",
             "  Not a directory"})))
      << result.output;
  for (const std::string name : {"a.conf", "large/dosbox.conf"}) {
    const std::string path = steam_ + "/" + name;
    EXPECT_NE(result.output.find("Found: " + path +
                                 "\nLeft unchanged, no copy could be kept to undo it: " + path +
                                 "\n  Not a directory\n"),
              std::string::npos)
        << result.output;
  }
  EXPECT_EQ(result.output.find("undo it: " + steam_ + "/same.conf"), std::string::npos);
  EXPECT_EQ(read_file(steam_ + "/a.conf"), "fullscreen=false\n");
  EXPECT_TRUE(read_file(steam_ + "/large/dosbox.conf") == large);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(steam_ + "/large")) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"dosbox.conf"}) << "its temporary file is removed";
  // A relative XDG_STATE_HOME is none: the store is under the home folder.
  options.environment = {{"XDG_STATE_HOME", "state"}};
  EXPECT_EQ(run(options).exit_status, 0);
  EXPECT_TRUE(std::filesystem::is_directory(home_ / ".local/state/confmend"));
}

}  // namespace
