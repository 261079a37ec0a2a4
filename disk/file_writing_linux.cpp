#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "disk/file_writing.h"
#include "disk/posix_file.h"

namespace {

// A descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { (void)close(); }  // where it matters, the writer closes first and asks
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  void reset(int fd) {
    (void)close();  // only ever one read through
    fd_ = fd;
  }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up, for the caller to close.
  void release() { fd_ = -1; }
  bool close() {
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

int at(const Folder& folder) {
  return static_cast<int>(folder.handle());
}

// How long a writer that holds the file open is waited for.
constexpr auto kWriterWait = std::chrono::seconds(2);

// The file opened again for the last look before it is touched, with a read lease where the
// system grants one (to the file's owner, or with CAP_LEASE): no other program then holds it
// open for writing, and one that opens it for writing from now on breaks the lease. Closing
// it lets the lease go; this program's own open for writing would break it, so it goes first.
struct LastLook {
  Descriptor file{-1};
  bool leased = false;
  // False once a program has opened the file for writing since the lease was taken.
  bool undisturbed() const { return !leased || fcntl(file.get(), F_GETLEASE) == F_RDLCK; }
};

// Opens the name again, never through a link, and finds it exactly as it was read
// (kUnchanged); a writer that holds it open is waited out.
FileOutcome recheck(const Folder& folder, const std::string& name, const FileAsRead& read,
                    LastLook& look) {
  look.file.reset(
      open_retrying(at(folder), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!look.file) {
    return FileOutcome::kKeptChanging;
  }
  const auto give_up = std::chrono::steady_clock::now() + kWriterWait;
  for (;;) {
    if (fcntl(look.file.get(), F_SETLEASE, F_RDLCK) == 0) {
      look.leased = true;
      break;
    }
    if (errno != EAGAIN) {
      break;  // not the owner's, or a file system without leases
    }
    if (std::chrono::steady_clock::now() >= give_up) {
      return FileOutcome::kInUse;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  struct stat now;
  if (fstat(look.file.get(), &now) != 0 || !S_ISREG(now.st_mode) || stamp_of(now) != read.stamp ||
      !holds_exactly(look.file.get(), read.bytes)) {
    return FileOutcome::kKeptChanging;
  }
  return FileOutcome::kUnchanged;
}

// The value of an attribute, or the list of names; `ok` turns false when it cannot be read.
template <typename Get>
std::vector<char> attribute_bytes(const Get& get, bool& ok) {
  std::vector<char> value;
  for (;;) {
    const ssize_t size = get(value.data(), value.size());
    if (size >= 0 && static_cast<std::size_t>(size) <= value.size()) {
      value.resize(static_cast<std::size_t>(size));
      return value;
    }
    if (size < 0 && errno != ERANGE) {
      ok = false;
      return value;
    }
    value.resize(value.empty() ? 256 : value.size() * 2);
  }
}

std::vector<std::string> attribute_names(int fd, bool& ok) {
  const std::vector<char> list = attribute_bytes(
      [&](char* names, std::size_t size) { return flistxattr(fd, names, size); }, ok);
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    names.emplace_back(list.data() + start);
    start += names.back().size() + 1;
  }
  return names;
}

// Gives the temporary file exactly the extended attributes of the old one, ACLs included: each of
// the old file's, and none besides (not the default ACL a folder hands down). False when one
// cannot be given or taken away (an SELinux label the user may not set, say).
bool carry_extended_attributes(int from, int to) {
  bool ok = true;
  const std::vector<std::string> names = attribute_names(from, ok);
  if (!ok) {
    return errno == ENOTSUP;  // a file system without them
  }
  for (const std::string& name : names) {
    const std::vector<char> value = attribute_bytes(
        [&](char* data, std::size_t size) { return fgetxattr(from, name.c_str(), data, size); },
        ok);
    if (!ok) {
      return false;
    }
    // The temporary file may have it already (an SELinux label given by the folder).
    std::vector<char> present(value.size() + 1);
    const ssize_t size = fgetxattr(to, name.c_str(), present.data(), present.size());
    if (size == static_cast<ssize_t>(value.size()) &&
        std::equal(value.begin(), value.end(), present.begin())) {
      continue;
    }
    if (fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  for (const std::string& name : attribute_names(to, ok)) {
    if (std::find(names.begin(), names.end(), name) == names.end() &&
        fremovexattr(to, name.c_str()) != 0) {
      return false;
    }
  }
  return ok;
}

// Owner and group first (a change of owner clears the set-ID bits), then the attributes.
// The permission bits come after the bytes (see carry_mode).
bool carry_identity(int from, const struct stat& old, int to) {
  struct stat now;
  if (fstat(to, &now) != 0) {
    return false;
  }
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      fchown(to, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  return carry_extended_attributes(from, to);
}

// Last: a write clears the set-ID bits, and an ACL sets some of the bits.
bool carry_mode(const struct stat& old, int to) {
  struct stat now;
  return fstat(to, &now) == 0 &&
         ((now.st_mode & 07777) == (old.st_mode & 07777) || fchmod(to, old.st_mode & 07777) == 0);
}

// A folder that takes no temporary file, for lack of permission, leaves only the in-place write.
bool refuses_new_files(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// The temporary files this run is writing. A file reached through a link is written in a
// folder the walk may list later, and a temporary file is made before it can be locked: the
// walk must never take one of these for a leftover.
std::mutex being_written_guard;
std::set<std::string> being_written;

bool is_being_written(const std::string& name) {
  const std::lock_guard lock(being_written_guard);
  return being_written.count(name) == 1;
}

// Holds the name as one this run is writing, until it is gone.
class WrittenHere {
 public:
  WrittenHere() = default;
  ~WrittenHere() { forget(); }
  WrittenHere(const WrittenHere&) = delete;
  WrittenHere& operator=(const WrittenHere&) = delete;
  // False when the name is this run's already (another thread chose the same number).
  bool take(const std::string& name) {
    forget();
    const std::lock_guard lock(being_written_guard);
    if (!being_written.insert(name).second) {
      return false;
    }
    name_ = name;
    return true;
  }

 private:
  void forget() {
    if (!name_.empty()) {
      const std::lock_guard lock(being_written_guard);
      being_written.erase(name_);
      name_.clear();
    }
  }
  std::string name_;
};

}  // namespace

// The file the last look holds open, linked through the process's own view of it: the very
// file that was found as read, whatever has taken its name since.
class LookedAtFile : public OldFile {
 public:
  bool link_into(const Folder& folder, const std::string& name, SystemError& error) const override {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), at(folder), name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      error = last_system_error();
      return false;
    }
    return true;
  }

  int fd = -1;
};

struct Replacement {
  const Folder* folder = nullptr;
  std::string name;
  Descriptor old{-1};
  struct stat old_info {};
  WrittenHere written_here;  // outlives the temporary file's name: declared before it
  std::string fresh_name;
  Descriptor fresh{-1};
  LastLook look;
  LookedAtFile looked;
};

void ReplacementDeleter::operator()(Replacement* replacement) const {
  delete replacement;
}

const bool kOldFilesLink = true;

FileOutcome look_at_old_file(const Folder& folder, const std::string& name, const FileAsRead& read,
                             ReplacementHeld& replacement, SystemError& error) {
  replacement.reset(new Replacement);
  replacement->folder = &folder;
  replacement->name = name;
  replacement->old.reset(
      open_retrying(at(folder), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat& old = replacement->old_info;
  if (!replacement->old || fstat(replacement->old.get(), &old) != 0 || !S_ISREG(old.st_mode) ||
      stamp_of(old) != read.stamp) {
    return FileOutcome::kKeptChanging;
  }
  if (old.st_nlink > 1) {
    return FileOutcome::kInPlaceOnly;
  }
  // A rename needs no permission on the file itself: ask for it, so that a read-only file
  // stays read-only.
  return may_write_file_in(folder, name, error) ? FileOutcome::kUnchanged
                                                : FileOutcome::kCannotWrite;
}

Creation create_replacement(Replacement& replacement, const std::string& name, SystemError& error) {
  if (!replacement.written_here.take(name)) {
    return Creation::kNameTaken;  // another thread chose the same number
  }
  replacement.fresh.reset(open_retrying(at(*replacement.folder), name.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                        0600));
  if (!replacement.fresh) {
    error = last_system_error();
    return errno == EEXIST ? Creation::kNameTaken : Creation::kRefused;
  }
  // The lock tells other runs that the file is being written, not left over. No other run can
  // hold a file just made, so the lock is never refused; were it refused, another run could
  // only take the file for a leftover and remove it, and the rename would fail.
  (void)flock(replacement.fresh.get(), LOCK_EX | LOCK_NB);
  replacement.fresh_name = name;
  return Creation::kMade;
}

bool refuses_new_files(SystemError error) {
  return refuses_new_files(error.code);
}

FileOutcome carry_metadata(Replacement& replacement) {
  return carry_identity(replacement.old.get(), replacement.old_info, replacement.fresh.get())
             ? FileOutcome::kUnchanged
             : FileOutcome::kInPlaceOnly;
}

bool write_replacement(Replacement& replacement, std::string_view bytes, SystemError& error) {
  const int fd = replacement.fresh.get();
  if (!write_all(fd, bytes, 0) || !carry_mode(replacement.old_info, fd) || fsync(fd) != 0) {
    error = last_system_error();
    return false;
  }
  return true;
}

FileOutcome look_last(Replacement& replacement, const FileAsRead& read) {
  const FileOutcome look = recheck(*replacement.folder, replacement.name, read, replacement.look);
  if (look != FileOutcome::kUnchanged) {
    return look;
  }
  replacement.looked.fd = replacement.look.file.get();
  return replacement.look.undisturbed() ? FileOutcome::kUnchanged : FileOutcome::kKeptChanging;
}

const OldFile& looked_at_file(Replacement& replacement) {
  return replacement.looked;
}

FileOutcome rename_replacement(Replacement& replacement, SystemError& error) {
  const int folder = at(*replacement.folder);
  if (renameat(folder, replacement.fresh_name.c_str(), folder, replacement.name.c_str()) != 0) {
    error = last_system_error();
    return refuses_new_files(error) ? FileOutcome::kInPlaceOnly : FileOutcome::kCannotWrite;
  }
  return FileOutcome::kChanged;
}

void discard_replacement(Replacement& replacement) {
  if (!replacement.fresh_name.empty()) {
    (void)unlinkat(at(*replacement.folder), replacement.fresh_name.c_str(), 0);
  }
}

bool past_file_size_limit(std::uint64_t size, SystemError& error) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    error = SystemError{EFBIG};
    return true;
  }
  return false;
}

// The lease, if any, goes with the look, before this run's own open for writing.
FileOutcome look_before_writing(const Folder& folder, const std::string& name,
                                const FileAsRead& read) {
  LastLook look;
  return recheck(folder, name, read, look);
}

// Non-blocking, so that a pipe put in the file's place is not waited on.
FileToWrite open_to_write_over(const Folder& folder, const std::string& name, const FileStamp& read,
                               FileOutcome& refused, SystemError& error) {
  Descriptor file(
      open_retrying(at(folder), name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!file || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = last_system_error();
    refused = FileOutcome::kCannotWrite;
    return {};
  }
  if (stamp_of(info) != read) {
    refused = FileOutcome::kKeptChanging;
    return {};
  }
  const int fd = file.get();
  file.release();
  return {fd, static_cast<std::uint32_t>(info.st_mode & 07777)};
}

bool write_at(std::intptr_t file, std::string_view bytes, std::uint64_t at) {
  return write_all(static_cast<int>(file), bytes, static_cast<off_t>(at));
}

bool set_file_size(std::intptr_t file, std::uint64_t size) {
  return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0;
}

bool flush_file(std::intptr_t file) {
  return fsync(static_cast<int>(file)) == 0;
}

// Only the owner may set the set-ID bits again, and a writer who is not keeps the mode the
// system left: no failure of the write.
void close_written_file(const FileToWrite& file) {
  const int fd = static_cast<int>(file.handle);
  struct stat now;
  if (fstat(fd, &now) == 0 && (now.st_mode & 07777) != file.mode) {
    (void)fchmod(fd, file.mode);
  }
  (void)close(fd);  // flushed already; what is written stays
}

long long read_at(std::intptr_t file, char* buffer, std::size_t size, std::uint64_t at) {
  for (;;) {
    const ssize_t got = pread(static_cast<int>(file), buffer, size, static_cast<off_t>(at));
    if (got >= 0 || errno != EINTR) {
      return got;
    }
  }
}

bool may_write_file_in(const Folder& folder, const std::string& name, SystemError& error) {
  if (faccessat(at(folder), name.c_str(), W_OK, AT_EACCESS) == 0) {
    return true;
  }
  error = last_system_error();
  return false;
}

// Only what nobody holds: a temporary file that another run is writing is locked by it.
void remove_leftover_replacement(const Folder& folder, const std::string& name) {
  if (is_being_written(name)) {
    return;
  }
  const Descriptor file(
      open_retrying(at(folder), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!file || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    return;
  }
  struct stat named;
  if (fstatat(at(folder), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      identity_of(named) == identity_of(info)) {
    (void)unlinkat(at(folder), name.c_str(), 0);  // left, the next run tries again
  }
}
