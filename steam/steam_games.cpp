#include "steam/steam_games.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "disk/whole_file.h"
#include "steam/key_values.h"

namespace {

// Steam's text files are kilobytes; a larger one is none of Steam's.
constexpr std::size_t kLargestTextFile = 16 << 20;
// One app's entry in the cache is a few kilobytes, the largest hundreds; its table of key
// names a few megabytes.
constexpr std::uint32_t kLargestApp = 16 << 20;
constexpr std::uint64_t kLargestStringTable = 64 << 20;
// Steam's apps use some tens of thousands of key names.
constexpr std::uint32_t kMostKeyNames = 1 << 20;
// KeyValues nest a few levels: deeper is no app's.
constexpr int kDeepestBlock = 32;

std::optional<std::uint64_t> number_in(std::string_view text) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return number;
}

// A folder name Steam gave, to be taken within steamapps/common and nowhere else.
bool is_plain_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<SteamGame> game_in_manifest(const Folder& steamapps, const std::string& name) {
  std::string text;
  if (read_whole_file(steamapps.path_of(name), text, kLargestTextFile) != FileOutcome::kUnchanged) {
    return std::nullopt;
  }
  const auto value = [&](std::string_view key) {
    return look_up_key_value(text, {"AppState"}, key).value.value_or("");
  };
  const auto appid = number_in(value("appid"));
  const std::string folder = value("installdir");
  if (!appid || *appid == 0 || *appid > UINT32_MAX || !is_plain_name(folder)) {
    return std::nullopt;
  }
  return SteamGame{static_cast<std::uint32_t>(*appid), value("name"),
                   steamapps.path_of("common") + "/" + folder};
}

// A KeyValues block as the cache holds it in binary: each entry a type byte, a key and a
// value; only blocks and texts are kept.
struct Entry {
  std::string key;
  std::string text;
  std::vector<Entry> entries;
  bool is_block = false;
};

const Entry* entry_named(const std::vector<Entry>& entries, std::string_view key) {
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [&](const Entry& entry) { return same_key(entry.key, key); });
  return found == entries.end() ? nullptr : &*found;
}

std::string text_of(const Entry& block, std::string_view key) {
  const Entry* entry = entry_named(block.entries, key);
  return entry == nullptr || entry->is_block ? "" : entry->text;
}

class BinaryKeyValues {
 public:
  BinaryKeyValues(std::string_view data, const std::vector<std::string_view>* strings)
      : data_(data), strings_(strings) {}

  // The entries up to the end of the block (or of the data, at the top); false when they are
  // malformed.
  bool read_block(std::vector<Entry>& entries, int depth) {
    if (depth > kDeepestBlock) {
      return false;
    }
    while (at_ < data_.size()) {
      const auto type = static_cast<unsigned char>(data_[at_++]);
      if (type == 0x08 || type == 0x0B) {
        return true;
      }
      Entry entry;
      if (!read_key(entry.key) || !read_value(type, entry, depth)) {
        return false;
      }
      entries.push_back(std::move(entry));
    }
    return depth == 0;
  }

 private:
  bool read_text(std::string& text) {
    const std::size_t end = data_.find('\0', at_);
    if (end == std::string_view::npos) {
      return false;
    }
    text.assign(data_.substr(at_, end - at_));
    at_ = end + 1;
    return true;
  }
  bool skip(std::size_t bytes) {
    if (data_.size() - at_ < bytes) {
      return false;
    }
    at_ += bytes;
    return true;
  }
  bool read_key(std::string& key) {
    if (strings_ == nullptr) {
      return read_text(key);
    }
    std::uint32_t index = 0;
    if (data_.size() - at_ < 4) {
      return false;
    }
    std::memcpy(&index, data_.data() + at_, 4);  // little-endian, as every Steam machine is
    at_ += 4;
    if (index >= strings_->size()) {
      return false;
    }
    key.assign((*strings_)[index]);
    return true;
  }
  bool skip_wide_text() {
    for (; data_.size() - at_ >= 2; at_ += 2) {
      if (data_[at_] == '\0' && data_[at_ + 1] == '\0') {
        at_ += 2;
        return true;
      }
    }
    return false;
  }
  bool read_value(unsigned char type, Entry& entry, int depth) {
    switch (type) {
      case 0x00:
        entry.is_block = true;
        return read_block(entry.entries, depth + 1);
      case 0x01:
        return read_text(entry.text);
      case 0x02:  // a 32-bit integer, a float, a pointer, a colour
      case 0x03:
      case 0x04:
      case 0x06:
        return skip(4);
      case 0x07:  // 64-bit integers
      case 0x0A:
        return skip(8);
      case 0x05:
        return skip_wide_text();
      default:
        return false;
    }
  }

  std::string_view data_;
  const std::vector<std::string_view>* strings_;
  std::size_t at_ = 0;
};

