#include "driver/game_judging.h"

#include <algorithm>
#include <set>

#include "console/console.h"
#include "driver/shown_text.h"
#include "settings/game_dosbox.h"
#include "steam/library_folders.h"
#include "steam/steam_games.h"

namespace {

bool names(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

GamesJudged::GamesJudged(const std::string& steam_folder, const std::vector<std::string>& libraries,
                         const MendingRules& run_rules, const std::vector<SectionSetting>& kept) {
  std::vector<SteamGame> games;
  std::set<std::uint32_t> apps;
  std::vector<std::string> folders{steam_folder};
  folders.insert(folders.end(), libraries.begin(), libraries.end());
  for (const std::string& library : folders) {
    // Steam lists its own folder among the libraries too.
    for (SteamGame& game : installed_games(open_steamapps_folder(library))) {
      if (apps.insert(game.appid).second) {
        games.push_back(std::move(game));
      }
    }
  }
  if (games.empty()) {
    return;
  }
  auto launches = launches_in_app_cache(join_path(steam_folder, "/appcache/appinfo.vdf"), apps);
  for (const auto& [app, options] : players_launch_options(steam_folder)) {
    if (const auto launch = launches.find(app); launch != launches.end()) {
      add_launch_options(launch->second, options);
    }
  }
  const std::set<std::uint32_t> other_tools = games_run_by_other_tools(steam_folder);
  const bool adding = run_rules.add_missing;
  for (const SteamGame& game : games) {
    if (other_tools.count(game.appid) == 1) {
      continue;
    }
    // Where Steam starts a launcher or a batch file, the game's own files may tell.
    const auto launch = launches.find(game.appid);
    const auto started =
        launch != launches.end() && names_a_dosbox(launch->second.executable)
            ? std::optional(GameStart{game.folder, launch->second.executable,
                                      launch->second.arguments, launch->second.working_folder})
            : start_in_game_folder(game.folder);
    const auto start = started ? dosbox_start(*started) : std::nullopt;
    if (!start) {
      continue;
    }
    const GameJudgement judged = judge_game(*start, *run_rules.reference, kept, adding);
    for (const std::string& line : judged.lines) {
      lines_.push_back(game.name + ": " + line);
    }
    if (judged.reads_mended_files) {
      known_.push_back({game.folder, judged.lacking});
    }
    if (judged.withheld.empty() && judged.unknown.empty()) {
      continue;  // its files get the run's rules
    }
    const auto folder = Folder::open(game.folder).identity();
    if (!folder) {
      continue;
    }
    auto rules = std::make_unique<GameRules>();
    rules->folder = *folder;
    rules->reference = *run_rules.reference;
    for (const std::string& name : judged.withheld) {
      rules->reference.erase(name);
    }
    rules->kept = kept;
    for (SectionSetting& setting : rules->kept) {
      setting.withheld = names(judged.withheld, setting.name);
      setting.may_add =
          setting.may_add && !setting.withheld && !names(judged.unknown, setting.name);
    }
    rules->rules.kept_in_sections = run_rules.kept_in_sections == nullptr ? nullptr : &rules->kept;
    rules->rules.add_missing = adding;
    games_.push_back(std::move(rules));
  }
}

std::map<FileIdentity, const MendingRules*> GamesJudged::rules_below() const {
  std::map<FileIdentity, const MendingRules*> below;
  for (const auto& game : games_) {
    below[game->folder] = &game->rules;
  }
  return below;
}

void GamesJudged::print_lines() const {
  for (const std::string& line : lines_) {
    print_line(shown_path(line));
  }
}
