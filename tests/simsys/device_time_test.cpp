// Device time: virtual sleeps, bus time, busy-waiting on the monotonic clock,
// time passing between processes, and realtime mode.
#include <chrono>

#include "sim_client.h"

namespace {

using SimDeviceTime = SimChip;
using Clock = std::chrono::steady_clock;

const std::string kRdsr = "msg=tx:05,rx:1";
const std::string kWren = "msg=tx:06";

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The chip's clock as `flashsim regs` shows it ("clock: N ns").
uint64_t chip_clock_ns(const std::string& regs) {
  for (const auto& line : split_lines(regs))
    if (line.rfind("clock: ", 0) == 0) return std::stoull(line.substr(7));
  ADD_FAILURE() << "no clock line in\n" << regs;
  return 0;
}

TEST_F(SimDeviceTime, SleepsReturnAtOnceAndMoveTheChipClock) {
  Clock::time_point start = Clock::now();
  ProcessResult run = client({"nanosleep=5000000000", "usleep=250000", "sleep=2", "clocksleep=1000"});
  double spent = seconds_since(start);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(out_lines(run), (Lines{"nanosleep=5000000000 ok", "usleep=250000 ok", "sleep=2 left 0",
                                   "clocksleep=1000 ok"}));
  EXPECT_LT(spent, 5.0);  // 7.25 s if anything had really slept
  EXPECT_EQ(trace(), (Lines{"sleep 5000000000", "sleep 250000000", "sleep 2000000000", "sleep 1000"}));
  // The device was never opened: each sleep attached the chip for the moment.
  EXPECT_EQ(chip_clock_ns(regs()), 7250001000u);
  EXPECT_EQ(summary_line("last run", "sleeps"), "sleeps: 4");
  EXPECT_EQ(summary_line("last run", "sleep time"), "sleep time: 7.250001000 s");
  EXPECT_EQ(summary_line("last run", "device time"), "device time: 7.250001000 s");
}

TEST_F(SimDeviceTime, AnAbsoluteSleepWaitsUntilItsDeadlineOnTheVirtualClock) {
  ProcessResult run = client({"abssleep=3000000000", "nanosleep=1"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  Lines lines = trace();
  ASSERT_EQ(lines.size(), 2u);
  uint64_t asked = std::stoull(lines[0].substr(6));
  EXPECT_GT(asked, 2990000000u);  // the clock read for the deadline costs a microsecond
  EXPECT_LE(asked, 3000000000u);
}

TEST_F(SimDeviceTime, AnEraseFinishesWhileAnotherProcessSleeps) {
  std::string data = dir.file("data.bin");
  write_file(data, std::string(4096, '\x42'));
  ASSERT_EQ(flashsim({"load", "--state", state(), "--offset", "0", data}).exitStatus, 0);

  // 64 KiB erase: 150 ms. The first process leaves while it runs.
  ProcessResult start = client({"open", kWren, "msg=tx:D8000000", kRdsr, "close"});
  EXPECT_EQ(out_lines(start).at(3), "msg ok 2: 03");
  ProcessResult busy = client({"open", kRdsr, "close"});
  EXPECT_EQ(out_lines(busy).at(1), "msg ok 2: 03");

  ProcessResult nap = client({"nanosleep=200000000"});
  ASSERT_EQ(nap.exitStatus, 0) << nap.err;
  ProcessResult done = client({"open", kRdsr, "close"});
  EXPECT_EQ(out_lines(done).at(1), "msg ok 2: 00");
  EXPECT_EQ(chip_bytes(0, 4096), std::string(4096, '\xFF'));
}

TEST_F(SimDeviceTime, BusTimeIsBitsOverTheClockPlusTheMessageOverhead) {
  struct Case {
    Lines options;
    std::string message;
    uint64_t ns;
  } cases[] = {
      // 1004 bytes at 1 MHz
      {{"--overhead-ns", "0"}, "msg=tx:03000000,rx:1000", 8032000},
      // the transfer's own clock wins: 4 bytes at 1 MHz, 1000 at 2 MHz
      {{"--overhead-ns", "0"}, "msg=tx:03000000,rx:1000+hz=2000000", 4032000},
      // a delay after the transfer, and the default 10 us per message
      {{}, "msg=tx:03000000+delay=100,rx:1000", 8142000},
      // no controller clocks faster than 50 MHz
      {{"--overhead-ns", "0"}, "msg=tx:03000000,rx:1000+hz=100000000", 32000 + 160000},
  };
  for (const auto& c : cases) {
    ProcessResult run = client({"open", "wrspeed=1000000", c.message, "close"}, c.options);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(summary_line("last run", "bus time"), "bus time: " + summary_seconds(c.ns)) << c.message;
    EXPECT_EQ(summary_line("last run", "bytes tx"), "bytes tx: 4");
    EXPECT_EQ(summary_line("last run", "bytes rx"), "bytes rx: 1000");
  }
  EXPECT_EQ(summary_line("totals", "messages"), "messages: 4");
}

TEST_F(SimDeviceTime, BusyWaitingOnTheMonotonicClockEndsSoonAfterItsDeadline) {
  Clock::time_point start = Clock::now();
  ProcessResult run = client({"busywait=2000000000"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_LT(seconds_since(start), 1.9);
  EXPECT_EQ(out_lines(run), Lines{"busywait=2000000000 ok"});
  // Reads of the clock are what moved it; nothing attached the chip.
  EXPECT_EQ(chip_clock_ns(regs()), 0u);

  // With the device open the chip's clock moves with them, overshooting by little.
  ProcessResult open = client({"open", "busywait=100000000", "close"}, {"--overhead-ns", "0"});
  ASSERT_EQ(open.exitStatus, 0) << open.err;
  uint64_t clock = chip_clock_ns(regs());
  EXPECT_GE(clock, 100000000u);
  EXPECT_LT(clock, 110000000u);
}

TEST_F(SimDeviceTime, RealtimeModeSleepsForRealAndTheChipFollowsTheWallClock) {
  Clock::time_point start = Clock::now();
  ProcessResult run = client({"open", kWren, "msg=tx:D8000000", "nanosleep=200000000", kRdsr, "close"},
                             {"--realtime"});
  double spent = seconds_since(start);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_GE(spent, 0.2);
  EXPECT_EQ(out_lines(run).back(), "close ok");
  EXPECT_EQ(out_lines(run).at(4), "msg ok 2: 00");  // the 150 ms erase is over
  EXPECT_GE(chip_clock_ns(regs()), 200000000u);
}

}  // namespace