bool runs_on_windows(const Entry& launch) {
  const Entry* config = entry_named(launch.entries, "config");
  const std::string systems = config == nullptr ? "" : text_of(*config, "oslist");
  if (systems.empty()) {
    return true;
  }
  for (std::size_t at = systems.find_first_of("wW"); at != std::string::npos;
       at = systems.find_first_of("wW", at + 1)) {
    if (same_key(std::string_view(systems).substr(at, 7), "windows")) {
      return true;
    }
  }
  return false;
}

std::uint32_t read_word(const char* bytes) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes, 4);
  return word;
}

// Reads the cache forward through a window of it, so that the many small entries passed over
// cost no call each.
class CacheReader {
 public:
  explicit CacheReader(const PiecewiseFile& file) : file_(file) {}

  // The `size` bytes at `at`, or none past the end or on an error. Valid until the next call.
  std::optional<std::string_view> bytes_at(std::uint64_t at, std::size_t size) {
    if (at > file_.size() || file_.size() - at < size) {
      return std::nullopt;
    }
    if (at < window_at_ || at - window_at_ + size > window_.size()) {
      window_.resize(std::max<std::size_t>(size, kWindow));
      const auto wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), file_.size() - at));
      std::size_t held = 0;
      while (held < wanted) {
        const long long got = file_.read_at(window_.data() + held, wanted - held, at + held);
        if (got <= 0) {
          window_.clear();
          return std::nullopt;
        }
        held += static_cast<std::size_t>(got);
      }
      window_.resize(held);
      window_at_ = at;
    }
    return std::string_view(window_).substr(static_cast<std::size_t>(at - window_at_), size);
  }

 private:
  static constexpr std::size_t kWindow = 256 << 10;
  const PiecewiseFile& file_;
  std::string window_;
  std::uint64_t window_at_ = 0;
};

