#include <windows.h>

#include <cstdlib>

#include "console/console.h"

namespace {

// The console is often the command interpreter's, which goes on after the program: it gets
// back the code page it had.
UINT original_output_code_page = 0;

void restore_output_code_page() {
  SetConsoleOutputCP(original_output_code_page);
}

// Ctrl+C, Ctrl+Break and closing the window end the process by the handlers after this one.
BOOL WINAPI restore_before_the_end(DWORD) {
  restore_output_code_page();
  return FALSE;
}

}  // namespace

// Output is UTF-8, whatever code page the system and the console use: names in any script
// show as they are. Every way out puts the old code page back: the end of a run and the
// failure exit through atexit, an interruption through a console handler.
void prepare_console() {
  original_output_code_page = GetConsoleOutputCP();  // 0 where there is no console
  if (original_output_code_page == 0 || original_output_code_page == CP_UTF8) {
    return;
  }
  std::atexit(restore_output_code_page);
  SetConsoleCtrlHandler(restore_before_the_end, TRUE);
  SetConsoleOutputCP(CP_UTF8);
}

void pause_console() {
  std::system("pause");
}
