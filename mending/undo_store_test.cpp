#include "mending/undo_store.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/temp_files.h"

namespace {

TEST(UndoStore, KeepsEachCopyWholeAndTheLastRunsOnly) {
  TempDir home;
  const std::string store = home / "state/confmend";
  make_folders(home / "Steam/game");
  const Folder game = Folder::open(home / "Steam/game");
  for (int run = 0; run < static_cast<int>(kKeptRuns) + 2; ++run) {
    UndoStore undo(store);
    SystemError error;
    const std::string old_bytes = "run " + std::to_string(run) + "\r\n";
    ASSERT_TRUE(undo.keep(home / "Steam", home / "Steam/game/a.conf", game, "a.conf", old_bytes,
                          "new\n", error))
        << error.code;
  }
  const std::vector<UndoEntry> entries = undo_entries(store);
  ASSERT_EQ(entries.size(), kKeptRuns);
  const std::vector<KeptCopy> newest = kept_copies(store, entries.front().name);
  ASSERT_EQ(newest.size(), 1u);
  EXPECT_EQ(newest[0].old_bytes, "run 21\r\n");
  EXPECT_EQ(newest[0].path, home / "Steam/game/a.conf");
  EXPECT_EQ(newest[0].name, "a.conf");
  EXPECT_EQ(newest[0].folder, game.identity());
  EXPECT_EQ(newest[0].new_digest, bytes_digest("new\n"));
  EXPECT_EQ(kept_copies(store, entries.back().name)[0].old_bytes, "run 2\r\n");

  // Copies kept one after another in a journal; one cut short (its run killed while writing
  // it) is none, and the ones before it stay.
  {
    UndoStore two(home / "two");
    SystemError error_two;
    ASSERT_TRUE(two.keep(home / "Steam", "a", game, "a.conf", "first", "1", error_two));
    ASSERT_TRUE(two.keep(home / "Steam", "b", game, "b.conf", "second", "2", error_two));
    // Readable while the run that keeps them goes on.
    ASSERT_EQ(kept_copies(home / "two", undo_entries(home / "two").front().name).size(), 2u);
  }
  const std::string entry = undo_entries(home / "two").front().name;
  const std::string journal = home / "two" + "/" + entry + "/journal-1";
  const std::string whole = read_file(journal);
  write_file(journal, whole.substr(0, whole.size() - 1));
  const std::vector<KeptCopy> left = kept_copies(home / "two", entry);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].old_bytes, "first");

  SystemError error;
  EXPECT_TRUE(mark_taken_back(store, entries.front().name, error));
  EXPECT_TRUE(undo_entries(store).front().taken_back);
}

// The digest is what tells, at undo, that a file still holds what the run wrote: a byte
// changed anywhere, words swapped between its lanes, or a byte more, must change it.
TEST(UndoStore, EveryChangeOfTheBytesChangesTheirDigest) {
  std::string text;
  for (int i = 0; i < 100; ++i) {
    text += static_cast<char>('a' + i % 26);
  }
  const std::uint64_t digest = bytes_digest(text);
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] ^= 1;
    EXPECT_NE(bytes_digest(changed), digest) << "byte " << at;
  }
  for (std::size_t first = 0; first + 16 <= text.size(); first += 8) {
    for (std::size_t second = first + 8; second + 8 <= text.size(); second += 8) {
      std::string swapped = text;
      std::swap_ranges(swapped.begin() + static_cast<long>(first),
                       swapped.begin() + static_cast<long>(first + 8),
                       swapped.begin() + static_cast<long>(second));
      if (swapped != text) {
        EXPECT_NE(bytes_digest(swapped), digest) << "words at " << first << " and " << second;
      }
    }
  }
  for (std::size_t size = 0; size < text.size(); ++size) {
    EXPECT_NE(bytes_digest(std::string_view(text).substr(0, size)), digest) << size << " bytes";
    EXPECT_NE(bytes_digest(text.substr(0, size) + '\0'), bytes_digest(text.substr(0, size)));
  }
}

TEST(UndoStore, SaysWhyWhenNoCopyCanBeKept) {
  TempDir home;
  write_file(home / "state", "a file where the store's folder would be");
  make_folders(home / "game");
  UndoStore undo(home / "state/confmend");
  SystemError error;
  EXPECT_FALSE(undo.keep(home.path(), home / "game/a.conf", Folder::open(home / "game"), "a.conf",
                         "old", "new", error));
  EXPECT_TRUE(error);
}

}  // namespace
