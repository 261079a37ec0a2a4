#include <windows.h>

#include <string_view>

#include <cstdlib>
#include <string>

#include "console/console.h"
#include "encoding/utf16.h"

namespace {

bool is_console(HANDLE stream) {
  DWORD mode = 0;
  return GetConsoleMode(stream, &mode) != 0;
}

HANDLE coloured_console = INVALID_HANDLE_VALUE;
DWORD original_mode = 0;

// The console's mode goes back as it was; a process ended by force leaves only colours on,
// which the command interpreter does not mind.
void restore_console_mode() {
  (void)SetConsoleMode(coloured_console, original_mode);  // at the exit: nothing else to do
}

}  // namespace

const std::string_view kConsoleLineEnd = "\r\n";

// A console is given UTF-16, which it shows whatever its code page; a file or a pipe gets
// the UTF-8 bytes.
void write_to(StandardStream which, std::string_view bytes) {
  const HANDLE stream =
      GetStdHandle(which == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) {
    return;
  }
  if (is_console(stream)) {
    const std::u16string text = utf16_from_utf8(bytes);
    for (std::size_t at = 0; at < text.size();) {
      DWORD put = 0;
      const auto size = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 1 << 14));
      if (!WriteConsoleW(stream, text.data() + at, size, &put, nullptr) || put == 0) {
        return;
      }
      at += put;
    }
    return;
  }
  while (!bytes.empty()) {
    DWORD put = 0;
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(stream, bytes.data(), size, &put, nullptr) || put == 0) {
      return;
    }
    bytes.remove_prefix(put);
  }
}

// Colours are control sequences, which a console before Windows 10 does not take.
bool output_shows_colour() {
  static const bool shows = [] {
    const char* no_colour = std::getenv("NO_COLOR");
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if ((no_colour != nullptr && *no_colour != '\0') || !GetConsoleMode(output, &mode)) {
      return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
      return true;
    }
    if (!SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      return false;
    }
    coloured_console = output;
    original_mode = mode;
    std::atexit(restore_console_mode);
    return true;
  }();
  return shows;
}

bool output_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

namespace {

// Writes to the console window itself, whatever the output was redirected to.
bool write_to_console_window(std::wstring_view text) {
  const HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool shown =
      WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  (void)CloseHandle(console);  // written or not, as `shown` tells
  return shown;
}

}  // namespace

// The command interpreter's pause writes its prompt to its output, which it takes from this
// program: into the file, where the output was redirected. The prompt then goes to the
// console window, from which the key is read, and pause only waits.
void pause_console() {
  DWORD mode = 0;
  const bool key_from_console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
  if (key_from_console && !output_is_terminal() &&
      write_to_console_window(L"Press any key to continue . . . ")) {
    std::system("pause >NUL");
    write_to_console_window(L"\r\n");
    return;
  }
  std::system("pause");
}
