// Bounded waits: every exchange with a peer (a compositor, the session bus)
// has a deadline, so a peer that stops answering costs at most that.
#pragma once

#include <stdint.h>

namespace kplat {

// A point on the monotonic clock.
struct Deadline {
  int64_t atMs;
};

// The deadline ms milliseconds from now.
Deadline DeadlineIn(int ms);

// Milliseconds left before the deadline (0 once passed).
int RemainingMs(const Deadline &deadline);

}  // namespace kplat
