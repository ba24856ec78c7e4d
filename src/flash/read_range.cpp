// SPDX-License-Identifier: MIT
// The chunked read behind READ, FREAD and every checksum of a flash range.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "flash/flash.h"

int read_range(const FlashCommand* reader, uint32_t size, const char* retryOutMessage,
               ChunkSink sink, void* context) {
  auto buf = zeroed_buffer(frame_buffer_size(reader, CHUNK_SIZE));
  if (!buf) return RANGE_NO_MEMORY;
  FlashCommand work = *reader;  // its address walks through the range
  uint32_t remaining = size;
  int failures = 0;
  while (remaining != 0) {
    uint32_t chunk = std::min(remaining, CHUNK_SIZE);
    std::memset(buf.get(), 0, chunk);
    if (flash_transfer(&work, buf.get(), chunk) != 0) {
      if (out_of_retries(failures)) {
        std::fputs(retryOutMessage, stderr);
        return RANGE_STOPPED;
      }
      ++failures;
      continue;
    }
    if (!sink(context, buf.get(), chunk)) return RANGE_STOPPED;
    remaining -= chunk;
    work.address += chunk;
    failures = 0;
  }
  return RANGE_READ;
}
