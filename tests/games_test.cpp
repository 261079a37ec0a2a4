// Each game as its own DOSBox starts it: the build it ships, the files and switches Steam
// starts it with, told per game.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app_cache.h"
#include "tests/confmend_fixture.h"
#include "tests/dosbox_program.h"

namespace {

// Games laid out as their releases on Steam are, with Steam's cache of how each is started.
class Games : public Confmend {
 protected:
  void SetUp() override {
    Confmend::SetUp();
    point_registry_at(steam_);
    make_folders(steam_ + "/steamapps");
    write_file(work_ + "/dosbox.conf", "[sdl]\nfullscreen=false\noutput=texture\n");
    // DOOM II: GOG's pair of files beside DOSBox 0.74 in its own folder, started fullscreen.
    game(2300, "DOOM II", "Doom 2");
    make_folders(doom_ + "/DOSBOX");
    write_file(doom_ + "/DOSBOX/DOSBox.exe",
               "MZ\x90" + std::string(4096, '\0') + "dosbox-0.74.conf");
    write_file(doom_ + "/dosboxDOOM2.conf",
               "[sdl]\r\nfullscreen=true\r\noutput=overlay\r\n[autoexec]\r\nmount c ..\r\n");
    write_file(doom_ + "/dosboxDOOM2_single.conf", "[ipx]\r\nipx=false\r\n[autoexec]\r\ndoom2\r\n");
    // A game on DOSBox Staging: written as every file is.
    game(2400, "Staged", "Staged");
    make_folders(staged_);
    write_file(staged_ + "/dosbox.exe", "MZ dosbox-staging.conf");
    write_file(staged_ + "/staged.conf", "[sdl]\nfullscreen=true\noutput=opengl\n");
    // Jagged Alliance: started with no configuration file of its own.
    game(2500, "Jagged Alliance", "JA");
    make_folders(steam_ + "/steamapps/common/JA/DOSBox");
    write_file(steam_ + "/steamapps/common/JA/DOSBox/dosbox.exe", "MZ dosbox-0.74-3.conf");
    write_file(steam_ + "/steamapps/common/JA/ja.conf", "[sdl]\nfullscreen=true\n");
    // Arctic Adventure: Apogee's single file, which holds nothing but its commands.
    game(2600, "Arctic Adventure", "Arctic");
    make_folders(arctic_ + "/DOSBox");
    write_file(arctic_ + "/DOSBox/DOSBox.exe", "MZ dosbox-0.74-3.conf");
    write_file(arctic_ + "/arctic.conf", "[autoexec]\nmount c .\narctic\n");
    // Commander Keen: Steam starts a launcher; GOG's info file tells how DOSBox is started.
    game(2700, "Commander Keen", "Keen");
    make_folders(keen_ + "/DOSBOX");
    write_file(keen_ + "/DOSBOX/dosbox.exe", "MZ dosbox-0.74.conf");
    write_file(keen_ + "/keen.conf", "[sdl]\nfullscreen=true\noutput=opengl\n");
    write_file(keen_ + "/goggame-2700.info",
               "{\"playTasks\": [{\"isPrimary\": true, \"path\": \"DOSBOX\\\\DOSBox.exe\", "
               "\"workingDir\": \"DOSBOX\", \"arguments\": \"-conf \\\"..\\\\keen.conf\\\"\"}]}");
    // Wolfenstein 3D: started by a batch file, which Steam's cache does not know.
    game(2800, "Wolfenstein 3D", "Wolf3D");
    make_folders(wolf_ + "/DOSBox");
    write_file(wolf_ + "/DOSBox/DOSBox.exe", "MZ dosbox-0.74.conf");
    write_file(wolf_ + "/wolf.conf", "[sdl]\r\nfullscreen=true\r\noutput=openglnb\r\n");
    write_file(wolf_ + "/Play.bat",
               "@echo off\r\ncd DOSBox\r\ndosbox -conf ..\\wolf.conf -fullscreen\r\n");
  }

