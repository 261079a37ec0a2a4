#include "mending/config_search.h"

#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "disk/file_writing.h"
#include "mending/config_rewriter.h"
#include "mending/folder_listing.h"

namespace {

struct Walk {
  const SettingTable& reference;
  // Where the Steam folder really is: nothing that lies elsewhere is read or written, however
  // a link inside leads there (Proton's dosdevices/z: leads to "/").
  std::optional<std::string> bounds;
  std::set<FolderIdentity> walked;

  // The first folder asked about is the Steam folder itself, and sets the bounds.
  bool admits_folder(const std::optional<std::string>& location) {
    if (!location) {
      return false;
    }
    if (!bounds) {
      bounds = location;
    }
    return lies_within(*location, *bounds);
  }

  // A file whose location cannot be told (a link that leads nowhere) is still announced, and
  // then reported as unreadable.
  bool admits_file(const FolderEntry& entry, const std::string& path) const {
    if (entry.plain) {
      return true;
    }
    const auto location = real_location(path);
    return !location || lies_within(*location, *bounds);
  }
};

std::string entry_path(const std::string& folder, const std::string& name) {
  return join_path(join_path(folder, "/"), name);
}

bool is_config_file_name(std::string_view name) {
  constexpr std::string_view kEnding = ".conf";
  return name.size() > kEnding.size() && name.ends_with(kEnding);
}

// The whole listing, read before any file in the folder is replaced: a new file renamed into
// a folder being listed may be listed again (btrfs, FAT), and would be mended again.
bool list_folder(Walk& walk, const std::string& folder, std::vector<FolderEntry>& entries) {
  FolderListing listing(folder);
  if (!listing.is_open() || !walk.admits_folder(listing.location())) {
    return false;
  }
  if (const auto identity = listing.identity(); identity && !walk.walked.insert(*identity).second) {
    return false;
  }
  for (FolderEntry entry; listing.next(entry);) {
    entries.push_back(std::move(entry));
  }
  return true;
}

void search_folder(Walk& walk, const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (!list_folder(walk, folder, entries)) {
    return;
  }
  for (const FolderEntry& entry : entries) {
    if (entry.kind == EntryKind::kFolder) {
      if (entry.name != "." && entry.name != "..") {
        search_folder(walk, entry_path(folder, entry.name));
      }
    } else if (entry.kind == EntryKind::kFile && is_config_file_name(entry.name)) {
      const std::string path = entry_path(folder, entry.name);
      if (walk.admits_file(entry, path)) {
        print_line("Found: " + path);
        rewrite_config_file(walk.reference, path);
      }
    } else if (entry.kind == EntryKind::kFile && is_replacement_name(entry.name)) {
      remove_leftover_replacement(entry_path(folder, entry.name));
    }
  }
}

}  // namespace

std::string join_path(const std::string& a, const std::string& b) {
  return a + b;
}

void search_config_files(const SettingTable& reference, const std::string& folder) {
  Walk walk{reference, std::nullopt, {}};
  search_folder(walk, folder);
}
