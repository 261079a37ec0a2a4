#include "settings/game_dosbox.h"

#include <gtest/gtest.h>

#include "tests/temp_files.h"

namespace {

TEST(CommandLineWords, PartsAtBlanksOutsideQuotes) {
  EXPECT_EQ(
      command_line_words("  -conf \"..\\My Game.conf\" -c \"mount c .\"\t-noconsole "),
      (std::vector<std::string>{"-conf", "..\\My Game.conf", "-c", "mount c .", "-noconsole"}));
  EXPECT_EQ(command_line_words("a\"\"b \"\""), (std::vector<std::string>{"ab", ""}));
  EXPECT_TRUE(command_line_words(" ").empty());
}

// Marks anywhere in the program, also across the pieces it is read in; a program with no
// build's marks, with two builds', or a fork's is not told.
TEST(BuildOfProgram, TellsDosbox074FromItsMarksAndNothingElse) {
  const std::string filler(3 << 19, 'x');  // a piece and a half
  const struct {
    std::string bytes;
    const char* build;
  } cases[] = {
      {"MZ" + filler + "dosbox-0.74.conf", "DOSBox 0.74"},
      {"MZ" + std::string((1 << 20) - 7, 'x') + "dosbox-0.74-3.conf" + filler, "DOSBox 0.74-3"},
      {"MZdosbox-0.74-2.conf", "DOSBox 0.74-2"},
      {"MZ" + filler, nullptr},
      {"MZdosbox-staging.conf", nullptr},
      {"MZdosbox-x.conf", nullptr},
      {"MZdosbox-0.74-3.conf" + filler + "glide", nullptr},
      {"MZdosbox-0.74.conf SVN-Daum", nullptr},
      {"MZdosbox-0.74.conf dosbox-0.74-3.conf", nullptr},
  };
  const TempDir folder;
  for (const auto& c : cases) {
    write_file(folder / "dosbox.exe", c.bytes);
    const auto build = build_of_program(folder / "dosbox.exe");
    EXPECT_EQ(build ? build->name : "", c.build ? c.build : "") << c.bytes.substr(0, 40);
  }
  EXPECT_FALSE(build_of_program(folder / "missing.exe"));
}

TEST(BuildOfFirstLine, TellsDosbox074FromWhatItWritesFirst) {
  const struct {
    const char* text;
    const char* build;
  } cases[] = {
      {"# This is the configuration file for DOSBox 0.74-3. (Please use the latest version of "
       "DOSBox)\r\n[sdl]\r\n",
       "DOSBox 0.74-3"},
      {"# This is the configuration file for DOSBox 0.74.\n", "DOSBox 0.74"},
      {"# This is the configuration file for DOSBox 0.74-3-3.\n", nullptr},
      {"# This is the configuration file for DOSBox SVN-Daum.\n", nullptr},
      {"[sdl]\n# This is the configuration file for DOSBox 0.74.\n", nullptr},
  };
  for (const auto& c : cases) {
    const auto build = build_of_first_line(c.text);
    EXPECT_EQ(build ? build->name : "", c.build ? c.build : "") << c.text;
  }
}

// A game laid out as GOG's releases on Steam are: DOSBox in its own folder, started there with
// the game's pair of files above it, named in another case than on the disk.
class GameDosbox : public testing::Test {
 protected:
  void SetUp() override {
    make_folders(game_ / "DOSBOX");
    write_file(game_ / "DOSBOX/DOSBox.exe", "MZ dosbox-0.74.conf");
    write_file(game_ / "dosboxDOOM2.conf", "[sdl]\nfullscreen=true\noutput=overlay\n[autoexec]\n");
    write_file(game_ / "dosboxDOOM2_single.conf", "[ipx]\nipx=false\n[autoexec]\ndoom2\n");
  }
  std::optional<DosboxStart> start(const std::string& arguments, const std::string& working) {
    return dosbox_start({game_.path(), "dosbox\\dosbox.exe", arguments, working});
  }
  static std::vector<std::string> paths(const DosboxStart& start) {
    std::vector<std::string> paths;
    for (const auto& file : start.configurations) {
      paths.push_back(file.path);
    }
    return paths;
  }
  TempDir game_;
};

TEST_F(GameDosbox, ReadsTheFilesItsCommandLineNamesInOrder) {
  const auto dosbox = start(
      "-conf ..\\DOSBOXdoom2.CONF -conf \"..\\dosboxDOOM2_single.conf\" -fullscreen -noconsole "
      "-c \"exit\" -conf ..\\..\\outside.conf -machine vgaonly -forcescaler hq2x",
      "DOSBOX");
  ASSERT_TRUE(dosbox);
  EXPECT_EQ(dosbox->build.name, "DOSBox 0.74");
  EXPECT_EQ(paths(*dosbox), (std::vector<std::string>{game_ / "dosboxDOOM2.conf",
                                                      game_ / "dosboxDOOM2_single.conf"}));
  ASSERT_EQ(dosbox->switches.size(), 3u);
  EXPECT_EQ(dosbox->switches[0].words, "-fullscreen");
  EXPECT_EQ(dosbox->switches[1].value, "vgaonly");
  EXPECT_EQ(dosbox->switches[2].value, "hq2x forced");
}

TEST_F(GameDosbox, WithoutConfReadsTheWorkingFoldersDosboxConf) {
  auto dosbox = start("-noconsole", "");
  ASSERT_TRUE(dosbox);
  EXPECT_TRUE(dosbox->configurations.empty());
  write_file(game_ / "DOSBOX/DOSBOX.CONF", "[sdl]\n");
  dosbox = start("", "DOSBOX");
  ASSERT_TRUE(dosbox);
  EXPECT_EQ(paths(*dosbox), (std::vector<std::string>{game_ / "DOSBOX/DOSBOX.CONF"}));
  // Another program than DOSBox, or one not there, is not told.
  EXPECT_FALSE(dosbox_start({game_.path(), "DOSBOX\\setup.exe", "", ""}));
  EXPECT_FALSE(dosbox_start({game_.path(), "..\\DOSBOX\\dosbox.exe", "", ""}));
  EXPECT_FALSE(dosbox_start({game_.path(), "C:\\DOSBOX\\dosbox.exe", "", ""}));
}

// With -userconf, DOSBox 0.74 reads the player's own configuration first, then the -conf files,
// and never the working folder's dosbox.conf.
TEST_F(GameDosbox, WithUserconfReadsThePlayersOwnFileAndNotTheWorkingFolders) {
  write_file(game_ / "DOSBOX/dosbox.conf", "[sdl]\nfullscreen=true\n");
  const std::string text = "[sdl]\nfullscreen=false\n[cpu]\ncycles=max\n";
  SettingTable reference;
  for_each_trimmed_line(text, [&](std::string_view line) { parse_setting_line(reference, line); });
  const auto kept = settings_kept_in_sections(text, reference);

  const auto alone = start("-userconf", "DOSBOX");
  ASSERT_TRUE(alone);
  EXPECT_TRUE(alone->reads_user_configuration);
  EXPECT_TRUE(alone->configurations.empty());
  EXPECT_EQ(judge_game(*alone, reference, kept, false).lines,
            (std::vector<std::string>{"its DOSBox reads your own DOSBox configuration "
                                      "(-userconf), none of the files confmend mends."}));

  const auto with_conf = start("-conf ..\\dosboxDOOM2.conf -USERCONF", "DOSBOX");
  ASSERT_TRUE(with_conf);
  EXPECT_EQ(paths(*with_conf), (std::vector<std::string>{game_ / "dosboxDOOM2.conf"}));
  EXPECT_EQ(judge_game(*with_conf, reference, kept, false).lines,
            (std::vector<std::string>{
                "cycles is set in none of the game's files it starts with, so your own DOSBox "
                "configuration (-userconf) gives it (--add-missing adds it)."}));
}

// What the game's DOSBox 0.74 does not take is kept from its files and said with the value it
// keeps; a switch that wins over the reference is said; what no file sets, without adding.
TEST_F(GameDosbox, TellsWhatItsDosboxDoesNotTakeAndWhatWinsOverTheReference) {
  const auto dosbox =
      start("-conf ..\\dosboxDOOM2.conf -conf ..\\dosboxDOOM2_single.conf -fullscreen", "DOSBOX");
  ASSERT_TRUE(dosbox);
  const std::string text =
      "[sdl]\nfullscreen=false\noutput=texture\ninteger_scaling=auto\n[cpu]\ncycles=max\n";
  SettingTable reference;
  for_each_trimmed_line(text, [&](std::string_view line) { parse_setting_line(reference, line); });
  const auto kept = settings_kept_in_sections(text, reference);
  const GameJudgement judged = judge_game(*dosbox, reference, kept, false);
  EXPECT_EQ(judged.withheld, (std::vector<std::string>{"output"}));
  EXPECT_EQ(judged.unknown, (std::vector<std::string>{"integer_scaling"}));
  EXPECT_EQ(judged.lines,
            (std::vector<std::string>{
                "its DOSBox 0.74 does not take output=texture; the game keeps output=overlay.",
                "Steam starts it with -fullscreen, which wins over fullscreen=false.",
                "cycles is set in none of the files it starts with (--add-missing adds it)."}));
  EXPECT_EQ(judge_game(*dosbox, reference, kept, true).lines.size(), 2u);
  const auto elsewhere = start("-conf ..\\dosboxDOOM2.cfg", "DOSBOX");
  ASSERT_TRUE(elsewhere);
  EXPECT_EQ(judge_game(*elsewhere, reference, kept, false).lines.back(),
            "its DOSBox reads none of the files confmend mends.");
}

// Headers and the end-of-file mark as DOSBox for Windows reads them: "[ sdl ]" heads no
// section, and nothing after a Ctrl+Z is read.
TEST_F(GameDosbox, ReadsTheGamesFilesAsDosboxDoes) {
  write_file(game_ / "dosboxDOOM2.conf", "[sdl]\r\noutput=overlay\r\n\x1a\r\nfullscreen=true\r\n");
  write_file(game_ / "dosboxDOOM2_single.conf", "[ipx]\nipx=false\n[ sdl ]\nfullscreen=false\n");
  const auto dosbox =
      start("-conf ..\\dosboxDOOM2.conf -conf ..\\dosboxDOOM2_single.conf", "DOSBOX");
  ASSERT_TRUE(dosbox);
  const std::string text = "[sdl]\nfullscreen=false\noutput=opengl\n";
  SettingTable reference;
  for_each_trimmed_line(text, [&](std::string_view line) { parse_setting_line(reference, line); });
  EXPECT_EQ(judge_game(*dosbox, reference, settings_kept_in_sections(text, reference), false).lines,
            (std::vector<std::string>{
                "dosboxDOOM2_single.conf:3: DOSBox reads no section from [ sdl ], and keeps the "
                "lines after it in [ipx].",
                "fullscreen is set in none of the files it starts with (--add-missing adds it)."}));
}

TEST(StartInGogInfo, TakesThePrimaryPlayTask) {
  const auto start = start_in_gog_info(R"({
  "gameId": "1207658933", "name": "DOOM II", "languages": ["en-US"], "osBits": [32, 64],
  "playTasks": [
    {"category": "document", "isPrimary": false, "path": "manual.pdf", "type": "FileTask"},
    {"arguments": "-conf \"..\\dosboxDOOM2.conf\" -noconsole -c \"exit\"", "category": "game",
     "isPrimary": true, "path": "DOSBOX\\dosbox.exe", "type": "FileTask",
     "workingDir": "DOSBOX", "name": "DOOM \u0049I"}
  ]
})");
  ASSERT_TRUE(start);
  EXPECT_EQ(start->program, "DOSBOX\\dosbox.exe");
  EXPECT_EQ(start->arguments, "-conf \"..\\dosboxDOOM2.conf\" -noconsole -c \"exit\"");
  EXPECT_EQ(start->working_folder, "DOSBOX");
  for (const char* broken : {"", "{", "{\"playTasks\": [{\"isPrimary\": true, \"path\": ", "[]",
                             "{\"playTasks\": [{\"isPrimary\": false, \"path\": \"a.exe\"}]}"}) {
    EXPECT_FALSE(start_in_gog_info(broken)) << broken;
  }
}