  void game(std::uint32_t appid, const std::string& name, const std::string& folder) {
    write_file(steam_ + "/steamapps/appmanifest_" + std::to_string(appid) + ".acf",
               "\"AppState\"\n{\n\t\"appid\"\t\t\"" + std::to_string(appid) +
                   "\"\n\t\"name\"\t\t\"" + name + "\"\n\t\"installdir\"\t\t\"" + folder +
                   "\"\n}\n");
  }

  void write_cache(std::uint32_t format) {
    make_folders(steam_ + "/appcache");
    write_file(steam_ + "/appcache/appinfo.vdf",
               AppCacheWriter(format).bytes(
                   {{2300,
                     {{"DOSBOX\\dosbox.exe",
                       "-conf ..\\dosboxDOOM2.conf -conf ..\\dosboxDOOM2_single.conf -fullscreen "
                       "-noconsole -c \"exit\"",
                       "DOSBOX", "", "windows"}}},
                    {2400, {{"dosbox.exe", "-conf staged.conf", "", "", ""}}},
                    {2500, {{"DOSBox\\dosbox.exe", "-noconsole", "DOSBox", "", "windows"}}},
                    {2600, {{"DOSBox\\dosbox.exe", "-conf ..\\arctic.conf", "DOSBox", "", ""}}},
                    {2700, {{"launcher.exe", "", "", "", "windows"}}}}));
  }

