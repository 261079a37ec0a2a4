#ifndef CONFMEND_MENDING_INTERRUPTION_SHIELD_H_
#define CONFMEND_MENDING_INTERRUPTION_SHIELD_H_

// While one exists, an interruption of the process (Ctrl+C, a termination request, the
// console closing) waits; it takes effect, as it would have, once the last shield is gone.
// A file being written in place is thus never left half written by one.
class InterruptionShield {
 public:
  InterruptionShield();
  ~InterruptionShield();
  InterruptionShield(const InterruptionShield&) = delete;
  InterruptionShield& operator=(const InterruptionShield&) = delete;
};

#endif  // CONFMEND_MENDING_INTERRUPTION_SHIELD_H_
