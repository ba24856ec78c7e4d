// SPDX-License-Identifier: MIT
// RDID, READ_ID and RES: who the chip says it is.
#include <cstdio>

#include "ops/operations.h"

namespace {

const char ID_RETRYOUT[] = "  Read Manufacture ID Protocol Retryout!!\n";
const char SIGNATURE_RETRYOUT[] = "  Read Electronic Signature Protocol Retryout!!\n";

void dump_extended_id(const uint8_t* reply, uint32_t length) {
  std::printf("\n  0x%08X:", 0u);
  for (uint32_t offset = 0; offset < length; ++offset) {
    std::printf(" %02X", reply[offset]);
    if ((offset + 1) % 16 == 0 && offset + 1 < length) std::printf("\n  0x%08X:", offset + 1);
  }
  std::printf("\n");
}

}  // namespace

int identify_chip(const FlashCommand* cmd) {
  auto reply = read_reply(cmd, 0, 0, ID_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  std::printf("MANUF_ID: 0x%02X\nDEVICE_ID: 0x%02X%02X\n", reply[0], reply[1], reply[2]);

  uint32_t extendedCount = reply[3];
  if (extendedCount == 0) {
    std::printf("\n");
    return 0;
  }
  // The chip announced more ID bytes: read the whole identification again, longer.
  uint32_t replyLength = extendedCount + cmd->rxLength;
  reply = read_reply(cmd, replyLength, 0, ID_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  dump_extended_id(reply.get(), replyLength);
  return 0;
}

int identify_manufacturer_and_device(const FlashCommand* cmd) {
  auto reply = read_reply(cmd, 0, 0, ID_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  std::printf("MANUF_ID: 0x%02X\nDEVICE_ID: 0x%02X\n", reply[0], reply[1]);
  return 0;
}

int read_electronic_signature(const FlashCommand* cmd) {
  auto reply = read_reply(cmd, 0, 0, SIGNATURE_RETRYOUT);
  if (!reply) return STATUS_FAIL;
  std::printf("RELESE_DP: EL-SIG: 0x%02X\n", reply[0]);
  return 0;
}
