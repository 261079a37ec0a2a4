#ifndef CONFMEND_DISK_FOLDER_H_
#define CONFMEND_DISK_FOLDER_H_

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What makes a file or folder the same one whatever path reaches it: its volume and its
// number there.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index[2] = {0, 0};
  auto operator<=>(const FileIdentity&) const = default;
};

enum class EntryKind {
  kFolder,  // a folder, or a link to one
  kFile,    // a regular file, a link to one, or a link that leads nowhere
  kOther,   // a pipe, socket or device: never opened
};

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;
  // A link, or, where the platform cannot tell (Wine shows a Unix link as what it leads to),
  // perhaps one: where it leads must be judged. False only for what is known to lie where
  // its name says.
  bool may_be_link = true;
};

enum class Follow { kNoLink, kLinks };

// A folder held open. What lies in it is reached through it rather than by a path looked up
// again, so that a folder swapped for a link during a run leads nowhere and paths of any
// length are reached; its path is kept to be shown. On Windows, which opens nothing relative
// to a folder, what is opened by path is checked instead.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // The folder at `path`, every link on the way followed.
  static Folder open(const std::string& path);
  // The folder named `name` in this one, shown as this one's path, "/" and the name. A link
  // is followed only with Follow::kLinks.
  Folder open_folder(std::string_view name, Follow follow) const;

  bool is_open() const { return handle_ != kNoHandle; }
  const std::string& path() const { return path_; }
  // The path of `name` in this folder, as it is shown: the folder's path, "/" and the name.
  std::string path_of(std::string_view name) const;
  // Unknown when the platform cannot tell; such a folder is never taken for another.
  std::optional<FileIdentity> identity() const;
  // Every entry, in the order the platform lists them, without "." and "..". False when the
  // folder cannot be listed.
  bool list(std::vector<FolderEntry>& entries) const;
  // Whether this folder is `bounds` or lies below it, however links led to either: asked of
  // the file system, by what the folders are, not by how they are spelled. False when it
  // cannot be told.
  bool lies_within(const Folder& bounds) const;
  // This folder's identity, then those of every folder above it to the root of its file
  // system, however links led here; only as far as can be told.
  std::vector<FileIdentity> lineage() const;
  // Makes the names in the folder last as its files do, after files were renamed into it.
  void flush() const;

  // The platform's handle: a descriptor on POSIX, a HANDLE on Windows. For disk/ alone.
  std::intptr_t handle() const { return handle_; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  Folder(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}
  void close();

  std::string path_;
  std::intptr_t handle_ = kNoHandle;
};

// Whether "\\" separates the names in a path, as "/" does (Windows).
extern const bool kBackslashSeparates;

// How many files and folders the process may hold open at once.
std::size_t most_open_files();

// Plain concatenation: no separator is added or removed.
std::string join_path(const std::string& a, const std::string& b);

// Whether the path names its place from the top of a file system ("/..."; on Windows "C:\...",
// "C:/..." or "\\server\share"), not from the working folder.
bool is_absolute_path(std::string_view path);

// Whether anything (a file, a folder, a link) has this path.
bool path_exists(const std::string& path);

// The folder the process was started in, as a full path; empty when it cannot be told.
std::string working_folder();

// Where a file in a folder really lies, when it may be a link.
enum class FilePlaceKind {
  kHere,       // in this folder, under this name: no link
  kElsewhere,  // a link to a file: `folder` and `name` tell where that file lies
  kNowhere,    // a link that leads to no file
  kUntold,     // a link whose target cannot be told: never to be followed
};
struct FilePlace {
  FilePlaceKind kind = FilePlaceKind::kUntold;
  Folder folder;
  std::string name;
};
FilePlace place_of_file(const Folder& folder, std::string_view name);

#endif  // CONFMEND_DISK_FOLDER_H_
