#include <windows.h>

#include "console/console.h"

namespace {

CRITICAL_SECTION state;
bool holding = false;
bool interrupted = false;
HANDLE released = nullptr;

// Runs on a thread of its own. While interruptions are held it waits until they are let go,
// then lets the default handler end the process.
BOOL WINAPI hold_interruption(DWORD) {
  EnterCriticalSection(&state);
  const bool wait = holding;
  interrupted = interrupted || holding;
  LeaveCriticalSection(&state);
  if (wait) {
    WaitForSingleObject(released, INFINITE);
  }
  return FALSE;
}

void install_handler_once() {
  static const bool installed = [] {
    InitializeCriticalSection(&state);
    released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return SetConsoleCtrlHandler(hold_interruption, TRUE) != 0;
  }();
  (void)installed;
}

}  // namespace

HeldInterruptions::HeldInterruptions() {
  install_handler_once();
  EnterCriticalSection(&state);
  ResetEvent(released);
  holding = true;
  interrupted = false;
  LeaveCriticalSection(&state);
}

// An interruption that came meanwhile ends the process on the handler's thread, which is let
// go here; this thread waits for that end.
HeldInterruptions::~HeldInterruptions() {
  EnterCriticalSection(&state);
  holding = false;
  const bool ending = interrupted;
  LeaveCriticalSection(&state);
  SetEvent(released);
  if (ending) {
    Sleep(INFINITE);
  }
}

bool HeldInterruptions::requested() const {
  EnterCriticalSection(&state);
  const bool waiting = interrupted;
  LeaveCriticalSection(&state);
  return waiting;
}

// A closed pipe makes WriteFile fail, and ends nothing.
void note_output_closed() {}

// Nothing to ready: Windows has no file size limit that ends a process, and no limit on
// open handles short of memory.
void prepare_process() {}
