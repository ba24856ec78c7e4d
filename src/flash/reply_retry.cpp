// SPDX-License-Identifier: MIT
// Replies get three immediate attempts before the operation gives up.
#include <cstdint>
#include <cstdio>

#include "flash/flash.h"

namespace {
constexpr int REPLY_ATTEMPTS = 3;
}

std::unique_ptr<uint8_t[]> read_reply(const FlashCommand* cmd, uint32_t replyLength,
                                      uint32_t spareBytes, const char* retryOutMessage) {
  uint32_t length = replyLength != 0 ? replyLength : cmd->rxLength;
  uint64_t size = static_cast<uint64_t>(frame_buffer_size(cmd, length)) + spareBytes;
  if (size > SIZE_MAX) return nullptr;
  auto reply = zeroed_buffer(static_cast<size_t>(size));
  if (!reply) return nullptr;
  for (int attempt = 0; attempt < REPLY_ATTEMPTS; ++attempt) {
    if (flash_transfer(cmd, reply.get(), length) == 0) return reply;
  }
  std::fputs(retryOutMessage, stderr);
  return nullptr;
}
