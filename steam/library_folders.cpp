#include "steam/library_folders.h"

#include <algorithm>
#include <optional>
#include <set>

#include "disk/whole_file.h"
#include "steam/key_values.h"

namespace {

// Steam writes a few kilobytes; a larger file is none of Steam's.
constexpr std::size_t kLargestList = 16 << 20;

// Takes each library of a "libraryfolders" block: a numbered text value (the old form), or a
// numbered block's "path" and "mounted".
class LibraryList : public KeyValuesReader {
 public:
  void text_value(std::size_t depth, std::string_view key, std::string&& value) override {
    if (depth == 0 && is_number_key(key)) {
      paths_.push_back(std::move(value));
    } else if (depth == 1 && in_entry_ && same_key(key, "path") && !path_) {
      path_ = std::move(value);
    } else if (depth == 1 && in_entry_ && same_key(key, "mounted") && !mounted_) {
      mounted_ = std::move(value);
    }
  }
  void block_begins(std::size_t depth, std::string_view key) override {
    if (depth == 0) {
      in_entry_ = is_number_key(key);
      path_.reset();
      mounted_.reset();
    }
  }
  void block_ends(std::size_t depth) override {
    if (depth == 0 && in_entry_ && path_ && mounted_ != "0") {
      paths_.push_back(std::move(*path_));
    }
    if (depth == 0) {
      in_entry_ = false;
    }
  }
  std::vector<std::string> paths() && { return std::move(paths_); }

 private:
  std::vector<std::string> paths_;
  bool in_entry_ = false;
  std::optional<std::string> path_, mounted_;
};

std::string outside_sandbox(const std::string& path, const std::vector<SandboxPath>& sandbox) {
  for (const SandboxPath& folder : sandbox) {
    if (path == folder.inside ||
        (path.starts_with(folder.inside) && path[folder.inside.size()] == '/')) {
      return folder.outside + path.substr(folder.inside.size());
    }
  }
  return path;
}

bool is_steamapps(std::string_view name) {
  return same_key(name, "steamapps");
}

}  // namespace

std::vector<std::string> library_paths_in(std::string_view text) {
  LibraryList list;
  if (!read_key_values(text, {"libraryfolders"}, list)) {
    return {};
  }
  return std::move(list).paths();
}

std::vector<std::string> further_steam_libraries(const std::string& steam_folder,
                                                 const std::vector<SandboxPath>& sandbox) {
  const Folder steamapps = open_steamapps_folder(steam_folder);
  const std::string lists[] = {
      steamapps.is_open() ? join_path(steamapps.path(), "/libraryfolders.vdf") : "",
      join_path(steam_folder, "/config/libraryfolders.vdf")};
  std::vector<std::string> libraries;
  std::set<std::string> listed_before;
  for (const std::string& list : lists) {
    std::string text;
    if (list.empty() || read_whole_file(list, text, kLargestList) != FileOutcome::kUnchanged) {
      continue;
    }
    for (const std::string& listed : library_paths_in(text)) {
      // A relative path would be taken from wherever the run was started.
      const std::string path = outside_sandbox(listed, sandbox);
      if (is_absolute_path(path) && listed_before.insert(path).second) {
        libraries.push_back(path);
      }
    }
  }
  return libraries;
}

Folder open_steamapps_folder(const std::string& library) {
  const Folder folder = Folder::open(library);
  std::vector<FolderEntry> entries;
  if (!folder.is_open() || !folder.list(entries)) {
    return Folder();
  }
  // The exact name first, where a folder holds both spellings.
  const auto exact = std::find_if(entries.begin(), entries.end(), [](const FolderEntry& entry) {
    return entry.kind == EntryKind::kFolder && entry.name == "steamapps";
  });
  const auto found = exact != entries.end()
                         ? exact
                         : std::find_if(entries.begin(), entries.end(), [](const FolderEntry& e) {
                             return e.kind == EntryKind::kFolder && is_steamapps(e.name);
                           });
  if (found == entries.end()) {
    return Folder();
  }
  // A library at a drive's root ("E:\\") has its separator already.
  const bool separated = library.ends_with('/') || (kBackslashSeparates && library.ends_with('\\'));
  return separated ? Folder::open(library + found->name)
                   : folder.open_folder(found->name, Follow::kLinks);
}