// Format 29's table of key names: a count, then the names, each ended by NUL.
bool read_string_table(CacheReader& reader, std::uint64_t at, std::uint64_t file_size,
                       std::string& table, std::vector<std::string_view>& strings) {
  if (at >= file_size || file_size - at > kLargestStringTable || file_size - at < 4) {
    return false;
  }
  const auto bytes = reader.bytes_at(at, static_cast<std::size_t>(file_size - at));
  if (!bytes) {
    return false;
  }
  table.assign(*bytes);
  const std::uint32_t count = read_word(table.data());
  if (count > kMostKeyNames) {
    return false;
  }
  std::string_view rest = std::string_view(table).substr(4);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t end = rest.find('\0');
    if (end == std::string_view::npos) {
      return false;
    }
    strings.push_back(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

std::vector<SteamGame> installed_games(const Folder& steamapps) {
  std::vector<FolderEntry> entries;
  std::vector<SteamGame> games;
  if (!steamapps.is_open() || !steamapps.list(entries)) {
    return games;
  }
  for (const FolderEntry& entry : entries) {
    if (entry.kind == EntryKind::kFolder || !entry.name.starts_with("appmanifest_") ||
        !entry.name.ends_with(".acf")) {
      continue;
    }
    if (auto game = game_in_manifest(steamapps, entry.name)) {
      games.push_back(std::move(*game));
    }
  }
  std::sort(games.begin(), games.end(),
            [](const SteamGame& a, const SteamGame& b) { return a.appid < b.appid; });
  return games;
}

std::optional<GameLaunch> windows_launch(std::string_view key_values,
                                         const std::vector<std::string_view>* strings) {
  std::vector<Entry> top;
  BinaryKeyValues reader(key_values, strings);
  if (!reader.read_block(top, 0)) {
    return std::nullopt;
  }
  const Entry* app = entry_named(top, "appinfo");
  const Entry* config = entry_named(app != nullptr ? app->entries : top, "config");
  const Entry* launches = config == nullptr ? nullptr : entry_named(config->entries, "launch");
  if (launches == nullptr) {
    return std::nullopt;
  }
  const Entry* chosen = nullptr;
  for (const Entry& launch : launches->entries) {
    if (!launch.is_block || !runs_on_windows(launch) || text_of(launch, "executable").empty()) {
      continue;
    }
    const std::string type = text_of(launch, "type");
    if (type.empty() || same_key(type, "default")) {
      chosen = &launch;
      break;
    }
    chosen = chosen == nullptr ? &launch : chosen;
  }
  if (chosen == nullptr) {
    return std::nullopt;
  }
  return GameLaunch{text_of(*chosen, "executable"), text_of(*chosen, "arguments"),
                    text_of(*chosen, "workingdir")};
}

// Each entry: its app's number and the size of what follows; then, in that, 40 bytes of
// state, times, token, digest and change number (60 from format 28 on, with a second digest),
// and the app's KeyValues. Number 0 ends the entries.
std::map<std::uint32_t, GameLaunch> launches_in_app_cache(const std::string& path,
                                                          const std::set<std::uint32_t>& apps) {
  std::map<std::uint32_t, GameLaunch> launches;
  const PiecewiseFile file = PiecewiseFile::open(path);
  CacheReader reader(file);
  const auto header = reader.bytes_at(0, 16);
  if (!file.is_open() || apps.empty() || !header) {
    return launches;
  }
  const std::uint32_t format = read_word(header->data());
  if (format != 0x07564427 && format != 0x07564428 && format != 0x07564429) {
    return launches;
  }
  std::uint64_t at = 8;
  std::string table;
  std::vector<std::string_view> strings;
  if (format == 0x07564429) {
    std::uint64_t table_at = 0;
    std::memcpy(&table_at, header->data() + 8, 8);
    if (!read_string_table(reader, table_at, file.size(), table, strings)) {
      return launches;
    }
    at = 16;
  }
  const std::size_t before_data = format == 0x07564427 ? 40 : 60;
  std::map<std::uint32_t, std::string> wanted;
  for (;;) {
    const auto head = reader.bytes_at(at, 8);
    if (!head) {
      break;
    }
    const std::uint32_t appid = read_word(head->data());
    const std::uint32_t size = read_word(head->data() + 4);
    if (appid == 0) {
      break;
    }
    if (apps.count(appid) == 1 && size > before_data && size <= kLargestApp) {
      if (const auto entry = reader.bytes_at(at + 8, size)) {
        wanted[appid].assign(entry->substr(before_data));
      }
    }
    at += 8 + std::uint64_t{size};
  }
  for (const auto& [appid, key_values] : wanted) {
    if (auto launch = windows_launch(key_values, strings.empty() ? nullptr : &strings)) {
      launches[appid] = std::move(*launch);
    }
  }
  return launches;
}

void add_launch_options(GameLaunch& launch, std::string_view options) {
  constexpr std::string_view kCommand = "%command%";
  const std::size_t command = options.find(kCommand);
  const std::string_view added =
      command == std::string_view::npos ? options : options.substr(command + kCommand.size());
  const std::size_t start = added.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    return;
  }
  if (!launch.arguments.empty()) {
    launch.arguments += ' ';
  }
  launch.arguments.append(added.substr(start));
}

namespace {

// Takes the user marked as the one who logged in last.
class LoginUsers : public KeyValuesReader {
 public:
  void text_value(std::size_t depth, std::string_view key, std::string&& value) override {
    if (depth == 1 && same_key(key, "MostRecent") && value == "1" && !most_recent_) {
      most_recent_ = user_;
    }
  }
  void block_begins(std::size_t depth, std::string_view key) override {
    if (depth == 0) {
      user_ = std::string(key);
    }
  }
  std::optional<std::string> most_recent_;

 private:
  std::string user_;
};

// Takes one text value of each app's block, by the app's number.
class AppValues : public KeyValuesReader {
 public:
  explicit AppValues(std::string_view key) : key_(key) {}
  void text_value(std::size_t depth, std::string_view key, std::string&& value) override {
    if (depth == 1 && app_ && same_key(key, key_)) {
      values_[*app_] = std::move(value);
    }
  }
  void block_begins(std::size_t depth, std::string_view key) override {
    if (depth == 0) {
      const auto number = number_in(key);
      app_ = number && *number <= UINT32_MAX ? std::optional(static_cast<std::uint32_t>(*number))
                                             : std::nullopt;
    }
  }
  std::map<std::uint32_t, std::string> values_;

 private:
  std::string_view key_;
  std::optional<std::uint32_t> app_;
};

}  // namespace

// Steam names a user by a 64-bit id in loginusers.vdf, and their folder in userdata by its low
// 32 bits, the account's number.
std::map<std::uint32_t, std::string> players_launch_options(const std::string& steam_folder) {
  std::string text;
  LoginUsers users;
  if (read_whole_file(join_path(steam_folder, "/config/loginusers.vdf"), text, kLargestTextFile) !=
          FileOutcome::kUnchanged ||
      !read_key_values(text, {"users"}, users) || !users.most_recent_) {
    return {};
  }
  const auto id = number_in(*users.most_recent_);
  if (!id) {
    return {};
  }
  const std::string account = std::to_string(*id & 0xFFFFFFFFu);
  AppValues config("LaunchOptions");
  if (read_whole_file(join_path(steam_folder, "/userdata/" + account + "/config/localconfig.vdf"),
                      text, kLargestTextFile) != FileOutcome::kUnchanged) {
    return {};
  }
  read_key_values(text, {"UserLocalConfigStore", "Software", "Valve", "Steam", "apps"}, config);
  return std::move(config.values_);
}

std::set<std::uint32_t> games_run_by_other_tools(const std::string& steam_folder) {
  std::string text;
  AppValues tools("name");
  if (read_whole_file(join_path(steam_folder, "/config/config.vdf"), text, kLargestTextFile) !=
      FileOutcome::kUnchanged) {
    return {};
  }
  read_key_values(text, {"InstallConfigStore", "Software", "Valve", "Steam", "CompatToolMapping"},
                  tools);
  std::set<std::uint32_t> games;
  for (const auto& [app, tool] : tools.values_) {
    if (!tool.empty() && !same_key(std::string_view(tool).substr(0, 6), "proton")) {
      games.insert(app);
    }
  }
  return games;
}
