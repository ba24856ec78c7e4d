// Reading the flash in 256-byte chunks: to a file, or into a 16-bit sum.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ops/operations.h"

namespace {

constexpr int FAILURES_BEFORE_GIVING_UP = 3;  // the fourth failure in a row ends a read

}  // namespace

uint32_t sum16(const uint8_t* buf, uint32_t len) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < len; ++i) sum = (sum + buf[i]) & 0xFFFF;
  return sum;
}

uint32_t flash_checksum(uint32_t address, uint32_t size) {
  auto buf = zeroed_buffer(CHUNK_SIZE);
  if (!buf) {
    std::fprintf(stderr, "ERROR: %s\n", std::strerror(ENOMEM));
    return 0;
  }
  // Its own FREAD copy, whichever operation asks for the sum.
  FlashCommand reader;
  if (select_command(&reader, FREAD) == 0) return 0;
  reader.address = address;

  uint32_t sum = 0;
  uint32_t remaining = size;
  int failures = 0;
  while (remaining != 0) {
    uint32_t piece = std::min(remaining, CHUNK_SIZE);
    std::memset(buf.get(), 0, piece);
    if (flash_transfer(&reader, buf.get(), piece) != 0) {
      if (failures == FAILURES_BEFORE_GIVING_UP) {
        std::fputs("  Get Checksum Protocol Retryout!!\n", stderr);
        return sum;
      }
      ++failures;
      continue;
    }
    sum = (sum + sum16(buf.get(), piece)) & 0xFFFF;
    remaining -= piece;
    reader.address += piece;
    failures = 0;
  }
  return sum;
}

int read_flash_to_file() {
  FlashCommand* cmd = &RunState.command;
  auto buf = zeroed_buffer(CHUNK_SIZE);
  if (!buf) return STATUS_FAIL;
  uint32_t remaining = cmd->rxLength;
  int failures = 0;
  while (remaining != 0) {
    uint32_t chunk = std::min(remaining, CHUNK_SIZE);
    std::memset(buf.get(), 0, chunk);
    if (flash_transfer(cmd, buf.get(), chunk) != 0) {
      if (failures == FAILURES_BEFORE_GIVING_UP) {
        std::fputs("  Flash Read Protocol Retryout!!\n", stderr);
        return STATUS_FAIL;
      }
      ++failures;
      continue;
    }
    if (RunState.outputFile == nullptr) return STATUS_FAIL;
    if (std::fwrite(buf.get(), 1, chunk, RunState.outputFile) < chunk) return STATUS_FAIL;
    remaining -= chunk;
    cmd->address += chunk;
    failures = 0;
  }
  return 0;
}

int print_range_checksum() {
  uint32_t sum = flash_checksum(RunState.command.address, RunState.command.rxLength);
  if (RunState.outputFile != nullptr) std::fprintf(RunState.outputFile, "%04X\n", sum);
  std::printf("%04X\n", sum);
  return 0;
}
