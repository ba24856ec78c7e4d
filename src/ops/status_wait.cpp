// SPDX-License-Identifier: MIT
#include "ops/operations.h"

// RDSR_WEL waits for the write-enable latch to be set, RDSR_WIP for the end of
// a write; the exit status says whether it happened in time.
int wait_for_status(const FlashCommand* cmd, uint32_t timeoutMs) {
  bool waitForWel = cmd->id == RDSR_WEL;
  return poll_status(cmd, waitForWel ? STATUS_WEL_MASK : STATUS_WIP_MASK, waitForWel, timeoutMs);
}
