// SPDX-License-Identifier: MIT
// romflash cases that need several runs on one chip, or a look at more than the
// row runner shows: the chip keeps what one run did for the next.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

class Scenario : public ::testing::Test {
 protected:
  SimChip chip;
  void SetUp() override { ASSERT_TRUE(chip.create({})); }
  // romflash -d /dev/spi0 ARGS: status, standard output and error, the messages it sent.
  void expect_run(const Lines& args, int status, const std::string& out, const std::string& wire,
                  const std::string& err = "") {
    ProcessResult run = chip.romflash(Lines{"-d", "/dev/spi0"} + args);
    EXPECT_EQ(run.exitStatus, status) << args[1];
    EXPECT_EQ(run.out, out) << args[1];
    EXPECT_EQ(run.err, err) << args[1];
    EXPECT_EQ(chip.wire(), "open; spi 0x03 8 500000; " + wire + "close") << args[1];
  }
};

TEST_F(Scenario, DeepPowerDownSilencesTheChipUntilRes) {
  expect_run({"-o", "DP"}, 0, "DEEP_POWER-DOWN: ..........\n", "B9; ");
  expect_run({"-o", "READ_ID"}, 0, "MANUF_ID: 0xFF\nDEVICE_ID: 0xFF\n", "90 000000 > FF FF; ");
  expect_run({"-o", "RES"}, 0, "RELESE_DP: EL-SIG: 0x17\n", "AB 000000 > 17; ");
  expect_run({"-o", "READ_ID"}, 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x17\n", "90 000000 > 01 17; ");
}

TEST_F(Scenario, WriteEnableAndDisableShowInTheStatusRegister) {
  expect_run({"-o", "WREN"}, 0, "", "06; ");
  expect_run({"-o", "RDSR"}, 0, "STATUS_REG: 0x02\n", "05 > 02; ");
  expect_run({"-o", "WRDI"}, 0, "", "04; ");
  expect_run({"-o", "RDSR"}, 0, "STATUS_REG: 0x00\n", "05 > 00; ");
}

TEST_F(Scenario, RegisterWriteReachesTheChipAfterItsWriteTime) {
  expect_run({"-o", "WREN"}, 0, "", "06; ");
  expect_run({"-o", "WRR2", "0x0042"}, 0, "", "01 00 42; ");
  expect_run({"-o", "RDSR_WIP"}, 0, "", "(05 > 03; +1000us) x5; 05 > 00; ");
  expect_run({"-o", "RDCR"}, 0, "CONFIG_REG: 0x42\n", "35 > 42 42; ");
}

TEST_F(Scenario, SectorEraseThenWaitOnIt) {
  chip.load(0x3000, std::string(16, '\x5A'));
  expect_run({"-o", "WREN"}, 0, "", "06; ");
  expect_run({"-o", "SE4K", "0x3000"}, 0, "", "20 003000; ");
  expect_run({"-o", "RDSR_WIP", "1000"}, 0, "", "(05 > 03; +1000us) x44; 05 > 00; ");
  EXPECT_EQ(chip.bytes(0x3000, 16), std::string(16, '\xFF'));
}

TEST_F(Scenario, ChipEraseOutlastsTheDefaultWipTimeout) {
  expect_run({"-o", "WREN"}, 0, "", "06; ");
  expect_run({"-o", "BE"}, 0, "", "60; ");
  expect_run({"-o", "RDSR_WIP"}, 11, "", "(05 > 03; +1000us) x4000; ",
             "\n  ERROR: Check RDSR TIME OUT:4000 msec)\n");
}

// Every extended byte the chip announces is dumped, 16 to a line.
TEST_F(Scenario, RdidDumpsTheBytesTheChipSent) {
  ProcessResult run = chip.romflash({"-d", "/dev/spi0", "-o", "RDID"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "");
  Lines replies = chip.trace_lines("  seg");
  ASSERT_EQ(replies.size(), 4u);
  Lines sent = split_words(replies[3]);  // seg LEN rx BYTES...
  sent.erase(sent.begin(), sent.begin() + 3);
  ASSERT_EQ(sent.size(), 4u + 0x4D);
  std::string dump = "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n";
  char offset[32];
  for (size_t i = 0; i < sent.size(); ++i)
    dump += (i % 16 ? " " : (std::snprintf(offset, sizeof offset, "\n  0x%08zX: ", i), offset)) +
            sent[i];
  EXPECT_EQ(run.out, dump + "\n");
}

// The invocation name is cut to 255 characters before its last component is taken.
TEST(ProgramName, UsageNamesTheBaseOfTheFirst255Characters) {
  struct {
    std::string invoked, shown;
  } cases[] = {{std::string(254, 'x') + "/" + std::string(45, 'y'), std::string(254, 'x')},
               {"a/" + std::string(298, 'b'), std::string(253, 'b')}};
  for (const auto& c : cases) {
    Lines argv = sim_binaries().emulator +
                 (sim_binaries().emulator.empty() ? Lines{} : Lines{"-0", c.invoked}) +
                 Lines{sim_binaries().romflash, "-h"};
    ProcessResult run = run_process(argv, {}, argv.size() == 2 ? c.invoked : "");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err.substr(0, 7 + c.shown.size() + 13), "Usage: " + c.shown + " [option...]\n");
  }
}

}  // namespace
