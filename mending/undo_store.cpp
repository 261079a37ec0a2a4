#include "mending/undo_store.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "disk/file_writing.h"
#include "disk/store_files.h"
#include "disk/tree_lock.h"
#include "disk/whole_file.h"

namespace {

constexpr std::string_view kCopyHeader = "confmend undo copy 1\n";
// A copy whose old bytes are the old file itself, linked into the entry under the name its
// last line gives.
constexpr std::string_view kLinkHeader = "confmend undo link 1\n";
constexpr std::string_view kEntryPrefix = "run-";

std::string hex_of(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

std::optional<std::string> bytes_of_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    return std::nullopt;
  }
  const auto value = [](char c) -> int {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string bytes;
  for (std::size_t at = 0; at < hex.size(); at += 2) {
    const int high = value(hex[at]);
    const int low = value(hex[at + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes += static_cast<char>(high << 4 | low);
  }
  return bytes;
}

// "run-", its number and when it began: "run-42-1765289000". Runs of the first version named
// theirs by when they began, in UTC: "run-20261209T140300.123456-<random number>".
std::string entry_name(std::uint64_t number, std::int64_t made) {
  return std::string(kEntryPrefix) + std::to_string(number) + "-" + std::to_string(made);
}

std::optional<std::uint64_t> number_in(std::string_view text) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return number;
}

std::optional<UndoEntry> entry_named(const std::string& name) {
  if (!name.starts_with(kEntryPrefix)) {
    return std::nullopt;
  }
  const std::string_view rest = std::string_view(name).substr(kEntryPrefix.size());
  const auto dash = rest.find('-');
  if (dash == std::string_view::npos) {
    return std::nullopt;
  }
  const auto number = number_in(rest.substr(0, dash));
  const auto made = number_in(rest.substr(dash + 1));
  if (number && made) {
    return UndoEntry{name, *number, static_cast<std::int64_t>(*made), UndoEntry::kOpen};
  }
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(name.c_str(), "run-%4d%2u%2uT%2u%2u%2u", &year, &month, &day, &hour, &minute,
                  &second) != 6) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const sys_days date{std::chrono::year(year) / std::chrono::month(month) / std::chrono::day(day)};
  const sys_seconds time = date + hours(hour) + minutes(minute) + seconds(second);
  return UndoEntry{name, 0, time.time_since_epoch().count(), UndoEntry::kOpen};
}

// Where the entry stands among the runs: where its run's turn came (the last place of all for a
// run that waits for it), else, for older entries, its number.
std::uint64_t order_of(const UndoEntry& entry) {
  return entry.place != 0 ? entry.place : entry.number;
}

bool is_newer(const UndoEntry& a, const UndoEntry& b) {
  return order_of(a) != order_of(b) ? order_of(a) > order_of(b) : a.name > b.name;
}

// What stands before a copy's old bytes: where the file was, its identity, what it was given.
std::string copy_header(std::string_view kind, std::uint64_t number, const std::string& tree,
                        const std::string& path, const Folder& folder, const std::string& name,
                        std::string_view old_bytes, std::string_view new_bytes) {
  const FileIdentity identity = folder.identity().value_or(FileIdentity{});
  std::string text(kind);
  text += "number " + std::to_string(number) + "\n";
  text += "tree " + hex_of(tree) + "\n";
  text += "path " + hex_of(path) + "\n";
  text += "folder " + hex_of(folder.path()) + "\n";
  text += "name " + hex_of(name) + "\n";
  text += "identity " + std::to_string(identity.volume) + " " + std::to_string(identity.index[0]) +
          " " + std::to_string(identity.index[1]) + "\n";
  text += "new " + std::to_string(new_bytes.size()) + " " +
          std::to_string(bytes_digest(new_bytes)) + "\n";
  text += "old " + std::to_string(old_bytes.size()) + " " +
          std::to_string(bytes_digest(old_bytes)) + "\n";
  return text;
}

// The copy at the start of `text`, when it was written whole; `text` then starts after it.
std::optional<KeptCopy> read_copy(std::string_view& text) {
  const bool linked = text.starts_with(kLinkHeader);
  if (!linked && !text.starts_with(kCopyHeader)) {
    return std::nullopt;
  }
  text.remove_prefix(linked ? kLinkHeader.size() : kCopyHeader.size());
  const auto field = [&](std::string_view key) -> std::optional<std::string_view> {
    if (!text.starts_with(key) || text.size() <= key.size() || text[key.size()] != ' ') {
      return std::nullopt;
    }
    const auto end = text.find('\n');
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view value = text.substr(key.size() + 1, end - key.size() - 1);
    text.remove_prefix(end + 1);
    return value;
  };
  KeptCopy copy;
  const auto number = field("number");
  const auto tree = field("tree");
  const auto path = field("path");
  const auto folder = field("folder");
  const auto name = field("name");
  const auto identity = field("identity");
  const auto written = field("new");
  const auto old = field("old");
  const auto link = linked ? field("link") : std::optional<std::string_view>("");
  auto link_bytes = link ? bytes_of_hex(*link) : std::nullopt;
  if (!number || !tree || !path || !folder || !name || !identity || !written || !old ||
      !link_bytes) {
    return std::nullopt;
  }
  auto tree_bytes = bytes_of_hex(*tree);
  auto path_bytes = bytes_of_hex(*path);
  auto folder_bytes = bytes_of_hex(*folder);
  auto name_bytes = bytes_of_hex(*name);
  unsigned long long volume = 0, index0 = 0, index1 = 0, old_size = 0, old_digest = 0;
  unsigned long long new_size = 0, new_digest = 0, sequence = 0;
  if (std::sscanf(std::string(*number).c_str(), "%llu", &sequence) != 1 || !tree_bytes ||
      !path_bytes || !folder_bytes || !name_bytes ||
      std::sscanf(std::string(*identity).c_str(), "%llu %llu %llu", &volume, &index0, &index1) !=
          3 ||
      std::sscanf(std::string(*written).c_str(), "%llu %llu", &new_size, &new_digest) != 2 ||
      std::sscanf(std::string(*old).c_str(), "%llu %llu", &old_size, &old_digest) != 2) {
    return std::nullopt;
  }
  // A linked copy's bytes are checked once they are read from the link.
  const std::size_t kept_here = linked ? 0 : old_size;
  if (text.size() < kept_here ||
      (!linked && bytes_digest(text.substr(0, old_size)) != old_digest)) {
    return std::nullopt;
  }
  copy.number = sequence;
  copy.tree = std::move(*tree_bytes);
  copy.path = std::move(*path_bytes);
  copy.folder_path = std::move(*folder_bytes);
  copy.name = std::move(*name_bytes);
  copy.folder = FileIdentity{volume, {index0, index1}};
  copy.new_size = new_size;
  copy.new_digest = new_digest;
  copy.link = std::move(*link_bytes);
  copy.old_bytes = std::string(text.substr(0, kept_here));
  copy.old_size = old_size;
  copy.old_digest = old_digest;
  text.remove_prefix(kept_here);
  return copy;
}

std::string journal_name(std::size_t number) {
  return "journal-" + std::to_string(number);
}

constexpr std::string_view kJournalPrefix = "journal-";
constexpr std::string_view kLogPrefix = "undone-";
constexpr const char* kRunMark = "run";
constexpr const char* kTakenBack = "taken-back";
constexpr const char* kPlace = "place";
// Marks of runs passed over stand in a folder of the store, not in the entries: one that
// cannot be read or written can be passed over all the same.
constexpr const char* kSkipped = "skipped";
constexpr std::string_view kGivenBackRecord = "given-back ";
constexpr std::string_view kChangedRecord = "changed ";
constexpr std::string_view kLeftRecord = "left ";

// What the entry's files take on the disk.
std::uint64_t entry_size(const Folder& store, const std::string& name) {
  const Folder entry = store.open_folder(name, Follow::kNoLink);
  std::vector<FolderEntry> files;
  std::uint64_t size = 0;
  if (entry.is_open() && entry.list(files)) {
    for (const FolderEntry& file : files) {
      if (const auto stamp = stamp_of_file_in(entry, file.name)) {
        size += stamp->size;
      }
    }
  }
  return size;
}

// Makes room beside the run that keeps its first copy, `made`. An entry whose run goes on is
// never removed.
void let_oldest_go(const Folder& store, const std::string& made) {
  std::vector<UndoEntry> others;
  std::vector<std::uint64_t> sizes;
  for (UndoEntry& entry : undo_entries(store)) {
    if (entry.name != made && !is_run_going(store, entry)) {
      sizes.push_back(entry_size(store, entry.name));
      others.push_back(std::move(entry));
    }
  }
  for (const std::size_t at : entries_to_let_go(others, sizes)) {
    remove_folder_tree(store, others[at].name);
  }
}

// The last copy of each file, in the order they were kept.
std::vector<KeptCopy> last_copy_of_each_file(std::vector<KeptCopy> copies) {
  std::sort(copies.begin(), copies.end(),
            [](const KeptCopy& a, const KeptCopy& b) { return a.number < b.number; });
  std::map<std::pair<std::string, std::string>, std::size_t> last;
  for (std::size_t at = 0; at < copies.size(); ++at) {
    last[{copies[at].folder_path, copies[at].name}] = at;
  }
  std::vector<KeptCopy> kept;
  for (std::size_t at = 0; at < copies.size(); ++at) {
    if (last[{copies[at].folder_path, copies[at].name}] == at) {
      kept.push_back(std::move(copies[at]));
    }
  }
  return kept;
}

// The files an undo's records say are settled; a record cut short (the undo was killed while
// writing it) is none.
void read_log(std::string_view text, EntryRecords& records) {
  for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    records.undone_before = records.undone_before || line.starts_with(kLeftRecord);
    for (const std::string_view kind : {kGivenBackRecord, kChangedRecord}) {
      if (line.starts_with(kind)) {
        if (const auto number = number_in(line.substr(kind.size()))) {
          records.settled.insert(*number);
        }
      }
    }
  }
}

