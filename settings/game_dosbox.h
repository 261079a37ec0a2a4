#ifndef CONFMEND_SETTINGS_GAME_DOSBOX_H_
#define CONFMEND_SETTINGS_GAME_DOSBOX_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/missing_settings.h"
#include "settings/setting_line.h"

// A game's own DOSBox: which build it ships, and what it reads when the game is started, told
// from how the game is started and from the game's files. Nothing is guessed: a game whose
// DOSBox or start cannot be told is left to the rules every file gets.

// A build told apart by what its program holds.
struct ShippedBuild {
  std::size_t table = 0;  // in dosbox_builds()
  std::string name;       // as a player knows it: "DOSBox 0.74"
};

// The build whose marks the program's bytes hold, read a piece at a time: the name of the
// configuration file each build writes by default ("dosbox-0.74-3.conf"); none when no build's,
// several builds', or a fork's marks are there. Only builds whose table is DOSBox's own are
// told for now.
std::optional<ShippedBuild> build_of_program(const std::string& path);
// The same, told from the first line DOSBox writes at the top of its configuration file.
std::optional<ShippedBuild> build_of_first_line(std::string_view text);

// The words of a Windows command line: blanks part them, double quotes hold blanks in.
std::vector<std::string> command_line_words(std::string_view line);

// How a game is started: its program, its arguments and its working folder, Windows paths
// relative to the game's folder, which is a path here.
struct GameStart {
  std::string folder;
  std::string program;
  std::string arguments;
  std::string working_folder;     // empty: the program's
  std::string starter = "Steam";  // what starts it, to be named: Steam, or a file of the game's
};

// A file a game's DOSBox reads, and what it holds: none when it cannot be read.
struct ReadConfiguration {
  std::string path;
  std::optional<std::string> text;
};

// What a game's DOSBox reads, when it can be told.
struct DosboxStart {
  ShippedBuild build;
  std::string starter;  // as the game's start names it
  // The configuration files it reads, in order: a later one wins.
  std::vector<ReadConfiguration> configurations;
  // With -userconf, the player's own configuration outside Steam is read before them, and the
  // working folder's dosbox.conf is not read.
  bool reads_user_configuration = false;
  // Settings its command line gives, which win over every file: name, value, and the words
  // that give it ("-fullscreen").
  struct Switch {
    std::string name, value, words;
  };
  std::vector<Switch> switches;
};
std::optional<DosboxStart> dosbox_start(const GameStart& start);

// Whether the program is a DOSBox, by its name: dosbox*.exe, in any case.
bool names_a_dosbox(std::string_view program);

// How the game's own files start it, where Steam's cache names no DOSBox: the primary play
// task of a GOG-style goggame-<id>.info in its folder, else the one batch file there
// (.bat, .cmd) that starts a DOSBox; none when none does, or several do differently.
std::optional<GameStart> start_in_game_folder(const std::string& folder);

// The primary play task of a goggame-<id>.info file (JSON); none when it has none.
std::optional<GameStart> start_in_gog_info(std::string_view text);
// The DOSBox a batch file starts, as cmd.exe would: "cd", "cd /d", "pushd" and "popd" move
// its working folder, "%~dp0" is the game's folder, "start "" /wait" starts a program; none
// when it starts no DOSBox or leaves the game's folder.
std::optional<GameStart> start_in_batch_file(std::string_view text);

// What a run does with a game, and tells of it.
struct GameJudgement {
  // Reference settings its DOSBox does not take: given to none of the game's files.
  std::vector<std::string> withheld;
  // Reference settings its DOSBox does not know: never added to its files.
  std::vector<std::string> unknown;
  // What is told, each line without the game's name before it.
  std::vector<std::string> lines;
  // Whether its DOSBox reads a file the run mends; and then the settings kept in sections
  // (their places in `kept`) that none of the files it reads sets, nor a switch.
  bool reads_mended_files = false;
  std::vector<std::size_t> lacking;
};

// Judges the reference against the game's DOSBox and the files it reads. Only files named
// ".conf" are the run's to mend. Settings none of its files set are told unless `adding` them.
GameJudgement judge_game(const DosboxStart& start, const SettingTable& reference,
                         const std::vector<SectionSetting>& kept, bool adding);

#endif  // CONFMEND_SETTINGS_GAME_DOSBOX_H_
