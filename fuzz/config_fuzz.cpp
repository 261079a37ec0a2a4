// A configuration file, mended against a reference taken from the same input (its first half;
// the file is the second). The promises checked: the result holds no CR and no NUL and ends
// every line with one LF; every line that is not a replaced setting keeps its trimmed text,
// and every replaced one is exactly its name, "=" and the reference value; mending the
// result again changes nothing; and a file holding NUL is left exactly as it was. With the
// settings DOSBox keeps in sections, looked for only the text is the same; added, every line
// is still ended by one LF, each line in stays, in order, and adding again adds nothing.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/folder.h"
#include "fuzz/fuzz_target.h"
#include "mending/config_rewriter.h"
#include "settings/missing_settings.h"
#include "settings/reference_settings.h"
#include "settings/setting_line.h"

namespace {

std::string mended(const MendingRules& rules, std::string_view text) {
  TextAccumulator accumulator;
  mend_config_text(rules, text, accumulator);
  FUZZ_EXPECT(!accumulator.failed(), "memory for the new text");
  return std::string(accumulator.text(), accumulator.size());
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The lines as a user reads them, worked out byte by byte, apart from the program's own
// splitting: each ends at LF, or at CR where the text holds no LF, and a CR left inside a
// line once its blanks are gone ends a line too.
std::vector<std::string> expected_lines(std::string_view text) {
  const bool has_lf = text.find('\n') != std::string_view::npos;
  std::vector<std::string> lines;
  std::string line;
  auto finish = [&] {
    std::size_t begin = 0, end = line.size();
    while (begin < end && is_blank(line[begin])) {
      ++begin;
    }
    while (end > begin && is_blank(line[end - 1])) {
      --end;
    }
    std::string piece;
    for (std::size_t i = begin; i < end; ++i) {
      if (line[i] == '\r') {
        lines.push_back(std::string(trim_setting_text(piece)));
        piece.clear();
      } else {
        piece += line[i];
      }
    }
    lines.push_back(std::string(trim_setting_text(piece)));
    line.clear();
  };
  for (const char c : text) {
    if (c == (has_lf ? '\n' : '\r')) {
      finish();
    } else {
      line += c;
    }
  }
  if (!line.empty()) {
    finish();
  }
  return lines;
}

std::string file_after_rewrite(const SettingTable& reference, std::string_view text) {
  const std::string path = scratch_folder() + "/game.conf";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_EXPECT(file != nullptr, "the file can be written");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  static const Folder folder = Folder::open(scratch_folder());
  RewrittenFile rewritten;
  rewrite_config_file(reference, folder, "game.conf", MendingMode::kWrite, rewritten);
  std::string bytes;
  file = std::fopen(path.c_str(), "rb");
  FUZZ_EXPECT(file != nullptr, "the file is still there");
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    bytes.append(buffer, got);
  }
  std::fclose(file);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const SettingTable reference = reference_settings_from_text(input.substr(0, size / 2));
  const std::string_view text = input.substr(size / 2);

  if (text.find('\0') != std::string_view::npos) {
    FUZZ_EXPECT(file_after_rewrite(reference, text) == text, "a text with NUL is left alone");
    return 0;
  }
  const std::string once = mended(reference, text);
  FUZZ_EXPECT(once.find_first_of(std::string("\r\0", 2)) == std::string::npos,
              "no CR and no NUL in the result");
  FUZZ_EXPECT(once.empty() || once.back() == '\n', "the last line ends with LF");
  FUZZ_EXPECT(mended(reference, once) == once, "mending is idempotent");
  FUZZ_EXPECT(file_after_rewrite(reference, text) == once, "the file holds the mended text");

  const std::vector<std::string> before = expected_lines(text);
  std::vector<std::string> after;
  for (std::size_t start = 0; start < once.size();) {
    const std::size_t end = once.find('\n', start);
    after.push_back(once.substr(start, end - start));
    start = end + 1;
  }
  FUZZ_EXPECT(after.size() == before.size(), "one line out for every line in");

  const std::vector<SectionSetting> kept =
      settings_kept_in_sections(decoded_reference_text(input.substr(0, size / 2)), reference);
  MendingRules rules(reference);
  rules.kept_in_sections = &kept;
  FUZZ_EXPECT(mended(rules, text) == once, "looking for what is missing changes nothing");
  rules.add_missing = true;
  const std::string added = mended(rules, text);
  FUZZ_EXPECT(added.find_first_of(std::string("\r\0", 2)) == std::string::npos &&
                  (added.empty() || added.back() == '\n'),
              "added lines end as every line does");
  FUZZ_EXPECT(mended(rules, added) == added, "adding again adds nothing");
  std::size_t kept_lines = 0;
  for (std::size_t start = 0; start < added.size() && kept_lines < after.size();) {
    const std::size_t end = added.find('\n', start);
    const std::string line = added.substr(start, end - start);
    const auto name = setting_name(after[kept_lines]);
    // A line kept, or the same line with its value given in another case's section, or parted
    // before its Ctrl+Z for what is added after it.
    const bool parted = after[kept_lines].find('\x1a') != std::string::npos && !line.empty() &&
                        after[kept_lines].starts_with(line);
    if (line == after[kept_lines] || parted ||
        (name && setting_name(line) == name && line.starts_with(std::string(*name) + "="))) {
      ++kept_lines;
    }
    start = end + 1;
  }
  FUZZ_EXPECT(kept_lines == after.size(), "every line in stays, in order");
  static const std::string no_value;
  for (std::size_t i = 0; i < before.size(); ++i) {
    // A line is read up to its first Ctrl+Z, and what follows it is kept.
    const std::size_t mark = std::min(before[i].find('\x1a'), before[i].size());
    const auto name = setting_name(std::string_view(before[i]).substr(0, mark));
    const std::string& value = name ? lookup_setting(reference, *name, no_value) : no_value;
    if (value.empty()) {
      FUZZ_EXPECT(after[i] == before[i], "a line that is no known setting keeps its text");
    } else {
      FUZZ_EXPECT(after[i] == std::string(*name) + "=" + value + before[i].substr(mark),
                  "a known setting becomes exactly its name, = and the reference value");
    }
  }
  return 0;
}
