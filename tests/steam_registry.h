#ifndef CONFMEND_TESTS_STEAM_REGISTRY_H_
#define CONFMEND_TESTS_STEAM_REGISTRY_H_

#include <string>

// The text of a Steam registry file with this block as HKCU/Software/Valve/Steam.
std::string steam_registry_file(const std::string& steam_block);

// Gives `home` a Steam registry file whose "SteamPath" names `steam_folder`.
void point_home_at(const std::string& home, const std::string& steam_folder);

#endif  // CONFMEND_TESTS_STEAM_REGISTRY_H_
