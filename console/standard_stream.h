#ifndef CONFMEND_CONSOLE_STANDARD_STREAM_H_
#define CONFMEND_CONSOLE_STANDARD_STREAM_H_

#include <string_view>

// The platform's side of console.h: writing to standard output or error.

enum class StandardStream { kOutput, kError };

// The bytes, whole, with nothing translated; on Windows a console gets them as UTF-16.
void write_to(StandardStream stream, std::string_view bytes);

// Called when a write finds that nobody reads the output any more (a closed pipe): while
// interruptions are held, that counts as one.
void note_output_closed();

// How a line of the console ends: "\n", or "\r\n" on Windows.
extern const std::string_view kConsoleLineEnd;

#endif  // CONFMEND_CONSOLE_STANDARD_STREAM_H_
