// SPDX-License-Identifier: MIT
// The bytes in front of a command's data: opcode, register value, address, dummies.
#include <algorithm>
#include <cstring>

#include "flash/flash.h"

uint32_t build_frame_header(const FlashCommand* cmd, uint8_t* buf) {
  uint32_t length = 0;
  buf[length++] = cmd->opcode;
  if (cmd->regData != NO_VALUE) {
    buf[length++] = static_cast<uint8_t>(cmd->regData >> 8);
    buf[length++] = static_cast<uint8_t>(cmd->regData);
  }
  if (cmd->address != NO_VALUE) {
    // The frame carries 24 address bits; anything above is dropped.
    buf[length++] = static_cast<uint8_t>(cmd->address >> 16);
    buf[length++] = static_cast<uint8_t>(cmd->address >> 8);
    buf[length++] = static_cast<uint8_t>(cmd->address);
  }
  std::memset(buf + length, 0, cmd->dummyBytes);
  return length + cmd->dummyBytes;
}

uint32_t frame_buffer_size(const FlashCommand* cmd, uint32_t replyLength) {
  uint32_t header =
      1 + cmd->dummyBytes + (cmd->regData != NO_VALUE ? 2 : 0) + (cmd->address != NO_VALUE ? 3 : 0);
  return std::max({header, cmd->dummyBytes + cmd->txLength, replyLength});
}
