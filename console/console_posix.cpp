#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "console/console.h"

void prepare_console() {}

namespace {

// One byte from standard input, waiting as the terminal settings say; false at the end of
// the input, on an error, or when a terminal's wait runs out.
bool read_byte(unsigned char& byte) {
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) {
      return true;
    }
    if (got == 0 || errno != EINTR) {
      return false;
    }
  }
}

// The bytes a key sends after its first: an escape sequence (an arrow key sends ESC [ A, a
// function key ESC O P or ESC [ 1 5 ~, Alt and a letter ESC and the letter) up to its final
// byte, a character outside ASCII up to its last UTF-8 byte. They arrive together with the
// first; a lone ESC has nothing after it.
void read_rest_of_key(unsigned char first) {
  unsigned char byte = 0;
  if (first == 0x1B) {
    if (read_byte(byte) && (byte == '[' || byte == 'O')) {
      while (read_byte(byte) && (byte < 0x40 || byte > 0x7E)) {
      }
    }
    return;
  }
  int following = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
  while (following-- > 0 && read_byte(byte)) {
  }
}

}  // namespace

void pause_console() {
  termios saved{};
  unsigned char first = 0;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    print_line("Press any key to continue . . .");
    read_byte(first);
    return;
  }
  // Raw for one key: no line buffering, no echo, and Ctrl+C counts as a key too, so the
  // terminal is always given back as it was. Raw before the prompt shows, and without
  // flushing, so that a key pressed at once is neither echoed nor lost; what was typed
  // beyond the one key stays for the shell.
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  print_line("Press any key to continue . . .");
  if (read_byte(first)) {
    // The rest of the key is there at once, or within a tenth of a second.
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    read_rest_of_key(first);
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}
