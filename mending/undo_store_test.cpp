#include "mending/undo_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/temp_files.h"

namespace {

OpenStore opened(const std::string& folder) {
  OpenStore store = open_undo_store(folder, false);
  EXPECT_EQ(store.state.kind, StoreState::kReady) << folder;
  return store;
}

TEST(UndoStore, KeepsEachCopyWholeAndTheLastRunsOnly) {
  TempDir home;
  const std::string store = home / "state/confmend";
  make_folders(home / "Steam/game");
  const Folder game = Folder::open(home / "Steam/game");
  for (int run = 0; run < static_cast<int>(kKeptRuns) + 2; ++run) {
    UndoStore undo(store);
    ASSERT_EQ(undo.prepare().kind, StoreState::kReady);
    SystemError error;
    const std::string old_bytes = "run " + std::to_string(run) + "\r\n";
    ASSERT_TRUE(undo.keep(home / "Steam", home / "Steam/game/a.conf", game, "a.conf", old_bytes,
                          "new\n", error))
        << error.code;
  }
  {
    UndoStore kept_nothing(store);
    ASSERT_EQ(kept_nothing.prepare().kind, StoreState::kReady);
  }
  const OpenStore open = opened(store);
  const std::vector<UndoEntry> entries = undo_entries(open.folder);
  ASSERT_EQ(entries.size(), kKeptRuns) << "a run that kept nothing leaves no entry";
  EXPECT_EQ(entries.front().number, kKeptRuns + 2);
  const EntryRecords newest = read_entry(open, entries.front());
  ASSERT_EQ(newest.copies.size(), 1u);
  EXPECT_EQ(newest.copies[0].old_bytes, "run 21\r\n");
  EXPECT_EQ(newest.copies[0].path, home / "Steam/game/a.conf");
  EXPECT_EQ(newest.copies[0].name, "a.conf");
  EXPECT_EQ(newest.copies[0].folder, game.identity());
  EXPECT_EQ(newest.copies[0].new_digest, bytes_digest("new\n"));
  EXPECT_EQ(read_entry(open, entries.back()).copies[0].old_bytes, "run 2\r\n");

  // Copies kept one after another in a journal; one cut short (its run killed while writing
  // it) is none, and the ones before it stay.
  {
    UndoStore two(home / "two");
    ASSERT_EQ(two.prepare().kind, StoreState::kReady);
    SystemError error_two;
    ASSERT_TRUE(two.keep(home / "Steam", "a", game, "a.conf", "first", "1", error_two));
    ASSERT_TRUE(two.keep(home / "Steam", "b", game, "b.conf", "second", "2", error_two));
    // Readable while the run that keeps them goes on, and known to go on.
    const OpenStore during = opened(home / "two");
    const UndoEntry entry = undo_entries(during.folder).front();
    EXPECT_TRUE(is_run_going(during.folder, entry));
    ASSERT_EQ(read_entry(during, entry).copies.size(), 2u);
  }
  const OpenStore after = opened(home / "two");
  const UndoEntry entry = undo_entries(after.folder).front();
  EXPECT_FALSE(is_run_going(after.folder, entry));
  const std::string journal = home / "two" + "/" + entry.name + "/journal-1";
  const std::string whole = read_file(journal);
  write_file(journal, whole.substr(0, whole.size() - 1));
  EntryRecords left = read_entry(after, entry);
  ASSERT_EQ(left.copies.size(), 1u);
  EXPECT_EQ(left.copies[0].old_bytes, "first");

  // What an undo settles is recorded as it goes; a record cut short is none.
  {
    UndoLog log(after, entry.name);
    SystemError error;
    ASSERT_TRUE(log.record({{left.copies[0].number, Settled::kGivenBack}}, error));
    ASSERT_TRUE(log.record({{7, Settled::kChangedSince}}, error));
  }
  write_file(home / "two" + "/" + entry.name + "/undone-cut", "given-back 9");
  EXPECT_EQ(read_entry(after, entry).settled, (std::set<std::uint64_t>{left.copies[0].number, 7}));
  EXPECT_FALSE(read_entry(after, entry).undone_before);
  {
    UndoLog log(after, entry.name);
    SystemError error;
    ASSERT_TRUE(log.record({{8, Settled::kLeft}}, error));
  }
  EXPECT_TRUE(read_entry(after, entry).undone_before) << "an undo had to leave a file";
  EXPECT_EQ(read_entry(after, entry).settled.count(8), 0u);

  SystemError error;
  EXPECT_TRUE(mark_entry(open, entries.front(), UndoEntry::kTakenBack, error));
  EXPECT_EQ(undo_entries(open.folder).front().state, UndoEntry::kTakenBack);
}

// Runs are ordered by the numbers the store gives them, whatever their clocks said; those of
// the first version, named by their time, are older than every numbered one.
TEST(UndoStore, OrdersRunsByTheirNumbersNotTheirClocks) {
  TempDir home;
  for (const char* name : {"run-3-1000", "run-12-900", "run-20261209T140300.123456-00ff",
                           "run-20251209T140300.123456-00aa", "run-2-5000000000", "other"}) {
    make_folders(home / name);
  }
  std::vector<std::string> names;
  for (const UndoEntry& entry : undo_entries(Folder::open(home.path()))) {
    names.push_back(entry.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"run-12-900", "run-3-1000", "run-2-5000000000",
                                             "run-20261209T140300.123456-00ff",
                                             "run-20251209T140300.123456-00aa"}));
  EXPECT_EQ(undo_entries(Folder::open(home.path()))[3].made, 1796824980)
      << "2026-12-09 14:03:00 UTC";

