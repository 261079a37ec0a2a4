#include "driver/unified_diff.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t kContext = 3;

// Beyond this many edits, the shortest script is not sought: the lines that differ are all
// taken out and put in again, as diff does for changes too costly to align.
constexpr std::ptrdiff_t kMostEdits = 2000;

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

// Numbers for lines, equal where the lines are: comparing numbers is cheaper than lines.
class LineNumbers {
 public:
  std::vector<std::uint32_t> of(const std::vector<std::string_view>& lines) {
    std::vector<std::uint32_t> numbers;
    numbers.reserve(lines.size());
    for (const std::string_view line : lines) {
      numbers.push_back(
          known_.try_emplace(line, static_cast<std::uint32_t>(known_.size())).first->second);
    }
    return numbers;
  }

 private:
  std::unordered_map<std::string_view, std::uint32_t> known_;
};

// The shortest edit script between a and b (Myers' greedy algorithm): the furthest point
// reached on each diagonal is kept for every number of edits, and the path traced back.
// Empty when it would take more than kMostEdits.
std::vector<Step> shortest_script(const std::uint32_t* a, std::ptrdiff_t n, const std::uint32_t* b,
                                  std::ptrdiff_t m) {
  const std::ptrdiff_t most = std::min(n + m, kMostEdits);
  // For each number of edits d, the furthest x on the diagonals -d, -d + 2, ..., d; -1 where
  // a diagonal cannot be reached within the texts.
  std::vector<std::vector<std::ptrdiff_t>> trace;
  const auto furthest = [&](std::ptrdiff_t d, std::ptrdiff_t k) -> std::ptrdiff_t {
    return k < -d || k > d
               ? -1
               : trace[static_cast<std::size_t>(d)][static_cast<std::size_t>((k + d) / 2)];
  };
  // How diagonal k is best reached with d edits: by a line put in (a step down from k + 1)
  // or taken out (a step right from k - 1), and the x it is reached at; -1 for neither.
  struct Move {
    bool down;
    std::ptrdiff_t x;
  };
  const auto best_move = [&](std::ptrdiff_t d, std::ptrdiff_t k) {
    const std::ptrdiff_t above = furthest(d - 1, k + 1);
    const std::ptrdiff_t left = furthest(d - 1, k - 1);
    const bool may_go_down = above >= 0 && above - k <= m;
    const bool may_go_right = left >= 0 && left + 1 <= n;
    if (may_go_down && (!may_go_right || left + 1 <= above)) {
      return Move{true, above};
    }
    return Move{false, may_go_right ? left + 1 : -1};
  };
  std::ptrdiff_t edits = -1;
  for (std::ptrdiff_t d = 0; d <= most && edits < 0; ++d) {
    std::vector<std::ptrdiff_t> reached(static_cast<std::size_t>(d + 1));
    for (std::ptrdiff_t k = -d; k <= d; k += 2) {
      std::ptrdiff_t x = d == 0 ? 0 : best_move(d, k).x;
      if (x >= 0) {
        std::ptrdiff_t y = x - k;
        while (x < n && y < m && a[x] == b[y]) {
          ++x, ++y;
        }
        edits = x == n && y == m ? d : edits;
      }
      reached[static_cast<std::size_t>((k + d) / 2)] = x;
    }
    trace.push_back(std::move(reached));
  }
  if (edits < 0) {
    return {};
  }
  std::vector<Step> script;
  std::ptrdiff_t x = n, y = m;
  for (std::ptrdiff_t d = edits; d > 0; --d) {
    const std::ptrdiff_t k = x - y;
    const Move move = best_move(d, k);
    const std::ptrdiff_t from_k = move.down ? k + 1 : k - 1;
    const std::ptrdiff_t from_x = furthest(d - 1, from_k);
    const std::ptrdiff_t from_y = from_x - from_k;
    while (x > move.x) {  // the lines both keep, after the step
      script.push_back(Step::kKeep);
      --x, --y;
    }
    script.push_back(move.down ? Step::kAdd : Step::kRemove);
    x = from_x, y = from_y;
  }
  while (x > 0) {
    script.push_back(Step::kKeep);
    --x, --y;
  }
  std::reverse(script.begin(), script.end());
  return script;
}

// The script between a and b when lines that stand in only one of them are left out first:
// none of them can be kept, so the shortest script is the same, and a text whose every line
// changed (new line ends, say) takes no search at all. They are put back where they stand.
std::vector<Step> script_of_shared_lines(const std::uint32_t* a, std::size_t n,
                                         const std::uint32_t* b, std::size_t m) {
  std::unordered_map<std::uint32_t, std::uint8_t> sides;  // 1: in a, 2: in b, 3: in both
  for (std::size_t i = 0; i < n; ++i) {
    sides[a[i]] |= 1;
  }
  for (std::size_t j = 0; j < m; ++j) {
    sides[b[j]] |= 2;
  }
  std::vector<std::uint32_t> shared_a, shared_b;
  for (std::size_t i = 0; i < n; ++i) {
    if (sides[a[i]] == 3) {
      shared_a.push_back(a[i]);
    }
  }
  for (std::size_t j = 0; j < m; ++j) {
    if (sides[b[j]] == 3) {
      shared_b.push_back(b[j]);
    }
  }
  std::vector<Step> shared =
      shortest_script(shared_a.data(), static_cast<std::ptrdiff_t>(shared_a.size()),
                      shared_b.data(), static_cast<std::ptrdiff_t>(shared_b.size()));
  if (shared.empty() && !(shared_a.empty() && shared_b.empty())) {
    return {};  // too costly to align
  }
  std::vector<Step> script;
  std::size_t i = 0, j = 0;
  // The lines of a before the next shared one go out, those of b come in.
  const auto unshared_before = [&](bool in_a, bool in_b) {
    while (in_a && i < n && sides[a[i]] != 3) {
      script.push_back(Step::kRemove);
      ++i;
    }
    while (in_b && j < m && sides[b[j]] != 3) {
      script.push_back(Step::kAdd);
      ++j;
    }
  };
  for (const Step step : shared) {
    unshared_before(step != Step::kAdd, step != Step::kRemove);
    script.push_back(step);
    i += step != Step::kAdd ? 1 : 0;
    j += step != Step::kRemove ? 1 : 0;
  }
  unshared_before(true, true);
  return script;
}

// The script for the whole texts: the lines they share at both ends kept, the middle aligned.
std::vector<Step> edit_script(const std::vector<std::uint32_t>& a,
                              const std::vector<std::uint32_t>& b) {
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  const std::size_t n = a.size() - head - tail;
  const std::size_t m = b.size() - head - tail;
  std::vector<Step> middle = script_of_shared_lines(a.data() + head, n, b.data() + head, m);
  if (middle.empty()) {
    middle.assign(n, Step::kRemove);
    middle.insert(middle.end(), m, Step::kAdd);
  }
  std::vector<Step> script(head, Step::kKeep);
  script.insert(script.end(), middle.begin(), middle.end());
  script.insert(script.end(), tail, Step::kKeep);
  // Within each change, every line taken out comes before every line put in.
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

// Per line: a view and a number in each text, and the map of lines; then the script, and the
// diff itself, which holds every changed line and its context.
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
                         const std::string& label, bool colour) {
  if (old_text == new_text) {
    return "";
  }
  const std::vector<std::string_view> a = lines_of(old_text);
  const std::vector<std::string_view> b = lines_of(new_text);
  LineNumbers numbers;
  const std::vector<Step> script = edit_script(numbers.of(a), numbers.of(b));

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
