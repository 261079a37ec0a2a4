#include <windows.h>

#include "mending/interruption_shield.h"

namespace {

CRITICAL_SECTION writing;
int depth = 0;

// Runs on a thread of its own. It waits until no file is being written, then keeps the
// section for good, so no new write starts, and lets the default handler end the process.
BOOL WINAPI hold_interruption(DWORD) {
  EnterCriticalSection(&writing);
  return FALSE;
}

void install_handler_once() {
  static const bool installed = [] {
    InitializeCriticalSection(&writing);
    return SetConsoleCtrlHandler(hold_interruption, TRUE) != 0;
  }();
  (void)installed;
}

}  // namespace

InterruptionShield::InterruptionShield() {
  install_handler_once();
  if (depth++ == 0) {
    EnterCriticalSection(&writing);
  }
}

InterruptionShield::~InterruptionShield() {
  if (--depth == 0) {
    LeaveCriticalSection(&writing);
  }
}
