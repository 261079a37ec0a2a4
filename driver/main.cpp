#include "driver/console.h"
#include "settings/setting_table.h"

int main() {
  prepare_console();
  const SettingTable reference = load_reference_settings("dosbox.conf");
  (void)reference;
  pause_console();
  return 0;
}
