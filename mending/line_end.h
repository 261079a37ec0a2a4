#ifndef CONFMEND_MENDING_LINE_END_H_
#define CONFMEND_MENDING_LINE_END_H_

#include <string_view>

// How the platform ends a line in a text file, as mended files are written: "\n", or "\r\n"
// on Windows.
extern const std::string_view kStoredLineEnd;

#endif  // CONFMEND_MENDING_LINE_END_H_
