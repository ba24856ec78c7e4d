// SPDX-License-Identifier: MIT
// VER: the version text stored in the flash.
#include <cstdio>
#include <cstring>

#include "ops/operations.h"

namespace {
const char VERSION_RETRYOUT[] = "  Flash Read Version Number Protocol Retryout!!\n";
}

int read_version_text(const FlashCommand* cmd, FILE* outputFile) {
  uint32_t replyLength = cmd->rxLength;
  // One spare zero byte past the reply, so the text always ends.
  auto reply = read_reply(cmd, replyLength, 1, VERSION_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  // A reply shorter than the frame leaves frame bytes behind it: stop at its end.
  size_t length = strnlen(reinterpret_cast<const char*>(reply.get()), replyLength);
  if (outputFile != nullptr) {
    std::fwrite(reply.get(), 1, length, outputFile);
    std::fputc('\n', outputFile);
  }
  std::fwrite(reply.get(), 1, length, stdout);
  std::fputc('\n', stdout);
  return 0;
}
