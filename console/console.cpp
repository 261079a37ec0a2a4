#include "console/console.h"

#include <string>

namespace {

// The text and its line end go out in one write, so that no other output comes between.
void write_line(StandardStream stream, std::string_view text) {
  std::string line;
  line.reserve(text.size() + kConsoleLineEnd.size());
  line.append(text).append(kConsoleLineEnd);
  write_to(stream, line);
}

}  // namespace

void print_line(std::string_view text) {
  write_line(StandardStream::kOutput, text);
}

void print_bytes(std::string_view bytes) {
  write_to(StandardStream::kOutput, bytes);
}

void print_error_line(std::string_view text) {
  write_line(StandardStream::kError, text);
}
