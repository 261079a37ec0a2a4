#ifndef CONFMEND_CONSOLE_INTERRUPTIONS_H_
#define CONFMEND_CONSOLE_INTERRUPTIONS_H_

// While one lives, an interruption of the process (Ctrl+C, a termination request, the
// terminal or console window closing) does not end it at once: requested() tells of it, so
// that no new work starts, and it takes effect, as it would have, when the object goes, once
// the work in hand is whole. Only one lives at a time, on the thread that starts all others.
class HeldInterruptions {
 public:
  HeldInterruptions();
  ~HeldInterruptions();
  HeldInterruptions(const HeldInterruptions&) = delete;
  HeldInterruptions& operator=(const HeldInterruptions&) = delete;

  // Whether an interruption is waiting; safe to ask from any thread.
  bool requested() const;
};

// Readies the process before anything else: a write past the file size limit (ulimit -f) then
// fails as a full disk does instead of ending the process, and as many files may be open as
// the system allows, for deep folder trees.
void prepare_process();

#endif  // CONFMEND_CONSOLE_INTERRUPTIONS_H_
