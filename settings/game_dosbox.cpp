#include "settings/game_dosbox.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "disk/folder.h"
#include "disk/whole_file.h"
#include "settings/dosbox_properties.h"

namespace {

// A DOSBox program is a few megabytes; its marks lie in its data, well within this.
constexpr std::uint64_t kLongestRead = 64 << 20;
// A game's configuration file is kilobytes.
constexpr std::size_t kLargestConfiguration = 16 << 20;

struct BuildMark {
  std::string_view mark;
  std::string_view name;  // empty: a fork of DOSBox, whose table is not DOSBox's
};

// The name each build gives its configuration file, compiled into its program; and words only
// forks of DOSBox 0.74 hold (SVN-Daum, ECE, the builds with Glide), which keep 0.74's name.
constexpr std::array<BuildMark, 8> kMarks = {{
    {"dosbox-0.74.conf", "DOSBox 0.74"},
    {"dosbox-0.74-2.conf", "DOSBox 0.74-2"},
    {"dosbox-0.74-3.conf", "DOSBox 0.74-3"},
    {"dosbox-staging.conf", ""},
    {"dosbox-x.conf", ""},
    {"SVN-Daum", ""},
    {"DOSBox ECE", ""},
    {"glide", ""},
}};

std::optional<ShippedBuild> build_marked(const std::vector<bool>& found) {
  std::optional<ShippedBuild> build;
  for (std::size_t i = 0; i < kMarks.size(); ++i) {
    if (!found[i]) {
      continue;
    }
    if (kMarks[i].name.empty() || build) {
      return std::nullopt;  // a fork, or two builds' marks
    }
    build = ShippedBuild{0, std::string(kMarks[i].name)};
  }
  return build;
}

// The path's names relative to the game's folder, from `base` (names within it); none when it
// is a full path or climbs out of the game's folder.
std::optional<std::vector<std::string>> names_within(std::vector<std::string> base,
                                                     std::string_view path) {
  if (path.starts_with('\\') || path.starts_with('/') || (path.size() >= 2 && path[1] == ':')) {
    return std::nullopt;
  }
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find_first_of("\\/", start);
    end = end == std::string_view::npos ? path.size() : end;
    const std::string_view name = path.substr(start, end - start);
    if (name == "..") {
      if (base.empty()) {
        return std::nullopt;
      }
      base.pop_back();
    } else if (!name.empty() && name != ".") {
      base.emplace_back(name);
    }
    start = end + 1;
  }
  return base;
}

// The path of what the names lead to below the folder, each name matched as Windows matches
// it, without regard to case; none when a name leads nowhere.
std::optional<std::string> find_ignoring_case(const std::string& folder,
                                              const std::vector<std::string>& names) {
  std::string path = folder;
  for (const std::string& name : names) {
    std::vector<FolderEntry> entries;
    const Folder here = Folder::open(path);
    if (!here.is_open() || !here.list(entries)) {
      return std::nullopt;
    }
    const auto exact = std::find_if(entries.begin(), entries.end(),
                                    [&](const FolderEntry& entry) { return entry.name == name; });
    const auto found =
        exact != entries.end()
            ? exact
            : std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) {
                return lower_case(e.name) == lower_case(name);
              });
    if (found == entries.end()) {
      return std::nullopt;
    }
    path = here.path_of(found->name);
  }
  return path;
}

ReadConfiguration read_configuration(const std::string& path) {
  std::string text;
  const bool read = read_whole_file(path, text, kLargestConfiguration) == FileOutcome::kUnchanged;
  return {path, read ? std::optional(std::move(text)) : std::nullopt};
}

// What the game's files give each setting, as DOSBox reads them in order: by section and
// name in lower case, the last value.
struct GameValues {
  std::map<std::pair<std::string, std::string>, std::string> values;
  // Headers that look like a section's but are no section to DOSBox, told as they are.
  std::vector<std::string> misread_headers;

  const std::string* find(const std::string& section, const std::string& name) const {
    const auto found = values.find({section, name});
    return found == values.end() ? nullptr : &found->second;
  }
};

