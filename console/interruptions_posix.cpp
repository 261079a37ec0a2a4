#include <pthread.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>

#include "console/console.h"

namespace {

// SIGPIPE among them: a reader of the output that goes away (`confmend | head`) must not end
// the run in the middle of a file.
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

sigset_t held;
sigset_t saved_mask;

// SIGPIPE is sent to the thread that wrote, so that the others cannot see it pending.
std::atomic<bool> output_closed{false};

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
  (void)pthread_sigmask(SIG_BLOCK, &held, &saved_mask);  // fails only on a wrong argument
}

HeldInterruptions::~HeldInterruptions() {
  (void)pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);  // as above
}

void note_output_closed() {
  output_closed = true;
}

bool HeldInterruptions::requested() const {
  if (output_closed && sigismember(&held, SIGPIPE) == 1) {
    return true;
  }
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

void prepare_process() {
  std::signal(SIGXFSZ, SIG_IGN);
  // Sent when another program opens for writing a file this one holds a read lease on; the
  // lease's state is asked instead, and the default action would end the process.
  std::signal(SIGIO, SIG_IGN);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    // Refused, the run only mends on fewer threads and walks less deep.
    (void)setrlimit(RLIMIT_NOFILE, &files);
  }
}
