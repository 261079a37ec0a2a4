#ifndef CONFMEND_DRIVER_SHOWN_TEXT_H_
#define CONFMEND_DRIVER_SHOWN_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

// Paths as they are shown. A file's name may hold any byte but "/" (on Windows, most), and
// one that holds control characters must neither steer a terminal (clear it, retitle it,
// move the cursor to fake a line) nor break a diff's headers.

// On a terminal: each byte of a control character (below 0x20, 0x7F, and the C1 controls,
// U+0080 to U+009F in UTF-8 or a lone byte 0x80 to 0x9F) as a backslash and three octal
// digits ("\033" for ESC, "\302\233" for CSI); every other byte as it is.
std::string escaped_for_terminal(std::string_view path);

// The path as the program prints it: escaped for a terminal when standard output is one,
// its bytes exactly into a pipe or a file.
std::string shown_path(std::string_view path);

// A diff's "---"/"+++" name, quoted as git quotes it where it holds a control character or a
// double quote (on POSIX also a backslash; on Windows a backslash is a separator and stays):
// "a\tb.conf", which GNU patch reads. Otherwise the path as it is.
std::string diff_label(std::string_view path);

// A count and what it counts: "1 file was", "3 files were"; with one noun, "1 warning",
// "3 warnings".
std::string counted(std::size_t count, std::string_view one, std::string_view many);
std::string counted(std::size_t count, std::string_view noun);

#endif  // CONFMEND_DRIVER_SHOWN_TEXT_H_
