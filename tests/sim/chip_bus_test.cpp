// The chip's answers to instructions on the bus.
#include "chip_fixture.h"

namespace {

constexpr uint64_t kPageNs = 700000;
constexpr uint64_t kErase4kNs = 45000000;

using ChipProgram = ChipTest;

TEST_F(ChipProgram, DataIsAndedIntoTheArrayWhenTheWriteTimeEnds) {
  create();
  fill(0x1000, 1, 0xF0);
  wren();
  xfer(page_program_frame(0x001000, {0x3C, 0xFF}));
  EXPECT_EQ(status(), 0x03);
  EXPECT_EQ(at(0x1000), 0xF0);
  chip_advance_ns(chip_, kPageNs);
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(read(0x1000, 2), (Bytes{0x30, 0xFF}));
}

TEST_F(ChipProgram, ColumnWrapsToTheStartOfThePage) {
  create();
  wren();
  xfer(page_program_frame(0x0001FE, {0x11, 0x22, 0x33, 0x44}));
  chip_advance_ns(chip_, kPageNs);
  EXPECT_EQ(read(0x0001FE, 2), (Bytes{0x11, 0x22}));
  EXPECT_EQ(read(0x000100, 3), (Bytes{0x33, 0x44, 0xFF}));
  EXPECT_EQ(at(0x200), 0xFF);
}

TEST_F(ChipProgram, LongerBurstKeepsTheLast256Bytes) {
  create();
  Bytes data(256, 0xAA);
  data.push_back(0x55);
  data.push_back(0x5A);
  wren();
  xfer(page_program_frame(0x000300, data));
  chip_advance_ns(chip_, kPageNs);
  EXPECT_EQ(read(0x000300, 3), (Bytes{0x55, 0x5A, 0xAA}));
  EXPECT_EQ(at(0x3FF), 0xAA);
}

TEST_F(ChipProgram, ReadWrapsAtTheEndOfTheChip) {
  create();
  fill(0x0FFFFF, 1, 0x12);
  fill(0x000000, 1, 0x34);
  EXPECT_EQ(xfer({0x0B, 0x0F, 0xFF, 0xFF, 0x00}, 2), (Bytes{0x12, 0x34}));
}

struct EraseCase {
  uint8_t opcode;
  uint32_t length;
};

class ChipErase : public ChipTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(ChipErase, ClearsTheAlignedBlockHoldingTheAddress) {
  create("default", {"size=1M"}, 0x00);
  const uint32_t len = GetParam().length, base = 3 * len, address = base + len / 2 + 0x123;
  wren();
  xfer({GetParam().opcode, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)});
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, 150000000);
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(at(base - 1), 0x00);
  EXPECT_EQ(at(base), 0xFF);
  EXPECT_EQ(at(base + len - 1), 0xFF);
  EXPECT_EQ(at(base + len), 0x00);
}

INSTANTIATE_TEST_SUITE_P(ChipBlockSizes, ChipErase,
                         ::testing::Values(EraseCase{0x20, 4096}, EraseCase{0x40, 8192},
                                           EraseCase{0x52, 32768}, EraseCase{0xD8, 65536}));

using ChipEraseCommand = ChipTest;

TEST_F(ChipEraseCommand, ChipEraseC7TakesTheWholeChipTime) {
  create("small", {}, 0x00);
  wren();
  xfer({0xC7});
  chip_advance_ns(chip_, 2500000000ull - 1);
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, 1);
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(at(0), 0xFF);
  EXPECT_EQ(at(0x0FFFFF), 0xFF);
}

TEST_F(ChipEraseCommand, ShortFrameIsIgnoredAndWelStays) {
  create("small", {}, 0x00);
  wren();
  xfer({0x20, 0x00, 0x10});
  EXPECT_EQ(status(), 0x02);
  EXPECT_EQ(at(0x1000), 0x00);
}

TEST_F(ChipEraseCommand, EightKilobyteEraseIsUnknownOnW25q128) {
  create("w25q128", {}, 0x00);
  wren();
  xfer({0x40, 0x00, 0x00, 0x00});
  EXPECT_EQ(status(), 0x02);
  EXPECT_EQ(at(0), 0x00);
}

using ChipWriteEnable = ChipTest;

