#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ReadOptions, TakesOptionsAsGnuProgramsDo) {
  const struct {
    std::vector<std::string> arguments;
    bool slash_options;
    Action action;
    bool dry_run;
    std::string refused;
  } cases[] = {
      {{}, false, Action::kRun, false, ""},
      {{"--dry-run"}, false, Action::kRun, true, ""},
      {{"-n"}, false, Action::kRun, true, ""},
      {{"-nn"}, false, Action::kRun, true, ""},
      {{"--help"}, false, Action::kShowHelp, false, ""},
      {{"-h"}, false, Action::kShowHelp, false, ""},
      {{"-nh"}, false, Action::kShowHelp, false, ""},
      {{"--version"}, false, Action::kShowVersion, false, ""},
      {{"--dry-rn"}, false, Action::kRefuse, false, "--dry-rn"},
      {{"--dry"}, false, Action::kRefuse, false, "--dry"},
      {{"-x"}, false, Action::kRefuse, false, "-x"},
      {{"-nx"}, false, Action::kRefuse, false, "-nx"},
      {{"-"}, false, Action::kRefuse, false, "-"},
      {{"--Help"}, false, Action::kRefuse, false, "--Help"},
      // The first that decides wins.
      {{"--version", "--bogus"}, false, Action::kShowVersion, false, ""},
      {{"--bogus", "--help"}, false, Action::kRefuse, false, "--bogus"},
      // Whatever follows "--" is no option; other words are ignored, as a dropped file is.
      {{"--", "--help"}, false, Action::kRun, false, ""},
      {{"game.conf", "-n"}, false, Action::kRun, true, ""},
      {{"/home/me/game.conf"}, false, Action::kRun, false, ""},
      // Windows: "/?" asks for help, and any other word beginning with "/" is an option.
      {{"/?"}, true, Action::kShowHelp, false, ""},
      {{"/?"}, false, Action::kRun, false, ""},
      {{"/n"}, true, Action::kRefuse, false, "/n"},
      {{"C:\\Games\\game.conf"}, true, Action::kRun, false, ""},
      // Options that make no sense together.
      {{"--check", "--dry-run"}, false, Action::kRefuseTogether, false, "--check --dry-run"},
      {{"--check", "-a"}, false, Action::kRefuseTogether, false, "--check --add-missing"},
      {{"-an"}, false, Action::kRun, true, ""},
  };
  for (const auto& c : cases) {
    const Options options = read_options(c.arguments, c.slash_options);
    std::string words;
    for (const auto& argument : c.arguments) {
      words += argument + " ";
    }
    EXPECT_EQ(options.action, c.action) << words;
    EXPECT_EQ(options.dry_run, c.dry_run) << words;
    EXPECT_EQ(options.refused, c.refused) << words;
  }
  for (const auto& arguments : {std::vector<std::string>{"-a"}, {"--add-missing"}, {"-na"}}) {
    EXPECT_TRUE(read_options(arguments, false).add_missing) << arguments[0];
  }
  EXPECT_TRUE(read_options({"--check"}, false).check);
  EXPECT_FALSE(read_options({"-n"}, false).add_missing);
}

TEST(UsageText, NamesEveryOption) {
  for (const bool slash_options : {false, true}) {
    const std::string usage = usage_text(slash_options);
    for (const char* option : {"--dry-run", "-n,", "--add-missing", "-a,", "--check", "--help",
                               "-h,", "--version", "dosbox.conf"}) {
      EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(usage.find("/?") != std::string::npos, slash_options);
    // The status a failed Steam lookup leaves, as each platform's shell shows it.
    EXPECT_NE(usage.find(slash_options ? "take; -1 when Steam" : "take; 255 when Steam"),
              std::string::npos);
  }
}

}  // namespace
