#ifndef CONFMEND_DISK_STORE_FILES_H_
#define CONFMEND_DISK_STORE_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "disk/folder.h"
#include "disk/system_error.h"

// The program's own files, apart from the games': the undo store in the user's state folder.

// Where this user's programs keep what they must remember: on POSIX $XDG_STATE_HOME, or
// ~/.local/state where that is unset or no absolute path; on Windows %LOCALAPPDATA%. Empty
// when neither can be told.
std::string user_state_folder();

// Makes the folder, and every folder above it that is missing. True when it is there.
bool make_folders(const std::string& path, SystemError& error);

// Makes the file `name` in the folder, which must not be there, with exactly these bytes,
// and flushes them to stable storage; the caller flushes the folder. A file that cannot be
// written whole is removed.
bool create_file_flushed(const Folder& folder, const std::string& name, std::string_view bytes,
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
  bool broken_ = false;  // a record could not be cut off: nothing more is appended
};

// Removes the folder `name` in the folder with everything in it, files and folders; what
// cannot be removed stays.
void remove_folder_tree(const Folder& folder, const std::string& name);

#endif  // CONFMEND_DISK_STORE_FILES_H_
