#ifndef CONFMEND_MENDING_CONFIG_SEARCH_H_
#define CONFMEND_MENDING_CONFIG_SEARCH_H_

#include <string>

#include "settings/setting_table.h"

// Plain concatenation: no separator is added or removed.
std::string join_path(const std::string& a, const std::string& b);

// Walks the folder and everything below it, depth first in listing order, and for every file
// whose name ends in ".conf" (and is longer than that) prints "Found: " and its path, then
// rewrites it. Links are followed where they lead below the folder, and only there, so that
// nothing outside it is ever read or written; each real folder is walked at most once.
void search_config_files(const SettingTable& reference, const std::string& folder);

#endif  // CONFMEND_MENDING_CONFIG_SEARCH_H_