  // A new run is numbered after every other.
  UndoStore undo(home.path());
  ASSERT_EQ(undo.prepare().kind, StoreState::kReady);
  SystemError error;
  make_folders(home / "game");
  ASSERT_TRUE(undo.keep(home.path(), home / "game/a.conf", Folder::open(home / "game"), "a.conf",
                        "old", "new", error));
  EXPECT_EQ(undo_entries(Folder::open(home.path())).front().number, 13u);
}

// Runs that started together change files in the order their turns came, and an undo takes
// them back in that order, whatever their numbers; a run still waiting for its turn is the
// newest, as it will change files last.
TEST(UndoStore, OrdersRunsByWhereTheirTurnsCame) {
  TempDir home;
  UndoStore first(home.path());
  UndoStore second(home.path());
  ASSERT_EQ(first.prepare().kind, StoreState::kReady);
  ASSERT_EQ(second.prepare().kind, StoreState::kReady);
  const auto numbers = [&] {
    std::vector<std::uint64_t> numbers;
    for (const UndoEntry& entry : undo_entries(Folder::open(home.path()))) {
      numbers.push_back(entry.number);
    }
    return numbers;
  };
  second.take_place();
  EXPECT_EQ(numbers(), (std::vector<std::uint64_t>{1, 2})) << "the first still waits";
  first.take_place();
  EXPECT_EQ(numbers(), (std::vector<std::uint64_t>{1, 2})) << "the first's turn came last";
  UndoStore third(home.path());
  ASSERT_EQ(third.prepare().kind, StoreState::kReady);
  third.take_place();
  EXPECT_EQ(numbers(), (std::vector<std::uint64_t>{3, 1, 2}));
}

// Beyond the last kKeptRuns runs and kKeptBytes, the oldest go, those wholly taken back first;
// the run making room is never among them, whatever its size.
TEST(UndoStore, LetsTheOldestGoBeyondItsBounds) {
  const auto entries = [](std::initializer_list<UndoEntry::State> states) {
    std::vector<UndoEntry> list;
    for (const UndoEntry::State state : states) {
      list.push_back({"", 0, 0, state});
    }
    return list;
  };
  using E = UndoEntry;
  constexpr std::uint64_t kMiB = 1 << 20;
  struct Case {
    std::vector<UndoEntry> others;
    std::vector<std::uint64_t> sizes;
    std::vector<std::size_t> gone;
  };
  const Case cases[] = {
      {entries({E::kOpen, E::kOpen}), {100 * kMiB, 100 * kMiB}, {}},
      {entries({E::kOpen, E::kOpen, E::kOpen}), {100 * kMiB, 100 * kMiB, 100 * kMiB}, {2}},
      {entries({E::kOpen, E::kTakenBack, E::kOpen}), {100 * kMiB, 100 * kMiB, 100 * kMiB}, {1}},
      {entries({E::kOpen, E::kSkipped, E::kTakenBack}), {300 * kMiB, 1, 1}, {2, 1, 0}},
      {entries({E::kOpen}), {257 * kMiB}, {0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(entries_to_let_go(c.others, c.sizes), c.gone);
  }
  std::vector<UndoEntry> many = entries({});
  for (std::size_t at = 0; at < kKeptRuns + 1; ++at) {
    many.push_back({"", 0, 0, at == 3 ? E::kTakenBack : E::kOpen});
  }
  EXPECT_EQ(entries_to_let_go(many, std::vector<std::uint64_t>(many.size(), 1)),
            (std::vector<std::size_t>{3, kKeptRuns}));
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
  const StoreState state = undo.prepare();
  EXPECT_EQ(state.kind, StoreState::kCannotMake);
  EXPECT_TRUE(state.error);
  SystemError error;
  EXPECT_FALSE(undo.keep(home.path(), home / "game/a.conf", Folder::open(home / "game"), "a.conf",
                         "old", "new", error));
}

}  // namespace
