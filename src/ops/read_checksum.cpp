// SPDX-License-Identifier: MIT
// Reading the flash in 256-byte chunks: to a file, or into a 16-bit sum.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ops/operations.h"

namespace {

bool add_to_sum(void* context, const uint8_t* chunk, uint32_t length) {
  uint32_t* sum = static_cast<uint32_t*>(context);
  *sum = (*sum + sum16(chunk, length)) & 0xFFFF;
  return true;
}

// Without a -w file the read stops after its first chunk, as a failure.
bool write_to_file(void* context, const uint8_t* chunk, uint32_t length) {
  FILE* outputFile = static_cast<FILE*>(context);
  return outputFile != nullptr && std::fwrite(chunk, 1, length, outputFile) == length;
}

}  // namespace

uint32_t sum16(const uint8_t* buf, uint32_t len) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < len; ++i) sum = (sum + buf[i]) & 0xFFFF;
  return sum;
}

// A read that gives up leaves the sum of what was read so far.
uint32_t flash_checksum(uint32_t address, uint32_t size) {
  // Its own FREAD copy, whichever operation asks for the sum.
  FlashCommand reader;
  if (select_command(&reader, FREAD) == 0) return 0;
  reader.address = address;
  uint32_t sum = 0;
  if (read_range(&reader, size, "  Get Checksum Protocol Retryout!!\n", add_to_sum, &sum) ==
      RANGE_NO_MEMORY) {
    std::fprintf(stderr, "ERROR: %s\n", std::strerror(ENOMEM));
  }
  return sum;
}

int read_flash_to_file(const FlashCommand* cmd, FILE* outputFile) {
  int result = read_range(cmd, cmd->rxLength, "  Flash Read Protocol Retryout!!\n", write_to_file,
                          outputFile);
  return result == RANGE_READ ? 0 : STATUS_FAIL;
}

int print_range_checksum(const FlashCommand* cmd, FILE* outputFile) {
  uint32_t sum = flash_checksum(cmd->address, cmd->rxLength);
  if (outputFile != nullptr) std::fprintf(outputFile, "%04X\n", sum);
  std::printf("%04X\n", sum);
  return 0;
}
