// Old files kept by links, where the platform links them (Linux).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "mending/undo_store.h"
#include "tests/temp_files.h"

namespace {

OpenStore opened(const std::string& folder) {
  OpenStore store = open_undo_store(folder, false);
  EXPECT_EQ(store.state.kind, StoreState::kReady) << folder;
  return store;
}

// An old file that links by its name, or refuses to, as a file system without links does.
class NamedOldFile : public OldFile {
 public:
  NamedOldFile(std::string path, bool links) : path_(std::move(path)), links_(links) {}
  bool link_into(const Folder& folder, const std::string& name, SystemError& error) const override {
    if (!links_ || link(path_.c_str(), folder.path_of(name).c_str()) != 0) {
      error = SystemError{EXDEV};
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  bool links_;
};

// A large file's old file is kept itself, by a link, and read back through it; one written
// into since (a program held it open) is said, never given back; where no link can be made,
// its bytes are copied.
TEST(UndoStore, KeepsOldFilesByLinkAndChecksThemBeforeUse) {
  TempDir home;
  make_folders(home / "game");
  const Folder game = Folder::open(home / "game");
  write_file(home / "game/a.conf", "old a");
  write_file(home / "game/b.conf", "old b");
  UndoStore undo(home / "store");
  ASSERT_EQ(undo.prepare().kind, StoreState::kReady);
  ASSERT_TRUE(undo.links_in(game)) << "the store lies on the game's file system";
  SystemError error;
  ASSERT_TRUE(undo.keep_old_file(home.path(), home / "game/a.conf", game, "a.conf",
                                 NamedOldFile(home / "game/a.conf", true), "old a", "new", error));
  ASSERT_TRUE(undo.keep_old_file(home.path(), home / "game/b.conf", game, "b.conf",
                                 NamedOldFile(home / "game/b.conf", false), "old b", "new", error));
  const OpenStore store = opened(home / "store");
  const UndoEntry entry = undo_entries(store.folder).front();
  EntryRecords records = read_entry(store, entry);
  ASSERT_EQ(records.problem.trust, Trust::kPrivate);
  ASSERT_EQ(records.copies.size(), 2u);
  EXPECT_EQ(records.copies[0].link, "old-1");
  EXPECT_EQ(records.copies[0].old_bytes, "old a");
  EXPECT_EQ(records.copies[1].link, "") << "no link: its bytes are copied";
  EXPECT_EQ(records.copies[1].old_bytes, "old b");

  write_file(home / "game/a.conf", "OLD a");  // the same file as the link
  records = read_entry(store, entry);
  EXPECT_EQ(records.problem.trust, Trust::kAltered);
  EXPECT_EQ(records.problem.path, home / "store/" + entry.name + "/old-1");
}

std::uint64_t names_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_nlink;
}

// A run killed after linking a file's old file into its entry, before replacing the file,
// leaves the game's file with two names. The next run gives the store's copy a file of its
// own before it walks (else it would write the game's file in place, through the copy),
// while the link of a run still going stays as it is.
TEST(UndoStore, GivesTheLinksOfAKilledRunFilesOfTheirOwn) {
  TempDir home;
  make_folders(home / "game");
  const Folder game = Folder::open(home / "game");
  write_file(home / "game/a.conf", "old a");
  std::string entry;
  {
    UndoStore killed(home / "store");
    ASSERT_EQ(killed.prepare().kind, StoreState::kReady);
    SystemError error;
    ASSERT_TRUE(killed.keep_old_file(home.path(), home / "game/a.conf", game, "a.conf",
                                     NamedOldFile(home / "game/a.conf", true), "old a", "new",
                                     error));
    entry = undo_entries(opened(home / "store").folder).front().name;
    UndoStore beside(home / "store");
    ASSERT_EQ(beside.prepare().kind, StoreState::kReady);
    EXPECT_EQ(names_of(home / "game/a.conf"), 2u) << "a run still going keeps its links";
  }
  EXPECT_EQ(names_of(home / "game/a.conf"), 2u);

  UndoStore next(home / "store");
  ASSERT_EQ(next.prepare().kind, StoreState::kReady);
  EXPECT_EQ(names_of(home / "game/a.conf"), 1u);
  EXPECT_EQ(read_file(home / "game/a.conf"), "old a");
  const OpenStore store = opened(home / "store");
  for (const UndoEntry& run : undo_entries(store.folder)) {
    if (run.name == entry) {
      const EntryRecords records = read_entry(store, run);
      ASSERT_EQ(records.problem.trust, Trust::kPrivate);
      ASSERT_EQ(records.copies.size(), 1u);
      EXPECT_EQ(records.copies[0].old_bytes, "old a");
    }
  }
  write_file(home / "game/a.conf", "changed");
  EXPECT_EQ(read_file(home / "store/" + entry + "/old-1"), "old a");
}

}  // namespace
