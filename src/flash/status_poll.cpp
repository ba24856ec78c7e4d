// SPDX-License-Identifier: MIT
// Waiting on the status register.
#include <cstdio>
#include <cstring>

#include "flash/flash.h"

namespace {

int report_timeout(uint32_t timeoutMs) {
  std::fprintf(stderr, "\n  ERROR: Check RDSR TIME OUT:%lu msec)\n",
               static_cast<unsigned long>(timeoutMs));
  return STATUS_FAIL;
}

}  // namespace

int poll_status(const FlashCommand* cmd, uint8_t mask, bool waitForSet, uint32_t timeoutMs) {
  uint32_t size = frame_buffer_size(cmd, cmd->rxLength);
  auto buf = zeroed_buffer(size);
  if (!buf) return STATUS_FAIL;
  if (timeoutMs == 0) return report_timeout(timeoutMs);

  int failures = 0;
  for (uint32_t ticks = 0; ticks < timeoutMs; ++ticks) {
    std::memset(buf.get(), 0, size);
    if (flash_transfer(cmd, buf.get(), 0) != 0) {
      if (out_of_retries(failures)) {
        std::fputs("  Page Write Protocol Retryout!!\n", stderr);
        return STATUS_FAIL;
      }
      ++failures;
      continue;  // a failed read uses up its tick without sleeping
    }
    failures = 0;
    if (((buf[0] & mask) != 0) == waitForSet) return 0;
    sleep_for(0, 1000000);
  }
  return report_timeout(timeoutMs);
}
