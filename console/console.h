#ifndef CONFMEND_CONSOLE_CONSOLE_H_
#define CONFMEND_CONSOLE_CONSOLE_H_

#include <string_view>

// Writes the text, a line feed, and flushes: every message of the program goes this way.
void print_line(std::string_view text);

// Makes the console show the program's UTF-8 text as it is, until the program ends.
void prepare_console();

// Shows "Press any key to continue . . ." and waits for one key press.
void pause_console();

#endif  // CONFMEND_CONSOLE_CONSOLE_H_
