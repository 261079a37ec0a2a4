#include "mending/config_search.h"

#include <set>
#include <string_view>

#include "console/console.h"
#include "mending/config_rewriter.h"
#include "mending/folder_listing.h"

namespace {

using WalkedFolders = std::set<FolderIdentity>;

std::string entry_path(const std::string& folder, const std::string& name) {
  return join_path(join_path(folder, "/"), name);
}

bool is_config_file_name(std::string_view name) {
  constexpr std::string_view kEnding = ".conf";
  return name.size() > kEnding.size() && name.ends_with(kEnding);
}

void search_folder(const SettingTable& reference, const std::string& folder,
                   WalkedFolders& walked) {
  FolderListing listing(folder);
  if (!listing.is_open()) {
    return;
  }
  if (const auto identity = listing.identity(); identity && !walked.insert(*identity).second) {
    return;
  }
  FolderEntry entry;
  while (listing.next(entry)) {
    if (entry.kind == EntryKind::kFolder) {
      if (entry.name != "." && entry.name != "..") {
        search_folder(reference, entry_path(folder, entry.name), walked);
      }
    } else if (entry.kind == EntryKind::kFile && is_config_file_name(entry.name)) {
      const std::string path = entry_path(folder, entry.name);
      print_line("Found: " + path);
      rewrite_config_file(reference, path);
    }
  }
}

}  // namespace

std::string join_path(const std::string& a, const std::string& b) {
  return a + b;
}

void search_config_files(const SettingTable& reference, const std::string& folder) {
  WalkedFolders walked;
  search_folder(reference, folder, walked);
}
