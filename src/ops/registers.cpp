// SPDX-License-Identifier: MIT
// RDSR and RDCR: the status and configuration registers.
#include <cstdio>

#include "ops/operations.h"

namespace {
const char REGISTER_RETRYOUT[] = "  Read Status Register Protocol Retryout!!\n";
}

// RDSR reads one byte, RDCR two: the reply length, not the name, says which
// register line to print.
int read_register(const FlashCommand* cmd) {
  auto reply = read_reply(cmd, 0, 0, REGISTER_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  if (cmd->rxLength == 1) {
    std::printf("STATUS_REG: 0x%02X\n", reply[0]);
  } else {
    std::printf("CONFIG_REG: 0x%02X\n", reply[1]);
  }
  return 0;
}
