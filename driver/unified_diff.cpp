#include "driver/unified_diff.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kContext = 3;

// The lines of a text, each with its LF; the last may have none.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// One step of the edit script, over a stretch of lines.
enum class Step : std::uint8_t { kKeep, kRemove, kAdd };

// Within each change, every line taken out comes before every line put in, as diff has it.
void removals_first(std::vector<Step>& script) {
  for (std::size_t start = 0; start < script.size();) {
    if (script[start] == Step::kKeep) {
      ++start;
      continue;
    }
    std::size_t end = start;
    while (end < script.size() && script[end] != Step::kKeep) {
      ++end;
    }
    std::stable_partition(script.begin() + static_cast<std::ptrdiff_t>(start),
                          script.begin() + static_cast<std::ptrdiff_t>(end),
                          [](Step step) { return step == Step::kRemove; });
    start = end;
  }
}

// The plain script, for two texts of which nothing else is known: the lines they share at
// both ends kept, every line between taken out and put in.
std::vector<Step> plain_script(const std::vector<std::string_view>& a,
                               const std::vector<std::string_view>& b) {
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  std::vector<Step> script(head, Step::kKeep);
  script.insert(script.end(), a.size() - head - tail, Step::kRemove);
  script.insert(script.end(), b.size() - head - tail, Step::kAdd);
  script.insert(script.end(), tail, Step::kKeep);
  return script;
}

std::size_t lines_in(std::string_view text, std::size_t from, std::size_t to) {
  return static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(from),
                                             text.begin() + static_cast<std::ptrdiff_t>(to), '\n'));
}

// The script the rewriter's map of lines gives: an old line whose one new line holds the same
// bytes is kept, any other is taken out and its new lines put in, and the lines added after it
// are put in. Empty where the map does not add up to the two texts.
std::vector<Step> mapped_script(std::string_view old_text, std::string_view new_text,
                                const std::vector<MendedLine>& lines) {
  std::vector<Step> script;
  std::size_t old_at = 0, new_at = 0;
  const auto add = [&](std::size_t to) {
    if (to < new_at || to > new_text.size()) {
      return false;
    }
    script.insert(script.end(), lines_in(new_text, new_at, to), Step::kAdd);
    new_at = to;
    return true;
  };
  for (std::size_t i = 0; i < lines.size();) {
    // The lines read from one old line: more than one where it held CRs.
    std::size_t j = i + 1;
    while (j < lines.size() && lines[j].old_end == lines[i].old_end) {
      ++j;
    }
    const MendedLine& first = lines[i];
    const MendedLine& last = lines[j - 1];
    if (first.old_end <= old_at || first.old_end > old_text.size() || !add(first.new_start) ||
        last.added_end < first.new_start) {
      return {};
    }
    const std::string_view old_line = old_text.substr(old_at, first.old_end - old_at);
    if (j == i + 1 &&
        new_text.substr(first.new_start, first.new_end - first.new_start) == old_line &&
        old_line.ends_with('\n')) {
      script.push_back(Step::kKeep);
      new_at = first.new_end;
    } else {
      script.push_back(Step::kRemove);
      if (!add(last.new_end)) {
        return {};
      }
    }
    if (!add(last.added_end)) {
      return {};
    }
    old_at = first.old_end;
    i = j;
  }
  if (old_at != old_text.size() || !add(new_text.size())) {
    return {};
  }
  return script;
}

class DiffWriter {
 public:
  DiffWriter(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
             bool colour)
      : a_(a), b_(b), colour_(colour) {}

  void header(char mark, const std::string& label) {
    std::string line(3, mark);
    line.append(" ").append(label);
    if (label.find(' ') != std::string::npos) {
      line += '\t';
    }
    coloured(kBold, line);
  }

  // The range as diff gives it: the first line and the count, the count left out when it is
  // one, and for no lines the line before them.
  static std::string range(std::size_t first, std::size_t count) {
    if (count == 1) {
      return std::to_string(first + 1);
    }
    return std::to_string(count == 0 ? first : first + 1) + "," + std::to_string(count);
  }

