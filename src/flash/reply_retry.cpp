// Replies get three immediate attempts before the operation gives up.
#include <cstdio>

#include "flash/flash.h"

namespace {
constexpr int REPLY_ATTEMPTS = 3;
}

int transfer_with_retries(const FlashCommand* cmd, uint8_t* buf, uint32_t replyLength,
                          const char* retryOutMessage) {
  for (int attempt = 0; attempt < REPLY_ATTEMPTS; ++attempt) {
    if (flash_transfer(cmd, buf, replyLength) == 0) return 0;
  }
  std::fputs(retryOutMessage, stderr);
  return STATUS_FAIL;
}