StoreTrust cannot_read(const std::string& path) {
  return {Trust::kCannotTell, path, 0, "", last_system_error()};
}

}  // namespace

std::string undo_store_folder() {
  const std::string state = user_state_folder();
  return state.empty() ? "" : state + "/confmend";
}

// Eight bytes at a time, each word mixed in by a multiplication and a rotation: any change of
// a byte changes it, as far as a run's files go. Four words go into four lanes, which the
// processor mixes side by side rather than waiting on each multiplication in turn.
std::uint64_t bytes_digest(std::string_view bytes) {
  constexpr std::uint64_t kPrime = 0x9e3779b97f4a7c15ull;
  const auto mixed = [](std::uint64_t digest, std::uint64_t word) {
    return std::rotl((digest ^ word) * kPrime, 29);
  };
  std::uint64_t lanes[4] = {0xcbf29ce484222325ull ^ bytes.size(), 1, 2, 3};
  std::size_t at = 0;
  for (; at + 32 <= bytes.size(); at += 32) {
    std::uint64_t words[4];
    std::memcpy(words, bytes.data() + at, 32);
    for (int lane = 0; lane < 4; ++lane) {
      lanes[lane] = mixed(lanes[lane], words[lane]);
    }
  }
  std::uint64_t digest = lanes[0];
  for (int lane = 1; lane < 4; ++lane) {
    digest = mixed(digest, lanes[lane]);
  }
  for (; at < bytes.size(); ++at) {
    digest = mixed(digest, static_cast<unsigned char>(bytes[at]));
  }
  return digest;
}

