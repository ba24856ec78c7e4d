// Device time. By default the clock is virtual: sleeps return at once and
// move the chip's clock by what was asked, bus traffic moves it by the time
// the bits would take, so erases and programs "take" their datasheet time
// without anyone waiting for it. In realtime mode sleeps are real and the chip
// follows the wall clock. The attached chip lives here too, so that every
// advance reaches it without going back to the node.
#include "chip_model.h"
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

ChipState* g_chip = nullptr;
uint64_t g_wallSyncNs = 0;  // realtime mode: wall time the attached chip has reached

ChipState* attach_state(std::string* error) {
  const Config& cfg = config();
  if (cfg.stateDir.empty()) {
    *error = "no state directory (" FLASHSIM_ENV_STATE " is not set)";
    return nullptr;
  }
  ChipFaults faults{cfg.faults.welStuck, cfg.faults.wipStuck};
  return chip_attach(cfg.stateDir, faults, error);
}

// False when no chip moved.
bool chip_time_advance(uint64_t ns, bool attachIfClosed) {
  if (g_chip) {
    chip_advance_ns(g_chip, ns);
    return true;
  }
  if (!attachIfClosed || chip_absent() || config().stateDir.empty()) return false;
  std::string error;
  ChipState* chip = attach_state(&error);
  if (!chip) return false;
  chip_advance_ns(chip, ns);
  chip_detach(chip);
  return true;
}

}  // namespace

bool chip_absent() { return config().faults.absentLevel >= 0; }

bool attach_chip(std::string* error) {
  g_chip = attach_state(error);
  if (!g_chip) return false;
  g_wallSyncNs = real_monotonic_ns();
  return true;
}

void detach_chip() {
  if (!g_chip) return;
  chip_detach(g_chip);
  g_chip = nullptr;
}

ChipState* attached_chip() { return g_chip; }

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
  if (g_chip && now > g_wallSyncNs) device_advance(now - g_wallSyncNs, Advance::WallTime);
  g_wallSyncNs = now;
}

}  // namespace shim
