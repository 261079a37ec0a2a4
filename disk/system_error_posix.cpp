#include <cerrno>
#include <cstring>

#include "disk/system_error.h"

SystemError last_system_error() {
  return SystemError{errno};
}

std::string system_error_text(SystemError error) {
  char text[256];
  // The GNU strerror_r, which returns its text rather than filling the buffer every time.
  return strerror_r(error.code, text, sizeof text);
}

bool says_read_only(SystemError error) {
  return error.code == EACCES || error.code == EPERM || error.code == EROFS;
}

bool says_in_use(SystemError) {
  return false;
}
