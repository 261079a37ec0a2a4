#include <cerrno>
#include <cstring>
#include <string>

#include "disk/system_error.h"

SystemError last_system_error() {
  return SystemError{errno};
}

namespace {

// Either strerror_r: the GNU one returns its text, which may not be in the buffer; the POSIX
// one fills the buffer.
[[maybe_unused]] std::string text_of(const char* returned, const char*) {
  return returned;
}
[[maybe_unused]] std::string text_of(int failed, const char* buffer) {
  return failed == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string system_error_text(SystemError error) {
  char text[256] = "";
  return text_of(strerror_r(error.code, text, sizeof text), text);
}

bool says_read_only(SystemError error) {
  return error.code == EACCES || error.code == EPERM || error.code == EROFS;
}

bool says_not_found(SystemError error) {
  return error.code == ENOENT || error.code == ENOTDIR;
}

bool says_in_use(SystemError) {
  return false;
}
