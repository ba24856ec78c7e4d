// SPDX-License-Identifier: MIT
// Realtime mode: waiting out what is left of a message's bus time. A sleep
// overshoots by the timer slack plus the wake-up latency (50 to 150 us here),
// as long as a whole short message, so the last stretch is spun on the
// monotonic clock and only a longer wait sleeps first.
#include "shim.h"

namespace shim {

namespace {

// Well above any sleep's overshoot on a busy machine.
constexpr uint64_t SPIN_NS = 1000000;

}  // namespace

void wait_until_monotonic_ns(uint64_t deadline) {
  uint64_t now = real_monotonic_ns();
  if (now != 0 && deadline > now + SPIN_NS) real_nanosleep(deadline - now - SPIN_NS);
  while (now != 0 && now < deadline) now = real_monotonic_ns();
}

}  // namespace shim
