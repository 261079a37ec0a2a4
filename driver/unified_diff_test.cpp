#include "driver/unified_diff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mending/config_rewriter.h"

namespace {

std::string numbered_lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += std::to_string(i) + "=" + std::to_string(i) + "\n";
  }
  return text;
}

// The diff of a file and what the rewriter makes of it, by its map of lines.
std::string mended_diff(const std::string& old_text, const SettingTable& reference,
                        std::vector<MendedLine>& lines, std::string& new_text,
                        const std::vector<SectionSetting>* kept = nullptr) {
  MendingRules rules(reference);
  rules.kept_in_sections = kept;
  rules.add_missing = kept != nullptr;
  TextAccumulator text;
  mend_config_text(rules, old_text, text, "\n", nullptr, &lines);
  new_text.assign(text.text(), text.size());
  return unified_diff(old_text, new_text, "L", false, &lines);
}

// Without a map, as --undo --dry-run compares two texts: each expected text is what GNU
// diff -u prints for the same two texts.
TEST(UnifiedDiff, PrintsWhatDiffPrints) {
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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unified_diff(c.old_text, c.new_text, "L", false), c.diff) << c.what;
  }
}

// With the rewriter's map, each change is shown where it was made, as GNU diff -u shows the
// same two texts: changes far apart in hunks of their own, those closer than twice the
// context in one; settings added after a line, and a new section at the end.
TEST(UnifiedDiff, ShowsEachChangeWhereTheRewriterMadeIt) {
  std::vector<MendedLine> lines;
  std::string new_text;
  EXPECT_EQ(mended_diff(numbered_lines(20), {{"4", "X"}, {"17", "Y"}}, lines, new_text),
            "--- L\n+++ L\n@@ -1,7 +1,7 @@\n 1=1\n 2=2\n 3=3\n-4=4\n+4=X\n 5=5\n 6=6\n 7=7\n"
            "@@ -14,7 +14,7 @@\n 14=14\n 15=15\n 16=16\n-17=17\n+17=Y\n 18=18\n 19=19\n 20=20\n");
  EXPECT_EQ(mended_diff(numbered_lines(10), {{"2", "X"}, {"9", "Y"}}, lines, new_text),
            "--- L\n+++ L\n@@ -1,10 +1,10 @@\n 1=1\n-2=2\n+2=X\n 3=3\n 4=4\n 5=5\n 6=6\n 7=7\n"
            " 8=8\n-9=9\n+9=Y\n 10=10\n");
  const std::vector<SectionSetting> kept = {{"sdl", "fullscreen", "fullscreen", "true", true},
                                            {"cpu", "cycles", "cycles", "max", true}};
  EXPECT_EQ(mended_diff("[sdl]\noutput=overlay\n[dosbox]\nmemsize=16\n",
                        {{"fullscreen", "true"}, {"cycles", "max"}}, lines, new_text, &kept),
            "--- L\n+++ L\n@@ -1,4 +1,8 @@\n [sdl]\n output=overlay\n+fullscreen=true\n [dosbox]\n"
            " memsize=16\n+\n+[cpu]\n+cycles=max\n");
}

// However the lines were split (CRs within a line, a last line without its end, blanks
// trimmed), the diff holds every line of both texts: applied, it gives the new text.
TEST(UnifiedDiff, MapsLinesSplitAtCarriageReturns) {
  std::vector<MendedLine> lines;
  std::string new_text;
  const std::string old_text = "a=1\rb=2\r\n  c=3  \nd=4\re=5";
  const std::string diff = mended_diff(old_text, {{"b", "X"}}, lines, new_text);
  EXPECT_EQ(new_text, "a=1\nb=X\nc=3\nd=4\ne=5\n");
  EXPECT_EQ(diff,
            "--- L\n+++ L\n@@ -1,3 +1,5 @@\n-a=1\rb=2\r\n-  c=3  \n-d=4\re=5\n"
            "\\ No newline at end of file\n+a=1\n+b=X\n+c=3\n+d=4\n+e=5\n");
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

// However large the change, the map holds: a change every third line of 5,000 gives one hunk
// that holds every line of both texts, in order.
TEST(UnifiedDiff, DescribesEveryLineOfLargeChanges) {
  std::string old_text;
  SettingTable reference;
  for (int i = 0; i < 5000; ++i) {
    old_text += "line" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    if (i % 3 == 0) {
      reference["line" + std::to_string(i)] = "new";
    }
  }
  std::vector<MendedLine> lines;
  std::string new_text;
  const std::string diff = mended_diff(old_text, reference, lines, new_text);
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
