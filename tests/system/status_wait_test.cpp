// RDSR_WEL and RDSR_WIP: waiting on the status register in 1 ms ticks.
#include "romflash_on_sim.h"

#include <algorithm>

namespace {

using StatusWait = RomflashOnSim;

long count_lines(const Lines& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

TEST_F(StatusWait, IdleChipEndsTheWipWaitAfterOneReadWithoutSleeping) {
  ProcessResult run = romflash_on_device({"-o", "RDSR_WIP"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 05", "  seg 1 rx 00"}));
  EXPECT_EQ(trace_of("sleep"), Lines{});
}

TEST_F(StatusWait, ZeroTimeoutReportsAtOnceWithoutTraffic) {
  for (Lines args : {Lines{"-d", device, "-o", "RDSR_WEL", "0"}, Lines{"-o", "RDSR_WEL", "-d", device}}) {
    ProcessResult run = romflash(args);
    EXPECT_EQ(run.exitStatus, 11);
    EXPECT_EQ(run.err, "\n  ERROR: Check RDSR TIME OUT:0 msec)\n");
    EXPECT_EQ(trace_of("msg"), Lines{});
    EXPECT_EQ(trace_of("open"), Lines{"open " + device});
  }
}

TEST_F(StatusWait, LatchThatNeverSetsCostsOneReadAndOneSleepPerTick) {
  romflash_on_device({"-o", "WREN"}, {"--wel-stuck"});
  ProcessResult run = romflash_on_device({"-o", "RDSR_WEL", "5"}, {"--wel-stuck"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "\n  ERROR: Check RDSR TIME OUT:5 msec)\n");
  Lines oneTick{"msg 2 ok", "  seg 1 tx 05", "  seg 1 rx 00", "sleep 1000000"};
  Lines expected;
  for (int i = 0; i < 5; ++i) expected.insert(expected.end(), oneTick.begin(), oneTick.end());
  Lines observed;
  for (const auto& line : trace()) {
    if (line.rfind("msg", 0) == 0 || line.rfind("  seg", 0) == 0 || line.rfind("sleep", 0) == 0)
      observed.push_back(line);
  }
  EXPECT_EQ(observed, expected);
}

TEST_F(StatusWait, LatchSetByAnEarlierWriteEnableEndsTheWaitAtOnce) {
  romflash_on_device({"-o", "WREN"});
  ProcessResult run = romflash_on_device({"-o", "RDSR_WEL"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 05", "  seg 1 rx 02"}));
}

TEST_F(StatusWait, DefaultTimeoutsAre300And4000Ticks) {
  ProcessResult wel = romflash_on_device({"-o", "RDSR_WEL"});
  EXPECT_EQ(wel.exitStatus, 11);
  EXPECT_EQ(wel.err, "\n  ERROR: Check RDSR TIME OUT:300 msec)\n");
  EXPECT_EQ(count_lines(trace(), "  seg 1 tx 05"), 300);
  EXPECT_EQ(count_lines(trace(), "sleep 1000000"), 300);

  // A chip erase runs for far longer than 4000 ticks.
  romflash_on_device({"-o", "WREN"});
  romflash_on_device({"-o", "BE"});
  ProcessResult wip = romflash_on_device({"-o", "RDSR_WIP"});
  EXPECT_EQ(wip.exitStatus, 11);
  EXPECT_EQ(wip.err, "\n  ERROR: Check RDSR TIME OUT:4000 msec)\n");
  EXPECT_EQ(count_lines(trace(), "  seg 1 rx 03"), 4000);
}

TEST_F(StatusWait, WipWaitFollowsAnEraseToItsEnd) {
  romflash_on_device({"-o", "WREN"});
  romflash_on_device({"-o", "SE4K", "0"});
  ProcessResult run = romflash_on_device({"-o", "RDSR_WIP", "1000"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  Lines reads = trace_of("msg");
  ASSERT_GE(reads.size(), 6u);
  EXPECT_EQ(reads[2], "  seg 1 rx 03");
  EXPECT_EQ(reads.back(), "  seg 1 rx 00");
  EXPECT_EQ(count_lines(trace(), "sleep 1000000"), static_cast<long>(reads.size() / 3 - 1));
}

TEST_F(StatusWait, ThreeFailedReadsThenAGoodOneKeepWaiting) {
  ProcessResult run = romflash_on_device({"-o", "RDSR_WIP"}, {"--fail-msgs", "1-3"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\n");
  EXPECT_EQ(trace_of("msg").size(), 12u);
  EXPECT_EQ(trace_of("sleep"), Lines{});
}

TEST_F(StatusWait, FourthFailedReadInARowEndsTheWait) {
  ProcessResult run = romflash_on_device({"-o", "RDSR_WIP"}, {"--fail-msgs", "1-4"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\nERROR: Input/output error\n"
                     "  Page Write Protocol Retryout!!\n");
  EXPECT_EQ(trace_of("msg").size(), 12u);
}

TEST_F(StatusWait, FailedReadsUseUpTicks) {
  ProcessResult run = romflash_on_device({"-o", "RDSR_WEL", "3"}, {"--fail-msgs", "1-3"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\n\n  ERROR: Check RDSR TIME OUT:3 msec)\n");
}

}  // namespace
