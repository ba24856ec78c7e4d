// SPDX-License-Identifier: MIT
#include <cstdio>

#include "ops/operations.h"

// Write enable, erases and register writes go out alone: the waits on the chip
// are separate invocations (RDSR_WEL, RDSR_WIP).
int send_single_instruction(const FlashCommand* cmd) { return flash_transfer(cmd, nullptr, 0); }

int deep_power_down(const FlashCommand* cmd) {
  int status = flash_transfer(cmd, nullptr, 0);
  std::puts("DEEP_POWER-DOWN: ..........");
  return status;
}
