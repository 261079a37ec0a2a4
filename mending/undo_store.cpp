#include "mending/undo_store.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "disk/file_writing.h"
#include "disk/store_files.h"
#include "disk/whole_file.h"

namespace {

constexpr std::string_view kCopyHeader = "confmend undo copy 1\n";
constexpr std::string_view kEntryPrefix = "run-";
constexpr const char* kTakenBack = "taken-back";

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

// "run-", when it was made (UTC, to the microsecond: names sort by age) and a random number,
// so that two runs at once make two entries.
std::string new_entry_name() {
  using namespace std::chrono;
  const auto now = floor<microseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char name[80];
  std::snprintf(name, sizeof name, "run-%04d%02u%02uT%02ld%02ld%02ld.%06ld-%016llx",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()),
                static_cast<long>(time.subseconds().count()),
                static_cast<unsigned long long>(replacement_number()));
  return name;
}

std::vector<std::string> entry_names(const Folder& store) {
  std::vector<FolderEntry> entries;
  std::vector<std::string> names;
  if (store.list(entries)) {
    for (const FolderEntry& entry : entries) {
      if (entry.kind == EntryKind::kFolder && entry.name.starts_with(kEntryPrefix)) {
        names.push_back(entry.name);
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// What stands before a copy's old bytes: where the file was, its identity, what it was given.
std::string copy_header(std::uint64_t number, const std::string& tree, const std::string& path,
                        const Folder& folder, const std::string& name, std::string_view old_bytes,
                        std::string_view new_bytes) {
  const FileIdentity identity = folder.identity().value_or(FileIdentity{});
  std::string text(kCopyHeader);
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
  if (!text.starts_with(kCopyHeader)) {
    return std::nullopt;
  }
  text.remove_prefix(kCopyHeader.size());
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
  if (!number || !tree || !path || !folder || !name || !identity || !written || !old) {
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
      std::sscanf(std::string(*old).c_str(), "%llu %llu", &old_size, &old_digest) != 2 ||
      text.size() < old_size || bytes_digest(text.substr(0, old_size)) != old_digest) {
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
  copy.old_bytes = std::string(text.substr(0, old_size));
  text.remove_prefix(old_size);
  return copy;
}

std::string journal_name(std::size_t number) {
  return "journal-" + std::to_string(number);
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

bool UndoStore::make_entry(SystemError& error) {
  const std::lock_guard<std::mutex> hold(making_);
  if (entry_) {
    return true;
  }
  if (entry_error_) {
    error = entry_error_;
    return false;
  }
  if (folder_.empty()) {
    entry_error_ = SystemError{2};  // no home folder: ENOENT, ERROR_FILE_NOT_FOUND alike
    error = entry_error_;
    return false;
  }
  const Folder store = make_folders(folder_, entry_error_) ? Folder::open(folder_) : Folder();
  const std::string name = new_entry_name();
  if (store.is_open() && make_folders(store.path_of(name), entry_error_)) {
    Folder entry = store.open_folder(name, Follow::kNoLink);
    if (entry.is_open()) {
      store.flush();
      // The oldest go, beyond the last kKeptRuns with this one.
      const std::vector<std::string> names = entry_names(store);
      for (std::size_t at = 0; at + kKeptRuns < names.size(); ++at) {
        remove_folder_tree(store, names[at]);
      }
      entry_ = std::move(entry);
      return true;
    }
    entry_error_ = last_system_error();
  }
  if (!entry_error_) {
    entry_error_ = last_system_error();
  }
  error = entry_error_;
  return false;
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
  AppendedFile journal = AppendedFile::create(*entry_, journal_name(number), error);
  if (journal.is_open()) {
    entry_->flush();  // its name lasts from now on; its records are flushed with it
  }
  return journal;
}

void UndoStore::give_back(AppendedFile journal) {
  const std::lock_guard<std::mutex> hold(journals_);
  free_journals_.push_back(std::move(journal));
}

bool UndoStore::keep(const std::string& tree, const std::string& path, const Folder& folder,
                     const std::string& name, std::string_view old_bytes,
                     std::string_view new_bytes, SystemError& error) {
  if (!make_entry(error)) {
    return false;
  }
  AppendedFile journal = take_journal(error);
  if (!journal.is_open()) {
    return false;
  }
  const std::string header = copy_header(++copies_, tree, path, folder, name, old_bytes, new_bytes);
  const bool kept = journal.append(header, old_bytes, error);
  give_back(std::move(journal));
  return kept;
}

std::vector<UndoEntry> undo_entries(const std::string& store) {
  const Folder folder = Folder::open(store);
  std::vector<UndoEntry> entries;
  const std::vector<std::string> names = entry_names(folder);
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    entries.push_back({*name, path_exists(folder.path_of(*name) + "/" + kTakenBack)});
  }
  return entries;
}

std::vector<KeptCopy> kept_copies(const std::string& store, const std::string& entry) {
  const Folder folder = Folder::open(store).open_folder(entry, Follow::kNoLink);
  std::vector<FolderEntry> entries;
  std::vector<KeptCopy> copies;
  if (!folder.is_open() || !folder.list(entries)) {
    return copies;
  }
  for (const FolderEntry& found : entries) {
    std::string text;
    if (found.kind != EntryKind::kFile || !found.name.starts_with("journal-") ||
        read_whole_file(folder.path_of(found.name), text, SIZE_MAX / 4) != ReadResult::kRead) {
      continue;
    }
    // Up to the first copy not written whole: a run killed while appending it.
    std::string_view rest = text;
    while (auto copy = read_copy(rest)) {
      copies.push_back(std::move(*copy));
    }
  }
  std::sort(copies.begin(), copies.end(),
            [](const KeptCopy& a, const KeptCopy& b) { return a.number < b.number; });
  return copies;
}

bool mark_taken_back(const std::string& store, const std::string& entry, SystemError& error) {
  const Folder folder = Folder::open(store).open_folder(entry, Follow::kNoLink);
  if (!folder.is_open()) {
    error = last_system_error();
    return false;
  }
  if (!create_file_flushed(folder, kTakenBack, "", error)) {
    return false;
  }
  folder.flush();
  return true;
}
