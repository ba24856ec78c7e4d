// SPDX-License-Identifier: MIT
// The ID-CFI area a part with `ext cfi` answers after its RDID bytes, derived from the
// part's other facts, and the figures it shares with the simulator's SFDP table.
#include "parts_reader.h"

namespace flashparts {

uint8_t ceil_log2(uint64_t v) {
  uint8_t n = 0;
  while ((uint64_t{1} << n) < v && n < 63) ++n;
  return n;
}

uint32_t uniform_block(const ChipProfile& p) {
  const EraseRule& d8 = p.erases[3];
  return d8.kind == EraseKind::BLOCK ? d8.blockBytes : 65536;
}

// The ID-CFI area a Spansion-style part returns after its 3 RDID bytes and the
// length byte: addresses 0x04..0x50, so the length byte reads 0x4D (77).
std::vector<uint8_t> cfi_extended_id(const ChipProfile& p) {
  std::vector<uint8_t> cfi(0x51, 0xFF);
  const uint32_t block = uniform_block(p);
  cfi[0x04] = 0x00;  // uniform sector architecture
  cfi[0x05] = 0x80;  // family
  cfi[0x06] = 0x30;
  cfi[0x07] = 0x30;
  cfi[0x10] = 'Q';
  cfi[0x11] = 'R';
  cfi[0x12] = 'Y';
  const uint8_t fixed[] = {0x02, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27, 0x36, 0x00, 0x00};
  for (size_t i = 0; i < sizeof fixed; ++i) cfi[0x13 + i] = fixed[i];
  const uint64_t blockNs = erase_time_ns(p.timings, block);
  cfi[0x1F] = 0x00;                                                   // no single-byte program time
  cfi[0x20] = ceil_log2((p.timings.programNs + 999) / 1000);          // 2^N us
  cfi[0x21] = ceil_log2((blockNs + 999999) / 1000000);                // 2^N ms
  cfi[0x22] = ceil_log2((p.timings.chipEraseNs + 999999) / 1000000);  // 2^N ms
  cfi[0x23] = 0x00;
  cfi[0x24] = 0x02;
  cfi[0x25] = 0x03;
  cfi[0x26] = 0x03;
  cfi[0x27] = ceil_log2(p.sizeBytes);
  cfi[0x28] = 0x01;
  cfi[0x29] = 0x00;
  cfi[0x2A] = ceil_log2(p.pageBytes);  // 2^N-byte page
  cfi[0x2B] = 0x00;
  cfi[0x2C] = 0x01;  // one region of uniform blocks
  uint32_t blocks = (p.sizeBytes + block - 1) / block - 1;
  cfi[0x2D] = static_cast<uint8_t>(blocks);
  cfi[0x2E] = static_cast<uint8_t>(blocks >> 8);
  cfi[0x2F] = static_cast<uint8_t>(block / 256);  // block size in units of 256 bytes
  cfi[0x30] = static_cast<uint8_t>(block / 256 >> 8);
  cfi[0x40] = 'P';
  cfi[0x41] = 'R';
  cfi[0x42] = 'I';
  cfi[0x43] = '1';
  cfi[0x44] = '3';
  return std::vector<uint8_t>(cfi.begin() + 4, cfi.end());
}

}  // namespace flashparts
