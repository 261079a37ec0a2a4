#ifndef CONFMEND_MENDING_FOLDER_LISTING_H_
#define CONFMEND_MENDING_FOLDER_LISTING_H_

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

enum class EntryKind {
  kFolder,  // a folder, or a link to one
  kFile,    // a regular file, a link to one, or a link that leads nowhere
  kOther,   // a pipe, socket or device: never opened
};

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;
};

// What makes a folder the same folder whatever path reaches it.
struct FolderIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
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
  // The next entry; false at the end of the listing or on an error.
  bool next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif  // CONFMEND_MENDING_FOLDER_LISTING_H_
