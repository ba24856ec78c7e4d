#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ops/operations.h"

namespace {
const char VERSION_RETRYOUT[] = "  Flash Read Version Number Protocol Retryout!!\n";
}

int read_version_text(const FlashCommand* cmd, FILE* outputFile) {
  uint32_t textLength = cmd->rxLength;
  // One spare zero byte past the reply, so the text always ends.
  uint64_t size = std::max<uint64_t>(cmd->dummyBytes + cmd->txLength, textLength) + 1;
  if (size > SIZE_MAX) return STATUS_FAIL;
  auto reply = zeroed_buffer(static_cast<size_t>(size));
  if (!reply) return STATUS_FAIL;
  if (transfer_with_retries(cmd, reply.get(), textLength, VERSION_RETRYOUT) != 0) {
    return STATUS_FAIL;
  }
  // A reply shorter than the frame leaves frame bytes behind it: stop at its end.
  size_t length = strnlen(reinterpret_cast<const char*>(reply.get()), textLength);
  if (outputFile != nullptr) {
    std::fwrite(reply.get(), 1, length, outputFile);
    std::fputc('\n', outputFile);
  }
  std::fwrite(reply.get(), 1, length, stdout);
  std::fputc('\n', stdout);
  return 0;
}
