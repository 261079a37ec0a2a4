#include "tests/steam_registry.h"

#include "tests/temp_files.h"

std::string steam_registry_file(const std::string& steam_block) {
  return "\"Registry\"\n{\n\t\"HKCU\"\n\t{\n\t\t\"Software\"\n\t\t{\n\t\t\t\"Valve\"\n\t\t\t{\n"
         "\t\t\t\t\"Steam\"\n\t\t\t\t{\n" +
         steam_block + "\n\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n";
}

void point_home_at(const std::string& home, const std::string& steam_folder) {
  make_folders(home + "/.steam");
  write_file(home + "/.steam/registry.vdf",
             steam_registry_file("\"SteamPath\" \"" + steam_folder + "\""));
}
