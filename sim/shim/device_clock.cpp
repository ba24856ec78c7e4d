// SPDX-License-Identifier: MIT
// Device time. By default the clock is virtual: sleeps return at once and
// move the chip's clock by what was asked, bus traffic moves it by the time
// the bits would take, so erases and programs "take" their datasheet time
// without anyone waiting for it. In realtime mode sleeps are real and the chip
// follows the wall clock. The attached chip lives here too, so that every
// advance reaches it without going back to the node.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>

#include "chip_model.h"
#include "shim.h"

namespace shim {

namespace {

// A program that busy-waits on the monotonic clock (flashrom does, for delays
// under a second) would spin forever on a clock that only sleeps and traffic
// move. So each read costs a little device time: 1 us at first, doubling every
// 16 reads in a row, up to 1 ms. A delay thus overshoots by at most about a
// sixteenth, and a 10 ms wait costs some 150 reads instead of millions.
constexpr uint64_t FIRST_CLOCK_STEP_NS = 1000;
constexpr uint64_t LAST_CLOCK_STEP_NS = 1000000;
constexpr unsigned READS_PER_STEP = 16;

uint64_t VirtualNs = 0;
uint64_t MonotonicBase = 0;
uint64_t ClockStepNs = FIRST_CLOCK_STEP_NS;
unsigned ReadsAtStep = 0;

// What a program's monotonic clock can count on every target, 32-bit time_t included. A
// sleep lasts at most a day, so that one asked to last for ever leaves the clock room to go
// on; the cut is said once.
constexpr uint64_t PROGRAM_CLOCK_LIMIT_NS = uint64_t{0x7FFFFFFF} * 1000000000u;
constexpr uint64_t LONGEST_SLEEP_NS = uint64_t{86400} * 1000000000u;
bool SleepClampSaid = false;

ChipState* AttachedChip = nullptr;
uint64_t WallSyncNs = 0;  // realtime mode: wall time the attached chip has reached

// Held (flock) on state.bin while the node is open: another holder is a second process
// driving the chip at once, which the model does not support; said once.
int HoldFd = -1;
bool SecondProcessSaid = false;

void hold_chip() {
  const std::string path = config().stateDir + "/state.bin";
  HoldFd = move_fd_high(real_open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (HoldFd < 0 || flock(HoldFd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return;
  if (!SecondProcessSaid)
    std::fprintf(stderr,
                 "libflashsim: warning: another process has the chip in %s open; two processes "
                 "driving one chip at once may undo each other's changes\n",
                 config().stateDir.c_str());
  SecondProcessSaid = true;
}

void let_go_of_hold() {
  if (HoldFd >= 0) real_close(HoldFd);
  HoldFd = -1;
}

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
  if (AttachedChip) {
    chip_advance_ns(AttachedChip, ns);
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
  AttachedChip = attach_state(error);
  if (!AttachedChip) return false;
  hold_chip();
  WallSyncNs = real_monotonic_ns();
  return true;
}

void detach_chip() {
  if (!AttachedChip) return;
  chip_detach(AttachedChip);
  AttachedChip = nullptr;
  let_go_of_hold();
}

void forget_chip_after_fork() {
  chip_abandon(AttachedChip);
  AttachedChip = nullptr;
  let_go_of_hold();  // the parent's hold stays the parent's
}

ChipState* attached_chip() { return AttachedChip; }

void device_advance(uint64_t ns, Advance why) {
  Guard guard;
  if (why != Advance::CLOCK_READ) {
    ClockStepNs = FIRST_CLOCK_STEP_NS;
    ReadsAtStep = 0;
  }
  if (config().realtime) {
    if (why == Advance::WALL_TIME && chip_time_advance(ns, false))
      pending_counters().deviceNs += ns;
    return;
  }
  VirtualNs += ns;
  if (chip_time_advance(ns, why == Advance::SLEEP)) pending_counters().deviceNs += ns;
}

void sleep_requested(uint64_t ns) {
  Guard guard;
  note_process_active();
  flashsim::RunCounters& counters = pending_counters();
  counters.sleeps += 1;
  if (tracing()) trace_write("sleep " + std::to_string(ns) + "\n");
  if (config().realtime) {
    counters.sleepNs += ns;
    return;
  }
  if (MonotonicBase == 0) MonotonicBase = real_monotonic_ns();
  uint64_t now = MonotonicBase + VirtualNs;
  uint64_t room = PROGRAM_CLOCK_LIMIT_NS > now ? PROGRAM_CLOCK_LIMIT_NS - now : 0;
  if (room > LONGEST_SLEEP_NS) room = LONGEST_SLEEP_NS;
  if (ns > room && !SleepClampSaid)
    std::fprintf(stderr,
                 "libflashsim: a sleep of %llu ns cut to %llu ns: one lasts a day at most, and "
                 "a program's clock counts no further than 2^31 s\n",
                 static_cast<unsigned long long>(ns), static_cast<unsigned long long>(room));
  if (ns > room) SleepClampSaid = true, ns = room;
  counters.sleepNs += ns;
  device_advance(ns, Advance::SLEEP);
}

uint64_t virtual_monotonic_ns() {
  Guard guard;
  if (MonotonicBase == 0) MonotonicBase = real_monotonic_ns();
  uint64_t now = MonotonicBase + VirtualNs;
  uint64_t step = ClockStepNs;
  unsigned reads = ReadsAtStep + 1;
  device_advance(step, Advance::CLOCK_READ);
  if (reads == READS_PER_STEP) {
    reads = 0;
    if (step < LAST_CLOCK_STEP_NS) step *= 2;
  }
  ClockStepNs = step;
  ReadsAtStep = reads;
  return now;
}

void realtime_sync() {
  Guard guard;
  uint64_t now = real_monotonic_ns();
  if (AttachedChip && now > WallSyncNs) device_advance(now - WallSyncNs, Advance::WALL_TIME);
  WallSyncNs = now;
}

}  // namespace shim