  std::string doom_ = steam_ + "/steamapps/common/Doom 2";
  std::string staged_ = steam_ + "/steamapps/common/Staged";
  std::string arctic_ = steam_ + "/steamapps/common/Arctic";
  std::string keen_ = steam_ + "/steamapps/common/Keen";
  std::string wolf_ = steam_ + "/steamapps/common/Wolf3D";
};

const std::vector<std::string> kGameLines = {
    "DOOM II: its DOSBox 0.74 does not take output=texture; the game keeps output=overlay.",
    "DOOM II: Steam starts it with -fullscreen, which wins over fullscreen=false.",
    "Jagged Alliance: its DOSBox reads none of the files confmend mends.",
    "Arctic Adventure: its DOSBox 0.74-3 does not take output=texture; the game keeps "
    "output=surface.",
    "Arctic Adventure: fullscreen is set in none of the files it starts with (--add-missing adds "
    "it).",
    "Commander Keen: its DOSBox 0.74 does not take output=texture; the game keeps output=opengl.",
    "Wolfenstein 3D: its DOSBox 0.74 does not take output=texture; the game keeps output=openglnb.",
    "Wolfenstein 3D: Play.bat starts it with -fullscreen, which wins over fullscreen=false.",
};

// In every format of Steam's cache: DOOM II keeps its output and is told of, the Staging game
// gets the reference, and each line comes after the last file, before the pause.
TEST_F(Games, KeepsWhatEachGamesDosboxDoesNotTakeAndSaysWhy) {
  for (const std::uint32_t format : {0x07564428u, 0x07564429u}) {
    write_cache(format);
    const auto result = run();
    EXPECT_EQ(result.exit_status, 0) << result.output;
    std::string told;
    for (const std::string& line : kGameLines) {
      told += line + program().line_end();
    }
    EXPECT_TRUE(result.output.ends_with(program().line_end() + told + prompt()))
        << std::hex << format << "\n"
        << result.output;
    EXPECT_EQ(read_file(doom_ + "/dosboxDOOM2.conf"),
              lines({"[sdl]", "fullscreen=false", "output=overlay", "[autoexec]", "mount c .."}));
    EXPECT_EQ(read_file(staged_ + "/staged.conf"),
              lines({"[sdl]", "fullscreen=false", "output=texture"}));
  }
}

// A dry run tells the same; --add-missing adds to Arctic Adventure's file only what its
// DOSBox takes, and nothing more is said to be missing.
TEST_F(Games, TellsInADryRunAndAddsOnlyWhatTheGamesDosboxTakes) {
  write_cache(0x07564429);
  const std::string arctic = read_file(arctic_ + "/arctic.conf");
  const auto dry = run_with({"--dry-run"});
  EXPECT_EQ(dry.exit_status, 0);
  EXPECT_EQ(read_file(arctic_ + "/arctic.conf"), arctic);
  for (const std::string& line : kGameLines) {
    EXPECT_EQ(count_of(line + program().line_end(), dry.output), 1u) << line << "\n" << dry.output;
  }
  // DOOM II and Arctic Adventure are counted by game, and their files not one by one.
  EXPECT_TRUE(
      dry.output.ends_with(lines({"fullscreen: not set for 1 of 4 DOSBox games (--add-missing "
                                  "adds it)",
                                  "6 of 7 files would change."}) +
                           prompt()))
      << dry.output;
  const auto added = run_with({"--add-missing"});
  EXPECT_EQ(added.exit_status, 0);
  EXPECT_EQ(count_of("set in none", added.output), 0u) << added.output;
  EXPECT_EQ(read_file(arctic_ + "/arctic.conf"),
            lines({"[sdl]", "fullscreen=false", "", "[autoexec]", "mount c .", "arctic"}));
  EXPECT_EQ(read_file(doom_ + "/dosboxDOOM2.conf"),
            lines({"[sdl]", "fullscreen=false", "output=overlay", "[autoexec]", "mount c .."}));
  EXPECT_EQ(read_file(staged_ + "/staged.conf"),
            lines({"[sdl]", "fullscreen=false", "output=texture"}));
}

// DOSBox 0.74-3 itself, given each 0.74 game's files as its launch says, after --add-missing:
// it reads the game's own output, where the run left it, and the reference's fullscreen (which
// a -fullscreen switch would still win over); given the reference, it resets the output.
TEST_F(Games, DosboxReadsNoValueItRejectsFromTheGamesThatShipIt) {
  SKIP_UNLESS_DOSBOX("DOSBox reading the games' files");
  write_cache(0x07564428);
  const auto result = run_with({"--add-missing"});
  ASSERT_EQ(result.exit_status, 0) << result.output;
  const TempDir dosbox_home;
  const std::vector<std::pair<std::string, std::string>> properties = {{"sdl", "output"},
                                                                       {"sdl", "fullscreen"}};
  const struct {
    std::vector<std::string> files;
    std::vector<std::string> read;
  } games[] = {
      {{doom_ + "/dosboxDOOM2.conf", doom_ + "/dosboxDOOM2_single.conf"}, {"overlay", "false"}},
      {{arctic_ + "/arctic.conf"}, {"surface", "false"}},
      {{keen_ + "/keen.conf"}, {"opengl", "false"}},
      {{wolf_ + "/wolf.conf"}, {"openglnb", "false"}},
  };
  for (const auto& game : games) {
    EXPECT_EQ(dosbox_reads(dosbox_home.path(), game.files, properties), game.read)
        << read_file(game.files.front());
  }
  EXPECT_EQ(dosbox_reads(dosbox_home.path(), {work_ + "/dosbox.conf"}, properties),
            (std::vector<std::string>{"surface", "false"}));
}

// Without Steam's cache only what the games' own files tell is judged: Wolfenstein 3D's batch
// file. DOOM II's pair is written as every file is.
TEST_F(Games, WithoutSteamsCacheJudgesOnlyWhatTheGamesOwnFilesTell) {
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(count_of("DOOM II", result.output), 0u) << result.output;
  EXPECT_TRUE(result.output.ends_with(
      lines({kGameLines[kGameLines.size() - 2], kGameLines.back()}) + prompt()))
      << result.output;
  EXPECT_EQ(read_file(doom_ + "/dosboxDOOM2.conf"),
            lines({"[sdl]", "fullscreen=false", "output=texture", "[autoexec]", "mount c .."}));
  EXPECT_EQ(read_file(wolf_ + "/wolf.conf"),
            lines({"[sdl]", "fullscreen=false", "output=openglnb"}));
}

}  // namespace
