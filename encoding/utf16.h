#ifndef CONFMEND_ENCODING_UTF16_H_
#define CONFMEND_ENCODING_UTF16_H_

#include <string>
#include <string_view>

// UTF-16 as Windows names files and Notepad saves "Unicode" text, to UTF-8 and back.
// A surrogate without its partner, which Windows allows in a file name, is carried as its
// own three bytes (as WTF-8 does), so that every name read from a listing can be opened
// again. Bytes that are not UTF-8 become U+FFFD.
std::string utf8_from_utf16(std::u16string_view text);
std::u16string utf16_from_utf8(std::string_view text);

#endif  // CONFMEND_ENCODING_UTF16_H_
