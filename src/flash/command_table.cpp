// SPDX-License-Identifier: MIT
// The command table built from its rows, and row selection by id or by name.
#include <cstring>

#include "flash/flash.h"

// regData is 0 in every row.
#define ROW(id, name, opcode, address, dummyBytes, txLength, rxLength) \
  {id, name, opcode, address, dummyBytes, txLength, rxLength, 0},
const FlashCommand CommandTable[COMMAND_COUNT] = {
#include "flash/command_rows.h"
};
#undef ROW

namespace {

// The one step of every selection: a copy of the row whose address and register
// value are for the caller to fill in.
uint32_t take_row(FlashCommand* out, uint32_t row) {
  *out = CommandTable[row];
  out->address = NO_VALUE;
  out->regData = NO_VALUE;
  return row;
}

}  // namespace

uint32_t select_command(FlashCommand* out, uint32_t id) {
  for (uint32_t row = 0; row < COMMAND_COUNT; ++row) {
    if (CommandTable[row].id == id) return take_row(out, row);
  }
  return 0;
}

uint32_t select_command_named(FlashCommand* out, const char* name) {
  for (uint32_t row = 0; row < COMMAND_COUNT; ++row) {
    // Row 0's empty name stands for no command: it is never selected.
    if (std::strcmp(CommandTable[row].name, name) == 0) return row == 0 ? 0 : take_row(out, row);
  }
  return 0;
}
