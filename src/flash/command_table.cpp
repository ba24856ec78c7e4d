// SPDX-License-Identifier: MIT
// The table of every command the program can send, and row selection.
#include "flash/flash.h"

// address 1 marks the rows that carry an address; selection replaces it.
const FlashCommand CommandTable[COMMAND_COUNT] = {
    {NO_COMMAND, "", 0x00, 0, 0, 0, 0, 0},
    {RDID, "RDID", 0x9F, 0, 0, 1, 4, 0},
    {READ_ID, "READ_ID", 0x90, 0, 3, 1, 2, 0},
    {VSRWE, "VSRWE", 0x50, 0, 0, 1, 0, 0},
    {WREN, "WREN", 0x06, 0, 0, 1, 0, 0},
    {WRDI, "WRDI", 0x04, 0, 0, 1, 0, 0},
    {RDSR, "RDSR", 0x05, 0, 0, 1, 1, 0},
    {RDSR_WEL, "RDSR_WEL", 0x05, 0, 0, 1, 1, 0},
    {RDSR_WIP, "RDSR_WIP", 0x05, 0, 0, 1, 1, 0},
    {RDCR, "RDCR", 0x35, 0, 0, 1, 2, 0},
    {BE, "BE", 0x60, 0, 0, 1, 0, 0},
    {SE, "SE", 0xD8, 1, 0, 4, 0, 0},
    {SE4K, "SE4K", 0x20, 1, 0, 4, 0, 0},
    {SE8K, "SE8K", 0x40, 1, 0, 4, 0, 0},
    {SE32K, "SE32K", 0x52, 1, 0, 4, 0, 0},
    {PP, "PP", 0x02, 1, 0, 260, 0, 0},
    {WRR1, "WRR1", 0x01, 0, 0, 2, 0, 0},
    {WRR2, "WRR2", 0x01, 0, 0, 3, 0, 0},
    {READ, "READ", 0x03, 1, 0, 4, 256, 0},
    {FREAD, "FREAD", 0x0B, 1, 1, 4, 256, 0},
    {VER, "VER", 0x0B, 1, 1, 4, 12, 0},
    {CHKSUM, "CHKSUM", 0x0B, 1, 1, 4, 256, 0},
    {DP, "DP", 0xB9, 0, 0, 1, 0, 0},
    {RES, "RES", 0xAB, 0, 3, 1, 1, 0},
    {WRITE, "WRITE", 0x02, 1, 0, 260, 0, 0},
};

uint32_t select_command(FlashCommand* out, uint32_t id) {
  for (uint32_t row = 0; row < COMMAND_COUNT; ++row) {
    if (CommandTable[row].id != id) continue;
    *out = CommandTable[row];
    out->address = NO_VALUE;
    out->regData = NO_VALUE;
    return row;
  }
  return 0;
}