// As cmd.exe runs it: its working folder moved by cd, cd /d and pushd, %~dp0 the game's folder.
TEST(StartInBatchFile, FollowsTheWorkingFolderToTheDosboxItStarts) {
  const struct {
    const char* text;
    const char* program;
    const char* arguments;
    const char* working;
  } cases[] = {
      {"@echo off\r\ncd DOSBOX\r\ndosbox.exe -conf ..\\wolf.conf -noconsole\r\nexit\r\n",
       "DOSBOX\\dosbox.exe", "-conf ..\\wolf.conf -noconsole", "DOSBOX"},
      {"@ECHO OFF\ncd /d \"%~dp0DOSBox\"\nstart \"\" /wait DOSBox.exe -conf \"%~dp0game.conf\"\n",
       "DOSBox\\DOSBox.exe", "-conf \"..\\game.conf\"", "DOSBox"},
      {"pushd dosbox\npopd\n\"%~dp0dosbox\\dosbox\" -conf game.conf\n", "dosbox\\dosbox.exe",
       "-conf game.conf", "."},
  };
  for (const auto& c : cases) {
    const auto start = start_in_batch_file(c.text);
    ASSERT_TRUE(start) << c.text;
    EXPECT_EQ(start->program, c.program) << c.text;
    EXPECT_EQ(start->arguments, c.arguments) << c.text;
    EXPECT_EQ(start->working_folder, c.working) << c.text;
  }
  EXPECT_FALSE(start_in_batch_file("@echo off\nsetup.exe\n"));
  EXPECT_FALSE(start_in_batch_file("cd ..\\..\ndosbox.exe -conf a.conf\n"));
  EXPECT_FALSE(start_in_batch_file("cd /d C:\\DOSBox\ndosbox.exe\n"));
}

