#include "driver/shown_text.h"

#include <algorithm>

#include "console/console.h"
#include "disk/folder.h"

namespace {

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

void append_octal(std::string& text, unsigned char c) {
  text += '\\';
  text += static_cast<char>('0' + (c >> 6));
  text += static_cast<char>('0' + ((c >> 3) & 7));
  text += static_cast<char>('0' + (c & 7));
}

bool needs_quotes(unsigned char c) {
  return is_control(c) || c == '"' || (c == '\\' && !kBackslashSeparates);
}

}  // namespace

// How many bytes the UTF-8 sequence at the start of `text` takes; 0 where none begins there.
std::size_t utf8_sequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t size = lead >= 0xC2 && lead <= 0xDF   ? 2
                           : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                          : 0;
  if (size == 0 || text.size() < size) {
    return 0;
  }
  for (std::size_t i = 1; i < size; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return size;
}

// C1 controls (U+0080 to U+009F) steer a terminal as C0 ones do (U+009B is CSI): as UTF-8
// (0xC2 0x80 to 0xC2 0x9F), and as single bytes 0x80 to 0x9F outside any UTF-8 sequence, which
// a terminal that reads eight-bit controls takes for them. Each byte of them is escaped.
std::string escaped_for_terminal(std::string_view path) {
  std::string shown;
  shown.reserve(path.size());
  for (std::size_t at = 0; at < path.size();) {
    const auto c = static_cast<unsigned char>(path[at]);
    const std::size_t sequence = utf8_sequence(path.substr(at));
    const bool c1 = sequence == 2 ? c == 0xC2 && static_cast<unsigned char>(path[at + 1]) < 0xA0
                                  : sequence == 0 && c >= 0x80 && c <= 0x9F;
    const std::size_t size = std::max<std::size_t>(sequence, 1);
    for (std::size_t i = at; i < at + size; ++i) {
      if (c1 || is_control(static_cast<unsigned char>(path[i]))) {
        append_octal(shown, static_cast<unsigned char>(path[i]));
      } else {
        shown += path[i];
      }
    }
    at += size;
  }
  return shown;
}

std::string shown_path(std::string_view path) {
  static const bool terminal = output_is_terminal();
  return terminal ? escaped_for_terminal(path) : std::string(path);
}

std::string diff_label(std::string_view path) {
  bool quoted = false;
  for (const char c : path) {
    quoted = quoted || needs_quotes(static_cast<unsigned char>(c));
  }
  if (!quoted) {
    return std::string(path);
  }
  std::string label = "\"";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '\t':
        label += "\\t";
        break;
      case '\n':
        label += "\\n";
        break;
      case '"':
        label += "\\\"";
        break;
      case '\\':
        label += kBackslashSeparates ? "\\" : "\\\\";
        break;
      default:
        if (is_control(byte)) {
          append_octal(label, byte);
        } else {
          label += c;
        }
    }
  }
  return label + "\"";
}

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string counted(std::size_t count, std::string_view noun) {
  return counted(count, noun, std::string(noun) + "s");
}
