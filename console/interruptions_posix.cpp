#include <pthread.h>

#include <csignal>

#include "console/interruptions.h"

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t held;
sigset_t saved_mask;

}  // namespace

// Blocked signals stay pending with their actions untouched, so on unblocking each one acts
// exactly as it would have: usually ending the process by that signal. Threads started
// meanwhile inherit the mask and never take one. A signal the process ignores is left out:
// it is thrown away as it comes, and must not count as an interruption.
HeldInterruptions::HeldInterruptions() {
  sigemptyset(&held);
  for (const int signal_number : kInterruptions) {
    struct sigaction action {};
    if (sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
      sigaddset(&held, signal_number);
    }
  }
  pthread_sigmask(SIG_BLOCK, &held, &saved_mask);
}

HeldInterruptions::~HeldInterruptions() {
  pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
}

bool HeldInterruptions::requested() const {
  sigset_t pending;
  if (sigpending(&pending) != 0) {
    return false;
  }
  for (const int signal_number : kInterruptions) {
    if (sigismember(&held, signal_number) == 1 && sigismember(&pending, signal_number) == 1) {
      return true;
    }
  }
  return false;
}
