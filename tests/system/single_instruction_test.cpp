// Commands that go out alone: one message each, nothing read, nothing printed.
#include "romflash_on_sim.h"

namespace {

using SingleInstruction = RomflashOnSim;

TEST_F(SingleInstruction, EachSendsExactlyItsFrame) {
  struct Case {
    Lines args;
    const char* segment;
  } cases[] = {
      {{"-o", "VSRWE"}, "  seg 1 tx 50"},
      {{"-o", "WREN"}, "  seg 1 tx 06"},
      {{"-o", "WRDI"}, "  seg 1 tx 04"},
      {{"-o", "BE"}, "  seg 1 tx 60"},
      {{"-o", "SE", "0x010000"}, "  seg 4 tx D8 01 00 00"},
      {{"-o", "SE4K", "0x123456"}, "  seg 4 tx 20 12 34 56"},
      {{"-o", "SE8K", "0x2000"}, "  seg 4 tx 40 00 20 00"},
      {{"-o", "SE32K", "0x1008000"}, "  seg 4 tx 52 00 80 00"},
      {{"-o", "WRR1", "0x1234"}, "  seg 2 tx 01 12"},
      {{"-o", "WRR1", "2"}, "  seg 2 tx 01 00"},
      {{"-o", "WRR2", "0x1234"}, "  seg 3 tx 01 12 34"},
      {{"-o", "WRR2", "0xABCDEF"}, "  seg 3 tx 01 CD EF"},
  };
  for (const auto& c : cases) {
    ProcessResult run = romflash_on_device(c.args);
    EXPECT_EQ(run.exitStatus, 0) << c.args[1] << run.err;
    EXPECT_EQ(run.out, "") << c.args[1];
    EXPECT_EQ(run.err, "") << c.args[1];
    EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", c.segment, "  seg 0"})) << c.args[1];
  }
}

TEST_F(SingleInstruction, EraseNeedsItsOwnWriteEnableAndActsOnTheChip) {
  load_chip(0x3000, std::string(16, '\x5A'));
  // Without a write enable first the chip ignores the erase.
  EXPECT_EQ(romflash_on_device({"-o", "SE4K", "0x3000"}).exitStatus, 0);
  EXPECT_EQ(chip_bytes(0x3000, 16), std::string(16, '\x5A'));

  EXPECT_EQ(romflash_on_device({"-o", "WREN"}).exitStatus, 0);
  EXPECT_EQ(romflash_on_device({"-o", "SE4K", "0x3000"}).exitStatus, 0);
  EXPECT_EQ(romflash_on_device({"-o", "RDSR_WIP"}).exitStatus, 0);
  EXPECT_EQ(chip_bytes(0x3000, 16), std::string(16, '\xFF'));
}

TEST_F(SingleInstruction, AFailedTransferIsNotRetried) {
  ProcessResult run = romflash_on_device({"-o", "BE"}, {"--fail-msg", "1", "--errno", "EBUSY"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Device or resource busy\n");
  EXPECT_EQ(trace_of("msg").size(), 3u);
}

}  // namespace
