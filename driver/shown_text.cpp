#include "driver/shown_text.h"

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

std::string escaped_for_terminal(std::string_view path) {
  std::string shown;
  shown.reserve(path.size());
  for (const char c : path) {
    if (is_control(static_cast<unsigned char>(c))) {
      append_octal(shown, static_cast<unsigned char>(c));
    } else {
      shown += c;
    }
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
