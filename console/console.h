#ifndef CONFMEND_CONSOLE_CONSOLE_H_
#define CONFMEND_CONSOLE_CONSOLE_H_

#include <string_view>

// What the program shows goes to standard output, each line written whole and at once.
// On Windows a console is written in UTF-16, whatever its code page, and files and pipes
// get UTF-8; the console's settings are never changed for good.

// Writes the text, a line end, and flushes: every message of the program goes this way.
void print_line(std::string_view text);

// Writes the bytes exactly as they are, with no line end added or translated.
void print_bytes(std::string_view bytes);

// Writes the text and a line end to standard error.
void print_error_line(std::string_view text);

// Whether standard output is a terminal (a console on Windows), which shows what it is sent
// rather than keeping it.
bool output_is_terminal();

// Whether standard output is a terminal that shows colours and the user has not asked for
// none (NO_COLOR); on Windows, colours are switched on in the console where it can.
bool output_shows_colour();

// Shows "Press any key to continue . . ." and waits for one key press. A run in a terminal's
// background does not wait. Where the output goes to a file or a pipe but the key is read
// from a terminal (a console), the prompt is shown there, where the user looks.
void pause_console();

// While one lives, an interruption of the process (Ctrl+C, a termination request, the
// terminal or console window closing) does not end it at once: requested() tells of it, so
// that no new work starts, and it takes effect, as it would have, when the object goes, once
// the work in hand is whole. Only one lives at a time, on the thread that starts all others.
class HeldInterruptions {
 public:
  HeldInterruptions();
  ~HeldInterruptions();
  HeldInterruptions(const HeldInterruptions&) = delete;
  HeldInterruptions& operator=(const HeldInterruptions&) = delete;

  // Whether an interruption is waiting; safe to ask from any thread.
  bool requested() const;
};

// Readies the process before anything else: a write past the file size limit (ulimit -f) then
// fails as a full disk does instead of ending the process, and as many files may be open as
// the system allows, for deep folder trees.
void prepare_process();

// The platform's part, for console/ alone.

enum class StandardStream { kOutput, kError };

// The bytes, whole, with nothing translated; on Windows a console gets them as UTF-16.
void write_to(StandardStream stream, std::string_view bytes);

// Called when a write finds that nobody reads the output any more (a closed pipe): while
// interruptions are held, that counts as one.
void note_output_closed();

// How a line of the console ends: "\n", or "\r\n" on Windows.
extern const std::string_view kConsoleLineEnd;

#endif  // CONFMEND_CONSOLE_CONSOLE_H_
