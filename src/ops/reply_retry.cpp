#include "ops/operations.h"

namespace {
constexpr int REPLY_ATTEMPTS = 3;
}

int transfer_with_retries(const FlashCommand* cmd, uint8_t* buf, uint32_t rxLen,
                          const char* retryOutMessage) {
  for (int attempt = 0; attempt < REPLY_ATTEMPTS; ++attempt) {
    if (flash_transfer(cmd, buf, rxLen) == 0) return 0;
  }
  std::fputs(retryOutMessage, stderr);
  return STATUS_FAIL;
}
