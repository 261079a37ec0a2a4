#include "driver/unified_diff.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string numbered_lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += std::to_string(i) + "\n";
  }
  return text;
}

std::string replaced(std::string text, const std::string& line, const std::string& by) {
  return text.replace(text.find("\n" + line + "\n") + 1, line.size(), by);
}

// Each expected text is what GNU diff -u prints for the same two texts.
TEST(UnifiedDiff, PrintsWhatDiffPrints) {
  const std::string twenty = numbered_lines(20);
  const std::string ten = numbered_lines(10);
  const struct {
    const char* what;
    std::string old_text, new_text, diff;
  } cases[] = {
      {"the same texts", "a\nb\n", "a\nb\n", ""},
      {"one line changed", "a\nb\nc\n", "a\nB\nc\n",
       "--- L\n+++ L\n@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
      {"every line end changed", "x=1\r\ny=2\r\n", "x=1\ny=2\n",
       "--- L\n+++ L\n@@ -1,2 +1,2 @@\n-x=1\r\n-y=2\r\n+x=1\n+y=2\n"},
      {"a last line gains its line end", "a\nb", "a\nb\n",
       "--- L\n+++ L\n@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
      {"an empty file gains a line", "", "a\n", "--- L\n+++ L\n@@ -0,0 +1 @@\n+a\n"},
      {"a file loses its only line", "a\n", "", "--- L\n+++ L\n@@ -1 +0,0 @@\n-a\n"},
      {"changes far apart: two hunks", twenty, replaced(replaced(twenty, "4", "X"), "17", "Y"),
       "--- L\n+++ L\n@@ -1,7 +1,7 @@\n 1\n 2\n 3\n-4\n+X\n 5\n 6\n 7\n"
       "@@ -14,7 +14,7 @@\n 14\n 15\n 16\n-17\n+Y\n 18\n 19\n 20\n"},
      {"changes six lines apart: one hunk", ten, replaced(replaced(ten, "2", "X"), "9", "Y"),
       "--- L\n+++ L\n@@ -1,10 +1,10 @@\n 1\n-2\n+X\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+Y\n 10\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unified_diff(c.old_text, c.new_text, "L", false), c.diff) << c.what;
  }
}

// A name with a blank is followed by a tab, so that patch knows where it ends.
TEST(UnifiedDiff, EndsALabelWithABlankByATab) {
  EXPECT_EQ(unified_diff("a\n", "b\n", "/games/My Game/x.conf", false),
            "--- /games/My Game/x.conf\t\n+++ /games/My Game/x.conf\t\n@@ -1 +1 @@\n-a\n+b\n");
}

TEST(UnifiedDiff, ColoursAsGitDoes) {
  EXPECT_EQ(unified_diff("a\nb\n", "a\nc\n", "L", true),
            "\x1b[1m--- L\x1b[m\n\x1b[1m+++ L\x1b[m\n\x1b[36m@@ -1,2 +1,2 @@\x1b[m\n a\n"
            "\x1b[31m-b\x1b[m\n\x1b[32m+c\x1b[m\n");
}

// However large the change, the script stays whole: applied, it gives the new text.
TEST(UnifiedDiff, DescribesEveryLineOfLargeChanges) {
  std::string old_text, new_text;
  for (int i = 0; i < 5000; ++i) {
    old_text += "line " + std::to_string(i) + "\r\n";
    new_text +=
        i % 3 == 0 ? "new " + std::to_string(i) + "\n" : "line " + std::to_string(i) + "\r\n";
  }
  const std::string diff = unified_diff(old_text, new_text, "L", false);
  // Applying the hunks by hand: every "-" line is in the old text, every "+" and " " line in
  // the new one, in order.
  std::string rebuilt, removed;
  for (std::size_t start = diff.find("@@"); start < diff.size();) {
    const std::size_t end = diff.find('\n', start) + 1;
    const std::string line = diff.substr(start, end - start);
    if (line[0] == '+' || line[0] == ' ') {
      rebuilt += line.substr(1);
    }
    if (line[0] == '-' || line[0] == ' ') {
      removed += line.substr(1);
    }
    start = end;
  }
  EXPECT_EQ(removed, old_text) << "a change every third line: one hunk holds every line";
  EXPECT_EQ(rebuilt, new_text);
}

}  // namespace
