#ifndef CONFMEND_DISK_STORE_FILES_H_
#define CONFMEND_DISK_STORE_FILES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "disk/folder.h"
#include "disk/system_error.h"

// The program's own files, apart from the games': the undo store in the user's state folder.

// Where this user's programs keep what they must remember: on POSIX $XDG_STATE_HOME, or
// ~/.local/state where that is unset or no absolute path; on Windows %LOCALAPPDATA%. Empty
// when neither can be told.
std::string user_state_folder();

// Whom the store belongs to: the user running confmend or, for a run as root in another user's
// home (sudo -E keeps HOME), that user, who is given everything the run makes there so
// that their own runs can read and prune it. Windows: the user running confmend.
struct StoreOwner {
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  bool given = false;  // what the store makes is given to `user`
};
StoreOwner store_owner_for(const std::string& store);

// Makes the folder, and every folder above it that is missing, each given to `owner`. True
// when it is there.
bool make_folders(const std::string& path, SystemError& error, const StoreOwner& owner = {});

// Gives the file or folder `name` in the folder to the store's owner, where it is to be given.
void give_to_owner(const Folder& folder, const std::string& name, const StoreOwner& owner);

// Whether only the store's owner could have put what is in the store there. On POSIX: the
// store and every folder and link on its path belong to that user or to root, and the store
// and what it holds may be written by nobody else. On Windows: the store and what it holds
// belong to the user (or to SYSTEM or the Administrators), and their access control lists let
// nobody else write. Where it may not, what and why.
enum class Trust {
  kPrivate,
  kOtherOwner,
  kOthersMayWrite,
  kCannotTell,
  kAltered,  // a kept old file no longer holds what it held when it was kept
};
struct StoreTrust {
  Trust trust = Trust::kPrivate;
  std::string path;         // what is not private
  std::uint32_t owner = 0;  // whom it belongs to (POSIX: the user's number, 0 for root)
  std::string owner_name;   // Windows: the account it belongs to, as Windows names it
  SystemError error;        // kCannotTell: why
};
StoreTrust trust_in_store(const std::string& store, const StoreOwner& owner);
// The same of the file or folder `name` in a folder of the store, never through a link.
StoreTrust trust_in_store_item(const Folder& folder, const std::string& name,
                               const StoreOwner& owner);

// A file that this process holds for as long as it lives, so that another process can tell
// whether it still does: the mark of a run that goes on, as against one that ended or was
// killed.
//
//   HeldFile mark = HeldFile::create(entry, "run", error);  // held until it is destroyed
//   is_file_held(entry, "run");                              // in another process: true
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Makes the empty file `name` in the folder, which must not be there, and holds it.
  static HeldFile create(const Folder& folder, const std::string& name, SystemError& error);
  bool is_open() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};
bool is_file_held(const Folder& folder, const std::string& name);

// The local date and time of a moment given in seconds since 1970, as "2026-12-09 14:03".
std::string local_date_time(std::int64_t seconds);

// Makes the file `name` in the folder, which must not be there, with exactly these bytes,
// and flushes them to stable storage; the caller flushes the folder. A file that cannot be
// written whole is removed.
bool create_file_flushed(const Folder& folder, const std::string& name, std::string_view bytes,
                         SystemError& error);

// How many names the file `name` in the folder has (hard links); none when it cannot be told.
std::optional<std::uint64_t> name_count(const Folder& folder, const std::string& name);

// Gives the file `from` in the folder the name `to` in one step, in place of any file of that
// name; the caller flushes the folder.
bool rename_within(const Folder& folder, const std::string& from, const std::string& to,
                   SystemError& error);

// A file of the store that records are appended to, each flushed to stable storage before
// append() returns: a flush of the file alone, its name made lasting once, when it is made.
class AppendedFile {
 public:
  AppendedFile() = default;
  ~AppendedFile();
  AppendedFile(AppendedFile&& other) noexcept;
  AppendedFile& operator=(AppendedFile&& other) noexcept;
  AppendedFile(const AppendedFile&) = delete;
  AppendedFile& operator=(const AppendedFile&) = delete;

  // Makes the file `name` in the folder, which must not be there; the caller flushes the folder.
  static AppendedFile create(const Folder& folder, const std::string& name, SystemError& error);
  bool is_open() const { return handle_ != -1; }
  // Appends the two pieces, one after the other, and flushes them. A record that cannot be
  // written whole is cut off again, so that what follows it can still be read; false then.
  bool append(std::string_view first, std::string_view second, SystemError& error);

 private:
  void close();
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
  SystemError broken_;  // why a record could not be cut off: nothing more is appended
};

// Removes the folder `name` in the folder with everything in it, files and folders; what
// cannot be removed stays.
void remove_folder_tree(const Folder& folder, const std::string& name);

// The platform's part, for store_files.cpp alone: removing one file, or one empty folder (or
// a link to a folder), by its name in the folder; what cannot be removed stays.
void remove_file_in(const Folder& folder, const std::string& name);
void remove_empty_folder_in(const Folder& folder, const std::string& name);

#endif  // CONFMEND_DISK_STORE_FILES_H_
