#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "console/console.h"

const std::string_view kConsoleLineEnd = "\n";

void write_to(StandardStream stream, std::string_view bytes) {
  const int fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0 && errno == EPIPE) {
      note_output_closed();
    }
    if (put <= 0) {
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
}

bool output_is_terminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool output_shows_colour() {
  const char* no_colour = std::getenv("NO_COLOR");
  const char* terminal = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && (no_colour == nullptr || *no_colour == '\0') &&
         !(terminal != nullptr && std::string_view(terminal) == "dumb");
}

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

termios saved_terminal{};

// A termination request or a hang-up while the terminal is raw: the terminal is given back
// as it was, and the signal then does what it would have done.
void restore_terminal_and_end(int signal_number) {
  (void)tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);  // refused, nothing else would do
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void restore_terminal_on(int signal_number) {
  struct sigaction action {};
  if (sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_DFL) {
    std::signal(signal_number, restore_terminal_and_end);
  }
}

// To the terminal the key is read from, when the output goes elsewhere.
void show_prompt() {
  constexpr std::string_view kPrompt = "Press any key to continue . . .";
  if (!output_is_terminal()) {
    const int terminal = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0) {
      const std::string line = std::string(kPrompt) + "\n";
      const bool shown =
          write(terminal, line.data(), line.size()) == static_cast<ssize_t>(line.size());
      (void)close(terminal);  // written or not, as `shown` tells
      if (shown) {
        return;
      }
    }
  }
  print_line(kPrompt);
}

}  // namespace

void pause_console() {
  unsigned char first = 0;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_terminal) != 0) {
    print_line("Press any key to continue . . .");
    read_byte(first);
    return;
  }
  // A run in the terminal's background would be stopped by it for asking a key.
  if (tcgetpgrp(STDIN_FILENO) != getpgrp()) {
    return;
  }
  restore_terminal_on(SIGTERM);
  restore_terminal_on(SIGHUP);
  // Raw for one key: no line buffering, no echo, and Ctrl+C counts as a key too, so the
  // terminal is always given back as it was. Raw before the prompt shows, and without
  // flushing, so that a key pressed at once is neither echoed nor lost; what was typed
  // beyond the one key stays for the shell.
  termios raw = saved_terminal;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // A terminal that refuses a setting keeps its own: the wait then ends at a line's end.
  (void)tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  show_prompt();
  if (read_byte(first)) {
    // The rest of the key is there at once, or within a tenth of a second.
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 1;
    (void)tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    read_rest_of_key(first);
  }
  (void)tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
}