GameValues values_in(const std::vector<ReadConfiguration>& configurations) {
  GameValues game;
  for (const ReadConfiguration& file : configurations) {
    if (!file.text) {
      continue;
    }
    std::string section;
    std::size_t number = 0;
    const std::string name = file.path.substr(file.path.find_last_of("/\\") + 1);
    for_each_line_dosbox_reads(*file.text, [&](std::string_view line) {
      ++number;
      const auto header = dosbox_header(line);
      if (header && !header->empty()) {
        section = *header;
      } else if (header) {
        const std::string_view inside = line.substr(1, line.find(']') - 1);
        if (dosbox_has_section(lower_case(trim_setting_text(inside)))) {
          game.misread_headers.push_back(
              name + ":" + std::to_string(number) + ": DOSBox reads no section from " +
              std::string(line.substr(0, inside.size() + 2)) + ", and keeps the lines after it " +
              (section.empty() ? "out of every section" : "in [" + section + "]"));
        }
      } else if (const auto setting = split_setting_line(line); setting && !section.empty()) {
        game.values[{section, lower_case(setting->name)}] = std::string(setting->value);
      }
    });
  }
  return game;
}

bool is_true(std::string_view value) {
  const std::string word = lower_case(value);
  return word == "true" || word == "1" || word == "on" || word == "yes" || word == "enabled";
}

std::string listed(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    list += (list.empty() ? "" : ", ") + name;
  }
  return list;
}

// The names joined as a Windows path relative to the game's folder ("." for the folder).
std::string windows_path(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) {
    path += (path.empty() ? "" : "\\") + name;
  }
  return path.empty() ? "." : path;
}

// JSON, as much as a goggame info file needs: objects, arrays, texts, and the rest skipped.
// Nesting is bounded; texts keep \uXXXX escapes below 0x80 only, as paths need no more.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  struct Value {
    std::string text;                // a text's, or "true"/"false"
    std::vector<std::string> names;  // an object's, beside their values in `items`
    std::vector<Value> items;
    const Value* member(std::string_view name) const {
      const auto found = std::find(names.begin(), names.end(), name);
      return found == names.end() ? nullptr
                                  : &items[static_cast<std::size_t>(found - names.begin())];
    }
  };

  bool read(Value& value, int depth = 0) {
    skip_blanks();
    if (at_ >= text_.size() || depth > 32) {
      return false;
    }
    const char c = text_[at_];
    if (c == '"') {
      return read_text(value.text);
    }
    if (c == '{' || c == '[') {
      const char end = c == '{' ? '}' : ']';
      ++at_;
      for (bool first = true;; first = false) {
        skip_blanks();
        if (at_ < text_.size() && text_[at_] == end) {
          ++at_;
          return true;
        }
        if (!first && !take(',')) {
          return false;
        }
        if (c == '{') {
          std::string key;
          skip_blanks();
          if (!read_text(key) || !take(':')) {
            return false;
          }
          value.names.push_back(std::move(key));
        }
        if (!read(value.items.emplace_back(), depth + 1)) {
          return false;
        }
      }
    }
    const std::size_t start = at_;
    while (at_ < text_.size() && std::string_view(",}] \t\r\n").find(text_[at_]) == npos) {
      ++at_;
    }
    value.text = text_.substr(start, at_ - start);
    return at_ > start;
  }

 private:
  static constexpr std::size_t npos = std::string_view::npos;
  void skip_blanks() {
    while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != npos) {
      ++at_;
    }
  }
  bool take(char c) {
    skip_blanks();
    if (at_ >= text_.size() || text_[at_] != c) {
      return false;
    }
    ++at_;
    return true;
  }
  bool read_text(std::string& out) {
    if (!take('"')) {
      return false;
    }
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\' && at_ < text_.size()) {
        c = text_[at_++];
        if (c == 'u') {
          unsigned code = 0;
          if (text_.size() - at_ < 4 ||
              std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16).ptr !=
                  text_.data() + at_ + 4) {
            return false;
          }
          at_ += 4;
          c = code < 0x80 ? static_cast<char>(code) : '?';
        } else if (c == 'n' || c == 't' || c == 'r') {
          c = c == 'n' ? '\n' : c == 't' ? '\t' : '\r';
        }
      }
      out += c;
    }
    return take('"');
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Takes a word off the front of a batch file's line, as cmd.exe splits it: quotes hold blanks.
std::string take_batch_word(std::string_view& line) {
  line = trim_setting_text(line);
  std::string word;
  bool quoted = false;
  std::size_t at = 0;
  for (; at < line.size() && (quoted || (line[at] != ' ' && line[at] != '\t')); ++at) {
    if (line[at] == '"') {
      quoted = !quoted;
    } else {
      word += line[at];
    }
  }
  line = trim_setting_text(line.substr(at));
  return word;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && lower_case(text.substr(0, start.size())) == start;
}

