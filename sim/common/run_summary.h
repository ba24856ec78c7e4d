// SPDX-License-Identifier: MIT
// Traffic counters kept in the state directory: the last `flashsim run` and
// the totals since the chip was created. Every process adds what it did when
// it lets go of the device (close, exit, power cut); several processes of one
// run may add, so the file is updated under an exclusive lock.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "table_view.h"

namespace flashsim {

struct RunCounters {
  uint64_t processes = 0;  // processes that opened the device or slept
  uint64_t messages = 0;   // SPI_IOC_MESSAGE requests, failed ones included
  uint64_t failedMessages = 0;
  uint64_t bytesTx = 0;  // taken from tx buffers by messages that went through
  uint64_t bytesRx = 0;  // delivered into rx buffers
  uint64_t busNs = 0;    // clocking time plus per-message overhead
  uint64_t sleeps = 0;
  uint64_t sleepNs = 0;   // as requested by the program
  uint64_t deviceNs = 0;  // how far the chip's clock moved

  bool empty() const {
    return processes == 0 && messages == 0 && sleeps == 0 && deviceNs == 0 && busNs == 0;
  }
};

// One counter: its key in the summary file and in `--format=keys`, its label in
// the display form, where nanoseconds are shown as seconds.
struct CounterField {
  const char* key;
  const char* label;
  uint64_t RunCounters::*member;
  bool nanoseconds;
};
TableView<CounterField> counter_fields();

void add_counters(RunCounters* into, const RunCounters& more);

// Reads, lets `change` edit, writes back, all under flock. False when the
// file cannot be opened (no state directory) or holds no summary, which it leaves as it is.
bool update_summary(const std::string& stateDir,
                    const std::function<void(RunCounters* run, RunCounters* total)>& change);
// All zeros when there is no file yet; false with *error naming the file (and line) when it
// cannot be read or holds anything but the counters as update_summary writes them.
bool read_summary(const std::string& stateDir, RunCounters* run, RunCounters* total,
                  std::string* error);

}  // namespace flashsim