OpenStore open_undo_store(const std::string& folder, bool make) {
  OpenStore store;
  if (folder.empty()) {
    store.state.kind = StoreState::kNone;
    return store;
  }
  store.owner = store_owner_for(folder);
  if (make && !make_folders(folder, store.state.error, store.owner)) {
    store.state.kind = StoreState::kCannotMake;
    return store;
  }
  store.state.trust = trust_in_store(folder, store.owner);
  if (store.state.trust.trust == Trust::kCannotTell && !make &&
      says_not_found(store.state.trust.error)) {
    store.state.kind = StoreState::kNone;  // no run has kept anything yet
    return store;
  }
  if (store.state.trust.trust != Trust::kPrivate) {
    store.state.kind = StoreState::kNotPrivate;
    return store;
  }
  store.folder = Folder::open(folder);
  if (!store.folder.is_open()) {
    const SystemError error = last_system_error();
    store.state = {
        !make && says_not_found(error) ? StoreState::kNone : StoreState::kCannotMake, error, {}};
  }
  return store;
}

namespace {

constexpr std::string_view kLinkPrefix = "old-";
constexpr std::string_view kUnsharedMark = ".unshared-";

// A run killed between keeping a file's old file by a link and replacing the file leaves the
// game's file with its second name here. The next run would take it for a file with hard
// links and write it in place, through the store's copy, where a kill could damage both. So
// before a run walks, each such link of a run that has ended gets a file of its own: a copy of
// its bytes takes its name in one step, and the game's file has one name again.
void unshare_kept_links(const OpenStore& store) {
  for (const UndoEntry& entry : undo_entries(store.folder)) {
    if (is_run_going(store.folder, entry)) {
      continue;  // its links are shared for a moment, just before each file is replaced
    }
    const Folder folder = store.folder.open_folder(entry.name, Follow::kNoLink);
    std::vector<FolderEntry> items;
    if (!folder.is_open() || !folder.list(items)) {
      continue;
    }
    for (const FolderEntry& item : items) {
      if (!item.name.starts_with(kLinkPrefix) ||
          item.name.find(kUnsharedMark) != std::string::npos ||
          name_count(folder, item.name).value_or(1) <= 1) {
        continue;
      }
      std::string bytes;
      if (read_whole_file(folder.path_of(item.name), bytes, SIZE_MAX / 4) !=
          FileOutcome::kUnchanged) {
        continue;
      }
      // A copy left by a repair that was killed is passed over, and goes with its entry.
      SystemError error;
      for (int attempt = 0; attempt < 10; ++attempt) {
        const std::string copy = item.name + std::string(kUnsharedMark) + std::to_string(attempt);
        if (create_file_flushed(folder, copy, bytes, error)) {
          give_to_owner(folder, copy, store.owner);
          (void)rename_within(folder, copy, item.name, error);  // refused, the copy goes with it
          folder.flush();
          break;
        }
      }
    }
  }
}

}  // namespace