// A path in a batch file: from the game's folder after "%~dp0", else from the working folder.
std::optional<std::vector<std::string>> batch_path(const std::vector<std::string>& working,
                                                   std::string_view path) {
  if (starts_with_ignoring_case(path, "%~dp0")) {
    return names_within({}, path.substr(5));
  }
  return names_within(working, path);
}

}  // namespace

std::optional<ShippedBuild> build_of_program(const std::string& path) {
  const PiecewiseFile file = PiecewiseFile::open(path);
  if (!file.is_open()) {
    return std::nullopt;
  }
  constexpr std::size_t kOverlap = 32;  // longer than any mark
  std::vector<bool> found(kMarks.size(), false);
  std::string piece(kPiece + kOverlap, '\0');
  std::size_t kept = 0;  // the end of the piece before, where a mark may begin
  const std::uint64_t end = std::min(file.size(), kLongestRead);
  for (std::uint64_t at = 0; at < end;) {
    const long long got = file.read_at(piece.data() + kept, kPiece, at);
    if (got <= 0) {
      return std::nullopt;
    }
    const std::string_view bytes(piece.data(), kept + static_cast<std::size_t>(got));
    for (std::size_t i = 0; i < kMarks.size(); ++i) {
      found[i] = found[i] || bytes.find(kMarks[i].mark) != std::string_view::npos;
    }
    at += static_cast<std::uint64_t>(got);
    kept = std::min(kOverlap, bytes.size());
    std::copy(bytes.end() - static_cast<std::ptrdiff_t>(kept), bytes.end(), piece.begin());
  }
  return build_marked(found);
}

std::optional<ShippedBuild> build_of_first_line(std::string_view text) {
  constexpr std::string_view kStart = "# This is the configuration file for DOSBox ";
  const std::string_view line = trim_setting_text(text.substr(0, text.find('\n')));
  if (!line.starts_with(kStart)) {
    return std::nullopt;
  }
  const std::string_view rest = line.substr(kStart.size());
  for (const std::string_view version : {"0.74", "0.74-2", "0.74-3"}) {
    if (rest.starts_with(version) && rest.substr(version.size()).starts_with('.') &&
        (rest.size() == version.size() + 1 || rest.substr(version.size() + 1).starts_with(" ("))) {
      return ShippedBuild{0, "DOSBox " + std::string(version)};
    }
  }
  return std::nullopt;
}

std::vector<std::string> command_line_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, in_word = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
      }
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) {
    words.push_back(std::move(word));
  }
  return words;
}

// DOSBox's command line, as 0.74 reads it: each "-conf FILE" in order, relative to the working
// folder; "-fullscreen" and "-machine TYPE" set a property; with no "-conf", the dosbox.conf of
// the working folder where there is one (else the player's own, outside the game).
std::optional<DosboxStart> dosbox_start(const GameStart& start) {
  const auto program_names = names_within({}, start.program);
  if (!program_names || program_names->empty()) {
    return std::nullopt;
  }
  const auto program = find_ignoring_case(start.folder, *program_names);
  if (!names_a_dosbox(program_names->back()) || !program) {
    return std::nullopt;
  }
  const std::vector<std::string> program_folder(program_names->begin(), program_names->end() - 1);
  const auto working = start.working_folder.empty() ? std::optional(program_folder)
                                                    : names_within({}, start.working_folder);
  if (!working) {
    return std::nullopt;
  }
  DosboxStart dosbox;
  bool conf_given = false;
  const std::vector<std::string> words = command_line_words(start.arguments);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string word = lower_case(words[i]);
    const bool has_next = i + 1 < words.size();
    if (word == "-conf" && has_next) {
      conf_given = true;
      const auto names = names_within(*working, words[++i]);
      const auto path = names ? find_ignoring_case(start.folder, *names) : std::nullopt;
      if (path) {
        dosbox.configurations.push_back(read_configuration(*path));
      }
    } else if (word == "-userconf") {
      dosbox.reads_user_configuration = true;
    } else if (word == "-fullscreen") {
      dosbox.switches.push_back({"fullscreen", "true", words[i]});
    } else if ((word == "-machine" || word == "-scaler" || word == "-forcescaler") && has_next) {
      const std::string name = word == "-machine" ? "machine" : "scaler";
      const std::string forced = word == "-forcescaler" ? " forced" : "";
      dosbox.switches.push_back({name, words[i + 1] + forced, words[i] + " " + words[i + 1]});
      ++i;
    } else if ((word == "-c" || word == "-userconf_path") && has_next) {
      ++i;  // a DOS command, not a switch
    }
  }
  if (!conf_given && !dosbox.reads_user_configuration) {
    std::vector<std::string> names = *working;
    names.emplace_back("dosbox.conf");
    if (const auto path = find_ignoring_case(start.folder, names)) {
      dosbox.configurations.push_back(read_configuration(*path));
    }
  }
  auto build = build_of_program(*program);
  if (!build && !dosbox.configurations.empty() && dosbox.configurations.front().text) {
    build = build_of_first_line(*dosbox.configurations.front().text);
  }
  if (!build) {
    return std::nullopt;
  }
  dosbox.build = std::move(*build);
  dosbox.starter = start.starter;
  return dosbox;
}

