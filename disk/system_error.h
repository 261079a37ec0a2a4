#ifndef CONFMEND_DISK_SYSTEM_ERROR_H_
#define CONFMEND_DISK_SYSTEM_ERROR_H_

#include <string>

// What the operating system said when it refused a call, carried up beside a result so that
// the reason can be shown: its own code, errno on POSIX and GetLastError() on Windows. Taken
// at once, before anything else can change it.
struct SystemError {
  int code = 0;  // 0: the system refused nothing
  explicit operator bool() const { return code != 0; }
};

// The code of the call that has just failed.
SystemError last_system_error();

// The system's own words for it ("Permission denied", "No space left on device").
std::string system_error_text(SystemError error);

// Whether it says the file or its file system may not be written (a read-only file, a
// read-only disk), as against a denial of some other kind.
bool says_read_only(SystemError error);

// Whether it says the file, or a folder on its path, is not there (a drive or card that is
// out among the causes).
bool says_not_found(SystemError error);

// Whether it says another program holds the file in a way that keeps this one out (Windows'
// share modes and locks); never on POSIX, where holding a file keeps nobody out.
bool says_in_use(SystemError error);

#endif  // CONFMEND_DISK_SYSTEM_ERROR_H_
