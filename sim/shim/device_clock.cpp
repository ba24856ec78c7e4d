// Device time. By default the clock is virtual: sleeps return at once and
// move the chip's clock by what was asked, bus traffic moves it by the time
// the bits would take, so erases and programs "take" their datasheet time
// without anyone waiting for it. In realtime mode sleeps are real and the chip
// follows the wall clock.
#include "shim.h"

namespace shim {

namespace {

// A program that busy-waits on the monotonic clock (flashrom does, for delays
// under a second) would spin forever on a clock that only sleeps and traffic
// move. So each read costs a little device time: 1 us at first, doubling every
// 16 reads in a row, up to 1 ms. A delay thus overshoots by at most about a
// sixteenth, and a 10 ms wait costs some 150 reads instead of millions.
constexpr uint64_t kFirstClockStepNs = 1000;
constexpr uint64_t kLastClockStepNs = 1000000;
constexpr unsigned kReadsPerStep = 16;

uint64_t g_virtualNs = 0;
uint64_t g_monotonicBase = 0;
uint64_t g_clockStepNs = kFirstClockStepNs;
unsigned g_readsAtStep = 0;

}  // namespace

void device_advance(uint64_t ns, Advance why) {
  Guard guard;
  if (why != Advance::ClockRead) {
    g_clockStepNs = kFirstClockStepNs;
    g_readsAtStep = 0;
  }
  if (config().realtime) {
    if (why == Advance::WallTime && chip_time_advance(ns, false)) pending_counters().deviceNs += ns;
    return;
  }
  g_virtualNs += ns;
  if (chip_time_advance(ns, why == Advance::Sleep)) pending_counters().deviceNs += ns;
}

void sleep_requested(uint64_t ns) {
  Guard guard;
  note_process_active();
  flashsim::RunCounters& counters = pending_counters();
  counters.sleeps += 1;
  counters.sleepNs += ns;
  if (tracing()) trace_write("sleep " + std::to_string(ns) + "\n");
  if (!config().realtime) device_advance(ns, Advance::Sleep);
}

uint64_t virtual_monotonic_ns() {
  Guard guard;
  if (g_monotonicBase == 0) g_monotonicBase = real_monotonic_ns();
  uint64_t now = g_monotonicBase + g_virtualNs;
  uint64_t step = g_clockStepNs;
  unsigned reads = g_readsAtStep + 1;
  device_advance(step, Advance::ClockRead);
  if (reads == kReadsPerStep) {
    reads = 0;
    if (step < kLastClockStepNs) step *= 2;
  }
  g_clockStepNs = step;
  g_readsAtStep = reads;
  return now;
}

void realtime_sync() {
  Guard guard;
  uint64_t now = real_monotonic_ns();
  uint64_t& anchor = realtime_anchor();
  if (chip_attached() && now > anchor) device_advance(now - anchor, Advance::WallTime);
  anchor = now;
}

}  // namespace shim
