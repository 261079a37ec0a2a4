#include <csignal>

#include "mending/interruption_shield.h"

namespace {

sigset_t interruption_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGQUIT);
  return signals;
}

sigset_t saved_mask;
int depth = 0;

}  // namespace

// Blocked signals stay pending with their actions untouched, so on unblocking each one acts
// exactly as it would have: usually ending the process by that signal.
InterruptionShield::InterruptionShield() {
  static const bool size_limit_fails_writes = [] {
    // A write past the file size limit must fail like a full disk, not kill the process.
    return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  }();
  (void)size_limit_fails_writes;
  if (depth++ == 0) {
    const sigset_t signals = interruption_signals();
    sigprocmask(SIG_BLOCK, &signals, &saved_mask);
  }
}

InterruptionShield::~InterruptionShield() {
  if (--depth == 0) {
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  }
}
