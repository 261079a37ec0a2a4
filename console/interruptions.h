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

#endif  // CONFMEND_CONSOLE_INTERRUPTIONS_H_
