#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "console/console.h"

void prepare_console() {}

namespace {

// One byte from standard input; end of input ends the wait as well.
void read_one_byte() {
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

void pause_console() {
  termios saved{};
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    print_line("Press any key to continue . . .");
    read_one_byte();
    return;
  }
  // Raw for one key: no line buffering, no echo, and Ctrl+C counts as a key too, so the
  // terminal is always given back as it was. Raw before the prompt shows, and without
  // flushing, so that a key pressed at once is neither echoed nor lost.
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  print_line("Press any key to continue . . .");
  read_one_byte();
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}
