// SPDX-License-Identifier: MIT
// A command as one spidev message: its frame built in the caller's buffer or
// in one of its own.
#include <memory>

#include "flash/flash.h"
#include "spidev/spidev.h"

int flash_transfer(const FlashCommand* cmd, uint8_t* buf, uint32_t replyLength) {
  if (replyLength == 0) replyLength = cmd->rxLength;
  uint32_t sendLength = cmd->dummyBytes + cmd->txLength;

  std::unique_ptr<uint8_t[]> ownBuffer;
  if (buf == nullptr) {
    ownBuffer = zeroed_buffer(frame_buffer_size(cmd, replyLength));
    if (!ownBuffer) return STATUS_FAIL;
    buf = ownBuffer.get();
  }
  build_frame_header(cmd, buf);
  return spidev_exchange(buf, sendLength, replyLength) ? 0 : STATUS_FAIL;
}