TEST_F(ChipWriteEnable, WrenSetsWelAndWrdiClearsIt) {
  create();
  EXPECT_EQ(status(), 0x00);
  wren();
  EXPECT_EQ(status(), 0x02);
  xfer({0x04});
  EXPECT_EQ(status(), 0x00);
}

TEST_F(ChipWriteEnable, ProgramWithoutWelIsIgnored) {
  create();
  xfer(page_program_frame(0x000000, {0x00}));
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(at(0), 0xFF);
}

TEST_F(ChipWriteEnable, BusyChipAnswersOnlyStatusAndConfig) {
  create("small", {"config=0x5A"});
  fill(0, 2, 0x00);
  wren();
  xfer({0x20, 0x00, 0x00, 0x00});
  EXPECT_EQ(read(0, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(xfer({0x9F}, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(xfer({0x35}, 2), (Bytes{0x5A, 0x5A}));
  xfer({0x04});
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, kErase4kNs - 1);
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, 1);
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(read(0, 2), (Bytes{0xFF, 0xFF}));
}

TEST_F(ChipWriteEnable, StatusStreamShowsWipClearingMidRead) {
  create();
  wren();
  xfer(page_program_frame(0, {0x00}));
  chip_select(chip_);
  chip_shift(chip_, 0x05);
  EXPECT_EQ(chip_shift(chip_, 0), 0x03);
  chip_advance_ns(chip_, kPageNs);
  EXPECT_EQ(chip_shift(chip_, 0), 0x00);
  chip_deselect(chip_);
}

TEST_F(ChipWriteEnable, WelNeverSetsFaultIgnoresWren) {
  create();
  reattach(ChipFaults{true, false});
  wren();
  EXPECT_EQ(status(), 0x00);
}

TEST_F(ChipWriteEnable, WipNeverClearsFaultHangsTheOperationForThisRunOnly) {
  create();
  reattach(ChipFaults{false, true});
  wren();
  xfer(page_program_frame(0, {0x00}));
  chip_advance_ns(chip_, 10 * kPageNs);
  EXPECT_EQ(status(), 0x03);
  EXPECT_EQ(at(0), 0xFF);
  xfer({0x04});
  EXPECT_EQ(status(), 0x03);
  reattach();
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(at(0), 0x00);
}

using ChipPowerDown = ChipTest;

TEST_F(ChipPowerDown, OnlyResIsObeyedAndItWakesTheChip) {
  create();
  xfer({0xB9});
  EXPECT_TRUE(chip_in_deep_power_down(chip_));
  EXPECT_EQ(status(), 0xFF);
  EXPECT_EQ(xfer({0x9F}, 3), (Bytes{0xFF, 0xFF, 0xFF}));
  wren();
  EXPECT_EQ(xfer({0xAB, 0x00, 0x00, 0x00}, 2), (Bytes{0x13, 0x13}));
  EXPECT_FALSE(chip_in_deep_power_down(chip_));
  EXPECT_EQ(status(), 0x00);
}

using ChipRegisters = ChipTest;

TEST_F(ChipRegisters, OneByteWrrWritesStatusBitsSevenToTwoAfterTheWriteTime) {
  create();
  wren();
  xfer({0x01, 0xFF});
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, 5000000);
  EXPECT_EQ(status(), 0xFC);
  EXPECT_EQ(chip_config_register(chip_), 0x00);
}

TEST_F(ChipRegisters, TwoByteWrrWritesStatusAndConfig) {
  create();
  wren();
  xfer({0x01, 0x08, 0xA5});
  chip_advance_ns(chip_, 5000000);
  EXPECT_EQ(status(), 0x08);
  EXPECT_EQ(xfer({0x35}, 2), (Bytes{0xA5, 0xA5}));
}

TEST_F(ChipRegisters, VsrweMakesTheNextWrrImmediateWithoutWel) {
  create();
  xfer({0x50});
  xfer({0x01, 0x1C, 0x40});
  EXPECT_EQ(status(), 0x1C);
  EXPECT_EQ(chip_config_register(chip_), 0x40);
  xfer({0x01, 0x00});
  EXPECT_EQ(status(), 0x1C);
}

// BP2..BP0 = n protects the top size >> (7 - n); 7 protects all of it.
class ChipProtection : public ChipTest, public ::testing::WithParamInterface<int> {};

TEST_P(ChipProtection, EraseInsideTheRegionIsDroppedSilently) {
  const int bp = GetParam();
  create("small", {"status=" + std::to_string(bp << 2)}, 0x00);
  const uint32_t size = 0x100000, start = bp == 7 ? 0 : size - (size >> (7 - bp));
  const uint32_t protectedSector = start, freeSector = start - 0x1000;
  for (uint32_t sector : {protectedSector, freeSector}) {
    if (sector >= size) continue;
    wren();
    xfer({0x20, uint8_t(sector >> 16), uint8_t(sector >> 8), 0x00});
    chip_advance_ns(chip_, kErase4kNs);
    EXPECT_EQ(status() & 0x03, 0x00);
  }
  EXPECT_EQ(at(protectedSector), 0x00);
  if (bp != 7) {
    EXPECT_EQ(at(freeSector), 0xFF);
  }
}

INSTANTIATE_TEST_SUITE_P(ChipBpLevels, ChipProtection, ::testing::Range(1, 8));

using ChipProtectionCommand = ChipTest;

TEST_F(ChipProtectionCommand, ProgramIntoTheTopSixtyFourthIsDropped) {
  create("small", {"status=0x04"});
  wren();
  xfer(page_program_frame(0x0FC000, {0x00}));
  EXPECT_EQ(status(), 0x04);
  wren();
  xfer(page_program_frame(0x0FBF00, {0x00}));
  chip_advance_ns(chip_, kPageNs);
  EXPECT_EQ(at(0x0FC000), 0xFF);
  EXPECT_EQ(at(0x0FBF00), 0x00);
}

TEST_F(ChipProtectionCommand, ChipEraseWithAnyBpIsDropped) {
  create("small", {"status=0x04"}, 0x00);
  wren();
  xfer({0x60});
  EXPECT_EQ(status(), 0x04);
  EXPECT_EQ(at(0), 0x00);
}

using ChipIdentification = ChipTest;

TEST_F(ChipIdentification, DefaultRdidCarriesTheCfiArea) {
  create("default");
  Bytes id = xfer({0x9F}, 4 + 77 + 1);
  EXPECT_EQ(Bytes(id.begin(), id.begin() + 6), (Bytes{0x01, 0x20, 0x18, 0x4D, 0x00, 0x80}));
  EXPECT_EQ(Bytes(id.begin() + 0x10, id.begin() + 0x13), (Bytes{'Q', 'R', 'Y'}));
  EXPECT_EQ(id[0x27], 0x18);  // 2^24 bytes
  EXPECT_EQ(id[4 + 77], 0xFF);
}

TEST_F(ChipIdentification, W25q128RdidHasNoExtendedBytes) {
  create("w25q128");
  EXPECT_EQ(xfer({0x9F}, 5), (Bytes{0xEF, 0x40, 0x18, 0x00, 0xFF}));
}

TEST_F(ChipIdentification, RemsOrderFollowsAddressBitZero) {
  create("w25q128");
  EXPECT_EQ(xfer({0x90, 0x00, 0x00, 0x00}, 4), (Bytes{0xEF, 0x17, 0xEF, 0x17}));
  EXPECT_EQ(xfer({0x90, 0x00, 0x00, 0x01}, 2), (Bytes{0x17, 0xEF}));
}

TEST_F(ChipIdentification, SfdpDescribesTheW25q128) {
  create("w25q128");
  EXPECT_EQ(xfer({0x5A, 0x00, 0x00, 0x00, 0x00}, 16),
            (Bytes{'S', 'F', 'D', 'P', 0x00, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x09, 0x80, 0x00, 0x00, 0xFF}));
  Bytes table = xfer({0x5A, 0x00, 0x00, 0x80, 0x00}, 37);
  EXPECT_EQ(Bytes(table.begin(), table.begin() + 8), (Bytes{0xE5, 0x20, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x07}));
  EXPECT_EQ(Bytes(table.begin() + 28, table.end()), (Bytes{0x0C, 0x20, 0x0F, 0x52, 0x10, 0xD8, 0x00, 0x00, 0xFF}));
}

TEST_F(ChipIdentification, SfdpAndUnknownOpcodesReadAsAbsentOnDefault) {
  create("default");
  EXPECT_EQ(xfer({0x5A, 0x00, 0x00, 0x00, 0x00}, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(xfer({0x4B, 0x00, 0x00, 0x00, 0x00}, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(status(), 0x00);
}

}  // namespace
