#include <gtest/gtest.h>

#include <cstring>

#include "flash/flash.h"

namespace {

TEST(SelectCommand, CopiesTheRowWithAddressAndRegisterUnset) {
  FlashCommand cmd{};
  ASSERT_EQ(select_command(&cmd, WREN), 4u);
  EXPECT_STREQ(cmd.name, "WREN");
  EXPECT_EQ(cmd.opcode, 0x06);
  EXPECT_EQ(cmd.txLength, 1u);
  EXPECT_EQ(cmd.rxLength, 0u);
  EXPECT_EQ(cmd.address, NO_VALUE);
  EXPECT_EQ(cmd.regData, NO_VALUE);

  // The table marks address rows with 1; selection never lets that reach the wire.
  ASSERT_EQ(select_command(&cmd, SE), 11u);
  EXPECT_EQ(cmd.opcode, 0xD8);
  EXPECT_EQ(cmd.address, NO_VALUE);
}

TEST(SelectCommand, UnknownIdsAndRowZeroAreNotFoundAndLeaveTheRecord) {
  FlashCommand cmd{};
  select_command(&cmd, RDCR);
  FlashCommand before = cmd;
  EXPECT_EQ(select_command(&cmd, 25), 0u);
  EXPECT_EQ(select_command(&cmd, 0xFFFFFFFF), 0u);
  EXPECT_EQ(std::memcmp(&cmd, &before, sizeof cmd), 0);
  EXPECT_EQ(select_command(&cmd, NO_COMMAND), 0u);
}

TEST(CommandTable, RowsThatShareAnOpcodeDifferOnlyInUse) {
  // Status reads, fast reads and page programs each share their instruction.
  for (uint32_t id : {RDSR, RDSR_WEL, RDSR_WIP}) {
    EXPECT_EQ(CommandTable[id].opcode, 0x05) << id;
    EXPECT_EQ(CommandTable[id].rxLength, 1u) << id;
  }
  for (uint32_t id : {FREAD, VER, CHKSUM}) {
    EXPECT_EQ(CommandTable[id].opcode, 0x0B) << id;
    EXPECT_EQ(CommandTable[id].dummyBytes, 1u) << id;
  }
  EXPECT_EQ(CommandTable[VER].rxLength, 12u);
  EXPECT_EQ(CommandTable[PP].opcode, CommandTable[WRITE].opcode);
  EXPECT_EQ(CommandTable[PP].txLength, 260u);
  for (uint32_t row = 0; row < COMMAND_COUNT; ++row) EXPECT_EQ(CommandTable[row].id, row);
}

}  // namespace
