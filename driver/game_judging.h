#ifndef CONFMEND_DRIVER_GAME_JUDGING_H_
#define CONFMEND_DRIVER_GAME_JUDGING_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk/folder.h"
#include "driver/console_report.h"
#include "mending/config_rewriter.h"
#include "settings/missing_settings.h"

// Each installed game whose DOSBox and start can be told, judged before the run: the rules
// its files get where its DOSBox does not take all of the reference, and what is told of it.
class GamesJudged {
 public:
  // The games of the Steam folder and the libraries, with how Steam starts them.
  GamesJudged(const std::string& steam_folder, const std::vector<std::string>& libraries,
              const MendingRules& run_rules, const std::vector<SectionSetting>& kept);

  // The rules below each game's folder that are not the run's.
  std::map<FileIdentity, const MendingRules*> rules_below() const;
  // A line for each thing told of a game, its name first.
  void print_lines() const;
  // The games whose DOSBox reads files the run mends, with what none of those files sets.
  const std::vector<ConsoleReport::KnownGame>& known_games() const { return known_; }

 private:
  struct GameRules {
    FileIdentity folder;
    SettingTable reference;
    std::vector<SectionSetting> kept;
    MendingRules rules{reference};
  };
  std::vector<std::unique_ptr<GameRules>> games_;
  std::vector<std::string> lines_;
  std::vector<ConsoleReport::KnownGame> known_;
};

#endif  // CONFMEND_DRIVER_GAME_JUDGING_H_
