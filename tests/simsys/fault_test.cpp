// Faults planned with `flashsim run`: failing messages and set-up requests,
// a stuck chip, no chip at all, and power lost in the middle of a program.
#include <algorithm>

#include "sim_client.h"

namespace {

using SimFaults = SimChip;
using SimPowerCut = SimChip;

const std::string kRdid = "msg=tx:9F,rx:3";
const std::string kRdsr = "msg=tx:05,rx:1";
const std::string kWren = "msg=tx:06";

// Six status reads, set-up requests in between (they are not messages).
const Lines kSixReads = {"open", kRdsr, "wrmode=0x00", kRdsr, kRdsr, "rdmode", kRdsr, kRdsr, kRdsr};

Lines message_results(const ProcessResult& run) {
  Lines results;
  for (const auto& line : out_lines(run))
    if (line.rfind("msg ", 0) == 0) results.push_back(line);
  return results;
}

const std::string ok = "msg ok 2: 00";

TEST_F(SimFaults, NumberedMessagesFailWithTheChosenErrno) {
  struct Case {
    Lines options;
    Lines results;
  } cases[] = {
      {{"--fail-msg", "2", "--fail-msg", "5", "--errno", "ETIMEDOUT"},
       {ok, "msg fail ETIMEDOUT", ok, ok, "msg fail ETIMEDOUT", ok}},
      {{"--fail-msgs", "2-4"}, {ok, "msg fail EIO", "msg fail EIO", "msg fail EIO", ok, ok}},
      {{"--fail-every", "3", "--errno", "121"}, {ok, ok, "msg fail EREMOTEIO", ok, ok, "msg fail EREMOTEIO"}},
      {{"--fail-msgs", "6-6", "--fail-msg", "1"}, {"msg fail EIO", ok, ok, ok, ok, "msg fail EIO"}},
  };
  for (const auto& c : cases) {
    ProcessResult run = client(kSixReads, c.options);
    EXPECT_EQ(message_results(run), c.results) << c.options[0];
  }
  // Numbering starts again in every process.
  ProcessResult again = client({"open", kRdsr, kRdsr}, {"--fail-msg", "1"});
  EXPECT_EQ(message_results(again), (Lines{"msg fail EIO", ok}));
  EXPECT_EQ(trace(), (Lines{"open /dev/spi0", "msg 2 fail EIO", "  seg 1 tx 05", "  seg 1", "msg 2 ok",
                            "  seg 1 tx 05", "  seg 1 rx 00"}));
}

TEST_F(SimFaults, OpcodeFaultsHitOnlyTheirOpcodeAsOftenAsAsked) {
  ProcessResult counted = client({"open", kRdsr, kRdid, kRdsr, kRdsr}, {"--fail-opcode", "0x05:2"});
  EXPECT_EQ(message_results(counted), (Lines{"msg fail EIO", "msg ok 4: 01 20 18", "msg fail EIO", ok}));

  ProcessResult always = client({"open", kRdsr, kRdid, kRdsr, kRdsr}, {"--fail-opcode", "0x05", "--errno", "EBUSY"});
  EXPECT_EQ(message_results(always),
            (Lines{"msg fail EBUSY", "msg ok 4: 01 20 18", "msg fail EBUSY", "msg fail EBUSY"}));
}

TEST_F(SimFaults, AFailedMessageNeverReachesTheChip) {
  ProcessResult failed = client({"open", kWren, kRdsr}, {"--fail-opcode", "0x06"});
  EXPECT_EQ(message_results(failed), (Lines{"msg fail EIO", ok}));
  ProcessResult passed = client({"open", kWren, kRdsr});
  EXPECT_EQ(message_results(passed), (Lines{"msg ok 1", "msg ok 2: 02"}));
}

TEST_F(SimFaults, SetUpRequestsFailByName) {
  ProcessResult read = client({"open", "wrspeed=1000000", "rdspeed", "wrmode=0x03", "rdmode"},
                              {"--fail-setup", "RD_MAX_SPEED_HZ", "--errno", "EPERM"});
  EXPECT_EQ(out_lines(read),
            (Lines{"open ok", "wrspeed=1000000 ok", "rdspeed fail EPERM", "wrmode=0x03 ok", "rdmode 0x03"}));
  EXPECT_EQ(trace().at(2), "ioctl RD_MAX_SPEED_HZ - fail EPERM");

  // The mode set above stays: the failed request changed nothing.
  ProcessResult write = client({"open", "wrmode=0x01", "rdmode", kRdid}, {"--fail-setup", "WR_MODE"});
  EXPECT_EQ(out_lines(write), (Lines{"open ok", "wrmode=0x01 fail EIO", "rdmode 0x03", "msg ok 4: 01 20 18"}));
  EXPECT_EQ(trace().at(1), "ioctl WR_MODE 0x01 fail EIO");
}

TEST_F(SimFaults, AStuckLatchOrBusyBitStaysStuckForTheRun) {
  ProcessResult wel = client({"open", kWren, kRdsr}, {"--wel-stuck"});
  EXPECT_EQ(message_results(wel), (Lines{"msg ok 1", ok}));

  // A 4 KiB erase takes 45 ms; a whole virtual second later the chip still says busy.
  Lines erase = {"open", kWren, "msg=tx:20000000", "nanosleep=1000000000", kRdsr};
  ProcessResult wip = client(erase, {"--wip-stuck"});
  Lines results = message_results(wip);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[2].substr(0, 10), "msg ok 2: ");
  EXPECT_EQ(std::stoi(results[2].substr(10), nullptr, 16) & 0x01, 1) << results[2];

