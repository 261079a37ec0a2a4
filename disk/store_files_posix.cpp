#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "disk/posix_file.h"
#include "disk/store_files.h"

std::string user_state_folder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    return state;
  }
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/state" : "";
}

StoreOwner store_owner_for(const std::string&) {
  StoreOwner owner{static_cast<std::uint32_t>(geteuid()), static_cast<std::uint32_t>(getegid()),
                   false};
  // Root's run in another user's home, as sudo -E leaves it, gives what it makes to the home's
  // owner. Told by the home alone: a store folder another user made must not decide it.
  const char* home = std::getenv("HOME");
  struct stat info {};
  if (owner.user == 0 && home != nullptr && home[0] == '/' && stat(home, &info) == 0 &&
      info.st_uid != 0) {
    owner = {static_cast<std::uint32_t>(info.st_uid), static_cast<std::uint32_t>(info.st_gid),
             true};
  }
  return owner;
}

void give_to_owner(const Folder& folder, const std::string& name, const StoreOwner& owner) {
  if (owner.given) {
    // Left root's, the store refuses itself to its user later, and says so.
    (void)fchownat(static_cast<int>(folder.handle()), name.c_str(), owner.user, owner.group,
                   AT_SYMLINK_NOFOLLOW);
  }
}

bool make_folders(const std::string& path, SystemError& error, const StoreOwner& owner) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (mkdir(part.c_str(), 0700) == 0) {
      if (owner.given) {
        (void)lchown(part.c_str(), owner.user, owner.group);  // as give_to_owner
      }
    } else if (errno != EEXIST) {
      error = last_system_error();
      return false;
    }
    if (end == std::string::npos) {
      break;
    }
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = SystemError{ENOTDIR};
    return false;
  }
  return true;
}

std::optional<std::uint64_t> name_count(const Folder& folder, const std::string& name) {
  struct stat info;
  if (fstatat(static_cast<int>(folder.handle()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_nlink);
}

bool rename_within(const Folder& folder, const std::string& from, const std::string& to,
                   SystemError& error) {
  const int at = static_cast<int>(folder.handle());
  if (renameat(at, from.c_str(), at, to.c_str()) != 0) {
    error = last_system_error();
    return false;
  }
  return true;
}

namespace {

StoreTrust trust_in(const struct stat& info, const std::string& path, const StoreOwner& owner,
                    bool written_by_store) {
  if (info.st_uid != 0 && info.st_uid != owner.user) {
    return {Trust::kOtherOwner, path, static_cast<std::uint32_t>(info.st_uid), "", {}};
  }
  // A link's own mode means nothing; a folder above the store may be shared, as /home is.
  if (written_by_store && !S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return {Trust::kOthersMayWrite, path, static_cast<std::uint32_t>(info.st_uid), "", {}};
  }
  return {};
}

// Every folder and link from the top down to `path`, as it is spelled.
StoreTrust trust_in_path(const std::string& path, const StoreOwner& owner) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    struct stat info {};
    if (lstat(part.c_str(), &info) != 0) {
      return {Trust::kCannotTell, part, 0, "", last_system_error()};
    }
    StoreTrust trust = trust_in(info, part, owner, end == std::string::npos);
    if (trust.trust != Trust::kPrivate || end == std::string::npos) {
      return trust;
    }
  }
}

}  // namespace

StoreTrust trust_in_store(const std::string& store, const StoreOwner& owner) {
  StoreTrust trust = trust_in_path(store, owner);
  if (trust.trust != Trust::kPrivate) {
    return trust;
  }
  // And where its links lead, folder by folder.
  char* resolved = realpath(store.c_str(), nullptr);
  if (resolved == nullptr) {
    return {Trust::kCannotTell, store, 0, "", last_system_error()};
  }
  const std::string real(resolved);
  std::free(resolved);
  return real == store ? trust : trust_in_path(real, owner);
}

StoreTrust trust_in_store_item(const Folder& folder, const std::string& name,
                               const StoreOwner& owner) {
  struct stat info {};
  if (fstatat(static_cast<int>(folder.handle()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return {Trust::kCannotTell, folder.path_of(name), 0, "", last_system_error()};
  }
  return trust_in(info, folder.path_of(name), owner, true);
}

HeldFile::~HeldFile() {
  if (handle_ != -1) {
    (void)close(static_cast<int>(handle_));  // which lets the lock go, failing or not
  }
}

HeldFile HeldFile::create(const Folder& folder, const std::string& name, SystemError& error) {
  HeldFile file;
  const int fd = open_retrying(static_cast<int>(folder.handle()), name.c_str(),
                               O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX) != 0) {
    error = last_system_error();
    if (fd >= 0) {
      (void)close(fd);  // refused a lock on a file it just made: nothing to keep
    }
    return file;
  }
  file.handle_ = fd;
  return file;
}

bool is_file_held(const Folder& folder, const std::string& name) {
  const int fd = open_retrying(static_cast<int>(folder.handle()), name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  (void)close(fd);  // a descriptor only read through: nothing is lost
  return held;
}

std::string local_date_time(std::int64_t seconds) {
  const auto moment = static_cast<time_t>(seconds);
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&moment, &local) != nullptr) {
    (void)std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);  // always fits
  }
  return text;
}

void remove_file_in(const Folder& folder, const std::string& name) {
  (void)unlinkat(static_cast<int>(folder.handle()), name.c_str(), 0);
}

void remove_empty_folder_in(const Folder& folder, const std::string& name) {
  const int at = static_cast<int>(folder.handle());
  if (unlinkat(at, name.c_str(), AT_REMOVEDIR) != 0 && errno == ENOTDIR) {
    (void)unlinkat(at, name.c_str(), 0);  // a link to a folder
  }
}

void AppendedFile::close() {
  if (handle_ != -1) {
    (void)::close(static_cast<int>(handle_));  // written and flushed already: nothing is lost
    handle_ = -1;
  }
}

AppendedFile AppendedFile::create(const Folder& folder, const std::string& name,
                                  SystemError& error) {
  AppendedFile file;
  const int fd = open_retrying(static_cast<int>(folder.handle()), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = last_system_error();
  }
  file.handle_ = fd;
  return file;
}