GameJudgement judge_game(const DosboxStart& start, const SettingTable& reference,
                         const std::vector<SectionSetting>& kept, bool adding) {
  GameJudgement judged;
  const GameValues game = values_in(start.configurations);
  const bool mends_some = std::any_of(
      start.configurations.begin(), start.configurations.end(),
      [](const ReadConfiguration& file) { return file.text && file.path.ends_with(".conf"); });
  for (const auto& [name, value] : reference) {
    if (value.empty()) {
      continue;
    }
    const std::string lower_name = lower_case(name);
    const auto& known = properties_named(lower_name);
    const auto in_build = std::find_if(known.begin(), known.end(), [&](const KnownProperty& k) {
      return k.build == start.build.table;
    });
    if (in_build == known.end()) {
      judged.unknown.push_back(name);
      continue;
    }
    const DosboxProperty* property = in_build->property;
    if (!takes_value(*property, value)) {
      judged.withheld.push_back(name);
      const std::string* own = game.find(lower_case(property->section), lower_name);
      judged.lines.push_back("its " + start.build.name + " does not take " + name + "=" + value +
                             "; the game keeps " + property->name + "=" +
                             (own != nullptr ? *own : property->default_value) + ".");
    }
  }
  for (const DosboxStart::Switch& given : start.switches) {
    const auto setting = std::find_if(reference.begin(), reference.end(), [&](const auto& entry) {
      return lower_case(entry.first) == given.name && !entry.second.empty();
    });
    if (setting == reference.end()) {
      continue;
    }
    const bool differs = given.name == "fullscreen"
                             ? is_true(setting->second) != is_true(given.value)
                             : lower_case(setting->second) != lower_case(given.value);
    if (differs) {
      judged.lines.push_back(start.starter + " starts it with " + given.words +
                             ", which wins over " + setting->first + "=" + setting->second + ".");
    }
  }
  if (!mends_some) {
    // What it does not take matters no more than the rest: none of it is read.
    judged.lines = {start.reads_user_configuration
                        ? "its DOSBox reads your own DOSBox configuration (-userconf), none of "
                          "the files confmend mends."
                        : "its DOSBox reads none of the files confmend mends."};
    return judged;
  }
  judged.reads_mended_files = true;
  for (const std::string& header : game.misread_headers) {
    judged.lines.push_back(header + ".");
  }
  std::vector<std::string> unset;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const SectionSetting& setting = kept[k];
    const auto is = [&](const std::vector<std::string>& names) {
      return std::find(names.begin(), names.end(), setting.name) != names.end();
    };
    const bool switched =
        std::any_of(start.switches.begin(), start.switches.end(),
                    [&](const DosboxStart::Switch& s) { return s.name == setting.lower_name; });
    if (setting.may_add && !is(judged.withheld) && !is(judged.unknown) && !switched &&
        game.find(setting.section, setting.lower_name) == nullptr) {
      unset.push_back(setting.name);
      judged.lacking.push_back(k);
    }
  }
  if (!unset.empty() && !adding) {
    const std::string them = unset.size() == 1 ? "it" : "them";
    judged.lines.push_back(
        listed(unset) + (unset.size() == 1 ? " is" : " are") + " set in none of the " +
        (start.reads_user_configuration
             ? "game's files it starts with, so your own DOSBox configuration (-userconf) gives " +
                   them + " (--add-missing adds " + them + ")."
             : "files it starts with (--add-missing adds " + them + ")."));
  }
  return judged;
}

bool names_a_dosbox(std::string_view program) {
  const std::size_t last = program.find_last_of("\\/");
  const std::string name =
      lower_case(program.substr(last == std::string_view::npos ? 0 : last + 1));
  return name.starts_with("dosbox") && name.ends_with(".exe");
}

