#include "ops/operations.h"

// RDSR_WEL waits for the write-enable latch to be set, RDSR_WIP for the end of
// a write; the exit status says whether it happened in time.
int wait_for_status() {
  bool waitForWel = RunState.command.id == RDSR_WEL;
  return poll_status(&RunState.command, waitForWel ? STATUS_WEL_MASK : STATUS_WIP_MASK, waitForWel,
                     RunState.timeoutMs);
}