  void hunk(const std::vector<Step>& script, std::size_t from, std::size_t to, std::size_t a_at,
            std::size_t b_at) {
    std::size_t a_count = 0, b_count = 0;
    for (std::size_t i = from; i < to; ++i) {
      a_count += script[i] != Step::kAdd ? 1 : 0;
      b_count += script[i] != Step::kRemove ? 1 : 0;
    }
    coloured(kCyan, "@@ -" + range(a_at, a_count) + " +" + range(b_at, b_count) + " @@");
    for (std::size_t i = from; i < to; ++i) {
      switch (script[i]) {
        case Step::kKeep:
          line(' ', b_[b_at], nullptr);
          ++a_at, ++b_at;
          break;
        case Step::kRemove:
          line('-', a_[a_at++], kRed);
          break;
        case Step::kAdd:
          line('+', b_[b_at++], kGreen);
          break;
      }
    }
  }

  std::string& text() { return text_; }

 private:
  static constexpr const char* kBold = "\x1b[1m";
  static constexpr const char* kCyan = "\x1b[36m";
  static constexpr const char* kRed = "\x1b[31m";
  static constexpr const char* kGreen = "\x1b[32m";

  void coloured(const char* colour, std::string_view line) {
    if (colour_ && colour != nullptr) {
      text_.append(colour).append(line).append("\x1b[m\n");
    } else {
      text_.append(line).append("\n");
    }
  }

  void line(char mark, std::string_view content, const char* colour) {
    const bool ended = content.ends_with('\n');
    coloured(colour,
             std::string(1, mark).append(ended ? content.substr(0, content.size() - 1) : content));
    if (!ended) {
      text_.append("\\ No newline at end of file\n");
    }
  }

  const std::vector<std::string_view>& a_;
  const std::vector<std::string_view>& b_;
  const bool colour_;
  std::string text_;
};

}  // namespace

// Per line: a view in each text and a step of the script; then the diff itself, which holds
// every changed line and its context.
bool diff_fits_in_memory(std::string_view old_text, std::string_view new_text) {
  const auto lines = static_cast<std::size_t>(std::count(old_text.begin(), old_text.end(), '\n') +
                                              std::count(new_text.begin(), new_text.end(), '\n'));
  const std::size_t bytes = old_text.size() + new_text.size();
  if (lines > SIZE_MAX / 256 || bytes > SIZE_MAX / 4) {
    return false;
  }
  void* room = std::malloc(lines * 96 + bytes * 2 + 4096);
  std::free(room);
  return room != nullptr;
}

std::string unified_diff(std::string_view old_text, std::string_view new_text,
                         const std::string& label, bool colour,
                         const std::vector<MendedLine>* lines) {
  if (old_text == new_text) {
    return "";
  }
  const std::vector<std::string_view> a = lines_of(old_text);
  const std::vector<std::string_view> b = lines_of(new_text);
  std::vector<Step> script;
  if (lines != nullptr) {
    script = mapped_script(old_text, new_text, *lines);
  }
  if (script.empty()) {
    script = plain_script(a, b);
  }
  removals_first(script);

  DiffWriter writer(a, b, colour);
  writer.header('-', label);
  writer.header('+', label);
  // Hunks: each change with its context; changes closer than twice the context share one.
  std::size_t a_at = 0, b_at = 0;
  for (std::size_t i = 0; i < script.size();) {
    if (script[i] == Step::kKeep) {
      ++i, ++a_at, ++b_at;
      continue;
    }
    const std::size_t lead = std::min({kContext, a_at, b_at, i});
    const std::size_t from = i - lead;
    std::size_t end = i;  // just past the last change taken in
    for (std::size_t j = i; j < script.size();) {
      if (script[j] != Step::kKeep) {
        end = ++j;
        continue;
      }
      std::size_t kept = j;
      while (kept < script.size() && script[kept] == Step::kKeep) {
        ++kept;
      }
      if (kept == script.size() || kept - j > 2 * kContext) {
        break;
      }
      j = kept;
    }
    const std::size_t to = std::min(script.size(), end + kContext);
    writer.hunk(script, from, to, a_at - lead, b_at - lead);
    for (; i < to; ++i) {
      a_at += script[i] != Step::kAdd ? 1 : 0;
      b_at += script[i] != Step::kRemove ? 1 : 0;
    }
  }
  return std::move(writer.text());
}