StoreState UndoStore::prepare() {
  store_ = open_undo_store(folder_, true);
  if (store_.state.kind != StoreState::kReady) {
    return store_.state;
  }
  unshare_kept_links(store_);
  // Numbered under the store's lock, held for a moment and never while waiting for another:
  // an undo that holds trees' locks may wait for it, so it must never wait for theirs.
  TreeLock lock;
  SystemError error;
  if (lock.take(
          store_.folder, [] { return true; }, error) == LockTaking::kNotAllowed) {
    store_.state = {StoreState::kCannotMake, error, {}};
    return store_.state;
  }
  std::uint64_t number = 1;
  for (const UndoEntry& entry : undo_entries(store_.folder)) {
    number = std::max(number, entry.number + 1);
  }
  const auto made = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  entry_name_ = entry_name(number, made.count());
  if (make_folders(store_.folder.path_of(entry_name_), error, store_.owner)) {
    entry_ = store_.folder.open_folder(entry_name_, Follow::kNoLink);
    error = entry_.is_open() ? SystemError{} : last_system_error();
  }
  if (entry_.is_open()) {
    running_ = HeldFile::create(entry_, kRunMark, error);
    give_to_owner(entry_, kRunMark, store_.owner);
  }
  if (!running_.is_open()) {
    entry_ = Folder();
    remove_folder_tree(store_.folder, entry_name_);
    store_.state = {StoreState::kCannotMake, error, {}};
  }
  return store_.state;
}

void UndoStore::take_place() {
  if (!entry_.is_open()) {
    return;
  }
  TreeLock lock;  // as prepare() takes it, for a moment
  SystemError error;
  (void)lock.take(
      store_.folder, [] { return true; }, error);
  std::uint64_t place = 1;
  // Listed through a folder opened now: Windows lists a folder handle once.
  for (const UndoEntry& entry : undo_entries(Folder::open(store_.folder.path()))) {
    place = std::max({place, entry.number + 1, entry.place == UINT64_MAX ? 0 : entry.place + 1});
  }
  // Without it the entry keeps its number's place, as before: nothing is lost.
  (void)create_file_flushed(entry_, kPlace, std::to_string(place), error);
}

UndoStore::~UndoStore() {
  if (entry_.is_open() && copies_ == 0) {
    free_journals_.clear();
    entry_ = Folder();
    running_ = HeldFile();
    remove_folder_tree(store_.folder, entry_name_);
  }
}

AppendedFile UndoStore::take_journal(SystemError& error) {
  std::size_t number = 0;
  {
    const std::lock_guard<std::mutex> hold(journals_);
    if (!free_journals_.empty()) {
      AppendedFile journal = std::move(free_journals_.back());
      free_journals_.pop_back();
      return journal;
    }
    number = ++journals_made_;
  }
  AppendedFile journal = AppendedFile::create(entry_, journal_name(number), error);
  if (journal.is_open()) {
    give_to_owner(entry_, journal_name(number), store_.owner);
    // Its name lasts from now on, and the entry's with the first; its records are flushed
    // with it.
    entry_.flush();
    if (number == 1) {
      store_.folder.flush();
      // Only a run that keeps something makes room for itself.
      TreeLock lock;
      SystemError locking;
      if (lock.take(
              store_.folder, [] { return true; }, locking) == LockTaking::kTaken) {
        let_oldest_go(store_.folder, entry_name_);
      }
    }
  }
  return journal;
}

