#ifndef CONFMEND_MENDING_FOLDER_LISTING_H_
#define CONFMEND_MENDING_FOLDER_LISTING_H_

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class EntryKind {
  kFolder,  // a folder, or a link to one
  kFile,    // a regular file, a link to one, or a link that leads nowhere
  kOther,   // a pipe, socket or device: never opened
};

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;
  // Known to be no link, so it lies where its name says. Where the platform cannot tell
  // (Wine shows a Unix link as what it leads to), the entry's real location must be asked.
  bool plain = false;
};

// What makes a folder the same folder whatever path reaches it.
struct FolderIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index[2] = {0, 0};
  auto operator<=>(const FolderIdentity&) const = default;
};

// The entries of one folder, in the order the platform lists them; "." and ".." may be among
// them. The listing stays open while the object lives.
class FolderListing {
 public:
  explicit FolderListing(const std::string& folder);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  bool is_open() const;
  // Unknown when the platform cannot tell; such a folder is never taken for another.
  std::optional<FolderIdentity> identity() const;
  // Where the listed folder really is, every link on its way resolved; unknown when the
  // platform cannot tell.
  std::optional<std::string> location() const;
  // The next entry; false at the end of the listing or on an error.
  bool next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Where the file at `path` really is, every link resolved; unknown when that cannot be told,
// as for a link that leads nowhere.
std::optional<std::string> real_location(const std::string& path);

// What separates the names of a location: "/", or "\" on Windows.
extern const char kLocationSeparator;

// Whether `location` is `folder` itself or lies below it; both as location() and
// real_location() give them.
inline bool lies_within(std::string_view location, std::string_view folder) {
  return location.starts_with(folder) &&
         (location.size() == folder.size() || folder.ends_with(kLocationSeparator) ||
          location[folder.size()] == kLocationSeparator);
}

#endif  // CONFMEND_MENDING_FOLDER_LISTING_H_
