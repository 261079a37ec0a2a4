#include "console/console.h"
#include "mending/config_search.h"
#include "settings/setting_table.h"
#include "steam/steam_path.h"

int main() {
  prepare_console();
  const SettingTable reference = load_reference_settings("dosbox.conf");
  const std::string root = get_steam_path();
  print_line(root);
  search_config_files(reference, root);
  pause_console();
  return 0;
}