  ProcessResult healthy = client(erase);
  EXPECT_EQ(message_results(healthy).back(), ok);
}

TEST_F(SimFaults, AnAbsentChipReadsAsTheFloatingLineAndIsNeverTouched) {
  std::string before = regs();
  ProcessResult high = client({"open", kRdid, kWren, "msg=tx:C7", "nanosleep=1000000"}, {"--absent", "ff"});
  EXPECT_EQ(message_results(high), (Lines{"msg ok 4: FF FF FF", "msg ok 1", "msg ok 1"}));
  ProcessResult low = client({"open", kRdid}, {"--absent", "00"});
  EXPECT_EQ(message_results(low), (Lines{"msg ok 4: 00 00 00"}));
  EXPECT_EQ(regs(), before);  // not even its clock moved
}

TEST_F(SimPowerCut, APageCutShortStaysHalfProgrammed) {
  // Program 256 zero bytes (0.7 ms), let half of that pass, then lose power
  // right after the status read that is message 3.
  ProcessResult run = client({"open", "wrspeed=1000000", kWren, "msg=tx:02000200" + std::string(512, '0'),
                              "nanosleep=350000", kRdsr, kRdsr, "close"},
                             {"--power-cut", "3"});
  EXPECT_EQ(run.exitStatus, 128 + 9);
  // The program never sees message 3 return; the trace shows it, still busy.
  EXPECT_EQ(message_results(run), (Lines{"msg ok 1", "msg ok 260"}));
  Lines lines = trace();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ((Lines{lines.end() - 3, lines.end()}), (Lines{"msg 2 ok", "  seg 1 tx 05", "  seg 1 rx 03"}));

  std::string page = chip_bytes(0x200, 256);
  ASSERT_EQ(page.size(), 256u);
  size_t programmed = page.find_first_not_of('\0');
  ASSERT_NE(programmed, std::string::npos);
  EXPECT_GT(programmed, 64u);
  EXPECT_LT(programmed, 192u);
  EXPECT_EQ(page.find_first_not_of('\xFF', programmed), std::string::npos);

  // The chip powers up idle, with its write latch clear.
  ProcessResult after = client({"open", kRdsr});
  EXPECT_EQ(message_results(after), Lines{ok});
}

}  // namespace
