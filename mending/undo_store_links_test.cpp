// Old files kept by links, where the platform links them (Linux).
#include <gtest/gtest.h>
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

}  // namespace