void UndoStore::give_back(AppendedFile journal) {
  const std::lock_guard<std::mutex> hold(journals_);
  free_journals_.push_back(std::move(journal));
}

bool UndoStore::append_copy(std::string_view header, std::string_view old_bytes,
                            SystemError& error) {
  AppendedFile journal = take_journal(error);
  if (!journal.is_open()) {
    return false;
  }
  const bool kept = journal.append(header, old_bytes, error);
  give_back(std::move(journal));
  return kept;
}

bool UndoStore::keep(const std::string& tree, const std::string& path, const Folder& folder,
                     const std::string& name, std::string_view old_bytes,
                     std::string_view new_bytes, SystemError& error) {
  if (!entry_.is_open()) {
    error = store_.state.error;  // said once already, naming the store
    return false;
  }
  return append_copy(
      copy_header(kCopyHeader, ++copies_, tree, path, folder, name, old_bytes, new_bytes),
      old_bytes, error);
}

bool UndoStore::links_in(const Folder& folder) const {
  const auto here = folder.identity();
  const auto store = entry_.is_open() ? entry_.identity() : std::nullopt;
  return kOldFilesLink && here && store && here->volume == store->volume;
}

bool UndoStore::keep_old_file(const std::string& tree, const std::string& path,
                              const Folder& folder, const std::string& name, const OldFile& old,
                              std::string_view old_bytes, std::string_view new_bytes,
                              SystemError& error) {
  if (!entry_.is_open()) {
    error = store_.state.error;
    return false;
  }
  const std::uint64_t number = ++copies_;
  const std::string link = std::string(kLinkPrefix) + std::to_string(number);
  SystemError refused;
  if (!old.link_into(entry_, link, refused)) {
    return append_copy(
        copy_header(kCopyHeader, number, tree, path, folder, name, old_bytes, new_bytes), old_bytes,
        error);
  }
  // Its name lasts before its record does, and the record before the file changes.
  entry_.flush();
  return append_copy(
      copy_header(kLinkHeader, number, tree, path, folder, name, old_bytes, new_bytes) + "link " +
          hex_of(link) + "\n",
      "", error);
}

std::vector<UndoEntry> undo_entries(const Folder& store) {
  std::vector<FolderEntry> found;
  std::vector<UndoEntry> entries;
  if (!store.is_open() || !store.list(found)) {
    return entries;
  }
  for (const FolderEntry& item : found) {
    auto entry = item.kind == EntryKind::kFolder ? entry_named(item.name) : std::nullopt;
    if (entry) {
      std::string place;
      if (read_whole_file(store.path_of(item.name) + "/" + kPlace, place, 32) ==
          FileOutcome::kUnchanged) {
        entry->place = number_in(place).value_or(0);
      } else if (is_file_held(store.open_folder(item.name, Follow::kNoLink), kRunMark)) {
        entry->place = UINT64_MAX;  // a run waiting for its turn changes files last
      }
      entry->state = path_exists(store.path_of(item.name) + "/" + kTakenBack)
                         ? UndoEntry::kTakenBack
                     : path_exists(store.path_of(kSkipped) + "/" + item.name) ? UndoEntry::kSkipped
                                                                              : UndoEntry::kOpen;
      entries.push_back(std::move(*entry));
    }
  }
  std::sort(entries.begin(), entries.end(), is_newer);
  return entries;
}

std::vector<std::size_t> entries_to_let_go(const std::vector<UndoEntry>& others,
                                           const std::vector<std::uint64_t>& sizes) {
  std::uint64_t total = 0;
  for (const std::uint64_t size : sizes) {
    total += size;
  }
  std::size_t count = others.size() + 1;
  std::vector<bool> going(others.size());
  std::vector<std::size_t> gone;
  for (const bool settled_only : {true, false}) {
    for (std::size_t at = others.size(); at-- > 0;) {
      if (count <= kKeptRuns && total <= kKeptBytes) {
        return gone;
      }
      if (!going[at] && (!settled_only || others[at].state != UndoEntry::kOpen)) {
        going[at] = true;
        gone.push_back(at);
        total -= sizes[at];
        --count;
      }
    }
  }
  return gone;
}