std::optional<GameStart> start_in_gog_info(std::string_view text) {
  JsonReader::Value info;
  if (!JsonReader(text).read(info)) {
    return std::nullopt;
  }
  const JsonReader::Value* tasks = info.member("playTasks");
  if (tasks == nullptr) {
    return std::nullopt;
  }
  for (const JsonReader::Value& task : tasks->items) {
    const JsonReader::Value* primary = task.member("isPrimary");
    const JsonReader::Value* path = task.member("path");
    if (primary != nullptr && primary->text == "true" && path != nullptr) {
      const auto text_of = [&](std::string_view name) {
        const JsonReader::Value* member = task.member(name);
        return member == nullptr ? std::string() : member->text;
      };
      return GameStart{"", path->text, text_of("arguments"), text_of("workingDir")};
    }
  }
  return std::nullopt;
}

std::optional<GameStart> start_in_batch_file(std::string_view text) {
  std::vector<std::string> working;
  std::vector<std::vector<std::string>> pushed;
  std::optional<GameStart> start;
  bool left = false;
  for_each_trimmed_line(text, [&](std::string_view line) {
    if (start || left) {
      return;
    }
    line = line.starts_with('@') ? line.substr(1) : line;
    const std::string command = lower_case(take_batch_word(line));
    if (command == "cd" || command == "chdir" || command == "pushd") {
      if (starts_with_ignoring_case(line, "/d ")) {
        line.remove_prefix(3);
      }
      const std::string folder = take_batch_word(line);
      if (command == "pushd") {
        pushed.push_back(working);
      }
      if (!folder.empty()) {
        const auto names = batch_path(working, folder);
        left = !names;
        working = names.value_or(working);
      }
      return;
    }
    if (command == "popd" && !pushed.empty()) {
      working = pushed.back();
      pushed.pop_back();
      return;
    }
    std::string program = command == "start" ? "" : command;
    if (command == "start") {
      // start ["title"] [/wait /b /min ...] program arguments
      if (line.starts_with('"')) {
        take_batch_word(line);
      }
      while (line.starts_with('/')) {
        take_batch_word(line);
      }
      program = take_batch_word(line);
    }
    // cmd.exe finds "dosbox" as dosbox.exe.
    const std::size_t last = program.find_last_of("\\/");
    if (!names_a_dosbox(program) && lower_case(std::string_view(program).substr(
                                        last == std::string::npos ? 0 : last + 1)) != "dosbox") {
      return;
    }
    const auto names = batch_path(working, program);
    if (!names) {
      left = true;
      return;
    }
    // "%~dp0" in the arguments is the game's folder, seen from the working folder.
    std::string arguments(line), up;
    for (std::size_t i = 0; i < working.size(); ++i) {
      up += "..\\";
    }
    for (std::size_t at = 0; (at = lower_case(arguments).find("%~dp0", at)) != std::string::npos;) {
      arguments.replace(at, 5, up);
      at += up.size();
    }
    std::string path = windows_path(*names);
    if (!names_a_dosbox(path)) {
      path += ".exe";
    }
    start = GameStart{"", path, arguments, windows_path(working)};
  });
  return left ? std::nullopt : start;
}

std::optional<GameStart> start_in_game_folder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  const Folder game = Folder::open(folder);
  if (!game.is_open() || !game.list(entries)) {
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const bool batch : {false, true}) {
    std::optional<GameStart> found;
    for (const FolderEntry& entry : entries) {
      const std::string name = lower_case(entry.name);
      const bool wanted = batch ? name.ends_with(".bat") || name.ends_with(".cmd")
                                : name.starts_with("goggame-") && name.ends_with(".info");
      std::string text;
      if (entry.kind == EntryKind::kFolder || !wanted ||
          read_whole_file(game.path_of(entry.name), text, kLargestConfiguration) !=
              FileOutcome::kUnchanged) {
        continue;
      }
      auto start = batch ? start_in_batch_file(text) : start_in_gog_info(text);
      if (!start || !names_a_dosbox(start->program)) {
        continue;
      }
      if (found && (found->program != start->program || found->arguments != start->arguments ||
                    found->working_folder != start->working_folder)) {
        return std::nullopt;  // several, started differently: which one the player uses is unknown
      }
      if (!found) {
        start->starter = entry.name;
      }
      found = found ? found : std::move(start);
    }
    if (found) {
      found->folder = folder;
      return found;
    }
  }
  return std::nullopt;
}