// The info file first; of several batch files, one start they agree on, else none.
TEST(StartInGameFolder, TakesTheOneStartTheGamesFilesAgreeOn) {
  const TempDir game;
  write_file(game / "play.bat", "cd DOSBOX\ndosbox.exe -conf ..\\a.conf\n");
  write_file(game / "setup.bat", "cd DOSBOX\nsetup.exe\n");
  write_file(game / "PLAY2.CMD", "cd DOSBOX\r\ndosbox.exe -conf ..\\a.conf\r\n");
  auto start = start_in_game_folder(game.path());
  ASSERT_TRUE(start);
  EXPECT_EQ(start->folder, game.path());
  EXPECT_EQ(start->arguments, "-conf ..\\a.conf");
  write_file(game / "single.bat", "cd DOSBOX\ndosbox.exe -conf ..\\b.conf\n");
  EXPECT_FALSE(start_in_game_folder(game.path()));
  write_file(game / "goggame-1.info",
             "{\"playTasks\": [{\"isPrimary\": true, \"path\": \"DOSBOX\\\\DOSBox.exe\", "
             "\"arguments\": \"-conf ..\\\\c.conf\"}]}");
  start = start_in_game_folder(game.path());
  ASSERT_TRUE(start);
  EXPECT_EQ(start->arguments, "-conf ..\\c.conf");
}

}  // namespace