bool has_run_to_undo(const OpenStore& store) {
  const std::vector<UndoEntry> entries = undo_entries(store.folder);
  return std::any_of(entries.begin(), entries.end(),
                     [](const UndoEntry& entry) { return entry.state == UndoEntry::kOpen; });
}

bool is_run_going(const Folder& store, const UndoEntry& entry) {
  const Folder folder = store.open_folder(entry.name, Follow::kNoLink);
  return folder.is_open() && is_file_held(folder, kRunMark);
}

EntryRecords read_entry(const OpenStore& store, const UndoEntry& entry) {
  EntryRecords records;
  records.problem = trust_in_store_item(store.folder, entry.name, store.owner);
  if (records.problem.trust != Trust::kPrivate) {
    return records;
  }
  const Folder folder = store.folder.open_folder(entry.name, Follow::kNoLink);
  std::vector<FolderEntry> files;
  if (!folder.is_open() || !folder.list(files)) {
    records.problem = cannot_read(store.folder.path_of(entry.name));
    return records;
  }
  std::vector<KeptCopy> copies;
  for (const FolderEntry& file : files) {
    const bool journal = file.name.starts_with(kJournalPrefix);
    if (!journal && !file.name.starts_with(kLogPrefix)) {
      continue;
    }
    records.problem = trust_in_store_item(folder, file.name, store.owner);
    std::string text;
    if (records.problem.trust == Trust::kPrivate &&
        read_whole_file(folder.path_of(file.name), text, SIZE_MAX / 4) != FileOutcome::kUnchanged) {
      records.problem = cannot_read(folder.path_of(file.name));
    }
    if (records.problem.trust != Trust::kPrivate) {
      return records;
    }
    if (journal) {
      // Up to the first copy not written whole: a run killed while appending it.
      std::string_view rest = text;
      while (auto copy = read_copy(rest)) {
        copies.push_back(std::move(*copy));
      }
    } else {
      read_log(text, records);
    }
  }
  records.copies = last_copy_of_each_file(std::move(copies));
  // A linked copy is the old file itself: one that a program still holding it has written
  // into since is no copy of what the file held.
  for (KeptCopy& copy : records.copies) {
    if (!copy.link.empty() && (read_whole_file(folder.path_of(copy.link), copy.old_bytes,
                                               SIZE_MAX / 4) != FileOutcome::kUnchanged ||
                               copy.old_bytes.size() != copy.old_size ||
                               bytes_digest(copy.old_bytes) != copy.old_digest)) {
      records.problem = {Trust::kAltered, folder.path_of(copy.link), 0, "", {}};
      return records;
    }
  }
  return records;
}

bool UndoLog::record(const std::vector<std::pair<std::uint64_t, Settled>>& files,
                     SystemError& error) {
  if (files.empty()) {
    return true;
  }
  if (!log_.is_open()) {
    const Folder entry = store_.folder.open_folder(entry_, Follow::kNoLink);
    char name[40];
    std::snprintf(name, sizeof name, "%s%016llx", std::string(kLogPrefix).c_str(),
                  static_cast<unsigned long long>(replacement_number()));
    log_ = entry.is_open() ? AppendedFile::create(entry, name, error) : AppendedFile();
    if (!log_.is_open()) {
      if (!entry.is_open()) {
        error = last_system_error();
      }
      return false;
    }
    give_to_owner(entry, name, store_.owner);
    entry.flush();
  }
  std::string text;
  for (const auto& [number, settled] : files) {
    text += settled == Settled::kGivenBack      ? kGivenBackRecord
            : settled == Settled::kChangedSince ? kChangedRecord
                                                : kLeftRecord;
    text += std::to_string(number) + "\n";
  }
  return log_.append(text, "", error);
}

bool mark_entry(const OpenStore& store, const UndoEntry& entry, UndoEntry::State state,
                SystemError& error) {
  const bool skipped = state == UndoEntry::kSkipped;
  if (skipped && !make_folders(store.folder.path_of(kSkipped), error, store.owner)) {
    return false;
  }
  const Folder folder = skipped ? store.folder.open_folder(kSkipped, Follow::kNoLink)
                                : store.folder.open_folder(entry.name, Follow::kNoLink);
  const std::string mark = skipped ? entry.name : kTakenBack;
  if (!folder.is_open()) {
    error = last_system_error();
    return false;
  }
  if (!create_file_flushed(folder, mark, "", error)) {
    return false;
  }
  give_to_owner(folder, mark, store.owner);
  folder.flush();
  return true;
}
