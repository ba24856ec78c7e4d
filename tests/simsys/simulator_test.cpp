// SPDX-License-Identifier: MIT
// The simulator as a product: spidev_client (and flashrom) run through
// `flashsim run`, one row per case: chip, run options and client steps (" | "
// starts another process), then the client's lines, its exit status, lines its
// standard error must hold and the last process's trace in short form.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>

#include "sim_run.h"

namespace {

std::string beside_me(const std::string& name) {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, length > 0 ? size_t(length) : 0);
  return path.substr(0, path.rfind('/') + 1) + name;
}

struct ClientRow {
  const char* name;
  const char* chip;     // `flashsim create` words
  const char* options;  // `flashsim run` words
  const char* steps;    // spidev_client steps; " | " starts the next process
  int status;
  const char* out;  // client lines, "; " between lines, " | " between processes
  const char* err;  // lines the last standard error holds, "; " between them
  const char* wire;
};

void run_row(const ClientRow& row, const std::string& client) {
  SimChip chip;
  ASSERT_TRUE(chip.create(split_words(row.chip)));
  Lines options = split_words(row.options);
  std::string device = options.size() > 1 && options[0] == "--device" ? options[1] : "/dev/spi0",
              out;
  ProcessResult run{0, "", ""};
  for (const auto& steps : split(std::string(row.steps) + " | ", '|')) {
    if (steps.find_first_not_of(' ') == std::string::npos) continue;
    run = chip.run(Lines{client, device} + split_words(steps), options);
    std::string lines;
    for (const auto& line : split(run.out, '\n')) lines += (lines.empty() ? "" : "; ") + line;
    out += (out.empty() ? "" : " | ") + lines;
  }
  EXPECT_EQ(run.exitStatus, row.status) << run.err;
  EXPECT_EQ(out, row.out);
  for (const auto& line : split(row.err, ';'))
    EXPECT_NE(run.err.find(line.substr(line[0] == ' ') + "\n"), std::string::npos)
        << line << " in\n"
        << run.err;
  EXPECT_EQ(chip.wire(), row.wire);
}

class Client : public ::testing::TestWithParam<ClientRow> {};
TEST_P(Client, Row) { run_row(GetParam(), beside_me("spidev_client")); }

std::string row_name(const ::testing::TestParamInfo<ClientRow>& info) { return info.param.name; }
void PrintTo(const ClientRow& row, std::ostream* out) { *out << row.name; }

#define F10 "FFFFFFFFFF"
#define SIX_READS                                                                        \
  "open msg=tx:05,rx:1 wrmode=0x00 msg=tx:05,rx:1 msg=tx:05,rx:1 rdmode msg=tx:05,rx:1 " \
  "msg=tx:05,rx:1 msg=tx:05,rx:1"
#define SUMMARY_OF(messages, bus, device) \
  "  messages: " messages ";  bus time: " bus " s;  device time: " device " s"
// clang-format off
const ClientRow kSpidevRows[] = {
  {"TraceOfEveryKindOfEvent", "", "", "open wrmode=0x03 rdmode wrbits=8 rdbits wrspeed=16000000 rdspeed msg=tx:9F,rx:4 nanosleep=1000000 close", 0, "open ok; wrmode=0x03 ok; rdmode 0x03; wrbits=8 ok; rdbits 8; wrspeed=16000000 ok; rdspeed 16000000; msg ok 5: 01 20 18 4D; nanosleep=1000000 ok; close ok", "", "open; spi 0x03 8 16000000; 9F > 01 20 18 4D; +1000us; close"},
  {"CsChangeZeroLengthDuplexUnknownRequest", "", "", "open msg=tx:9F+cs,none:0,rx:2 msg=duplex:9F000000 ioctl=0x1234 close", 0, "open ok; msg ok 3: FF FF; msg ok 4: FF 01 20 18; ioctl=0x1234 fail ENOTTY; close ok", "", "open; 9F cs > FF FF; 9F 000000 > FF 01 20 18; 0x00001234 fail ENOTTY; close"},
  {"ModePersistsClockRevertsAtLastClose", "", "", "open wrmode=0x03 wrspeed=1000000 rdspeed close open rdmode rdspeed close | open rdmode rdbits rdspeed", 0, "open ok; wrmode=0x03 ok; wrspeed=1000000 ok; rdspeed 1000000; close ok; open ok; rdmode 0x03; rdspeed 50000000; close ok | open ok; rdmode 0x03; rdbits 8; rdspeed 50000000", "", "open; RD_MODE 0x03; RD_BITS_PER_WORD 8; RD_MAX_SPEED_HZ 50000000"},
  {"ControllerRefusesWhatItCannotDo", "", "", "open wrmode=0x01 wrmode=0x08 wrmode=0x10 wrmode=0x80 wrmode32=0x100 wrlsb=1 wrbits=16 wrspeed=0 rdmode rdbits rdspeed", 0, "open ok; wrmode=0x01 ok; wrmode=0x08 fail EINVAL; wrmode=0x10 fail EINVAL; wrmode=0x80 fail EINVAL; wrmode32=0x100 fail EINVAL; wrlsb=1 fail EINVAL; wrbits=16 fail EINVAL; wrspeed=0 fail EINVAL; rdmode 0x01; rdbits 8; rdspeed 50000000", "", "open; WR_MODE 0x01; WR_MODE 0x08 fail EINVAL; WR_MODE 0x10 fail EINVAL; WR_MODE 0x80 fail EINVAL; WR_MODE32 0x100 fail EINVAL; WR_LSB_FIRST 1 fail EINVAL; WR_BITS_PER_WORD 16 fail EINVAL; WR_MAX_SPEED_HZ 0 fail EINVAL; RD_MODE 0x01; RD_BITS_PER_WORD 8; RD_MAX_SPEED_HZ 50000000"},
  {"ModesTheControllerAccepts", "", "", "open wrmode=0x02 rdmode wrmode=0x04 rdmode wrmode=0x20 rdmode wrmode=0x40 rdmode wrbits=0 rdbits msg=tx:9F+bits=16,rx:1 msg=tx:9F+dual,rx:1", 0, "open ok; wrmode=0x02 ok; rdmode 0x02; wrmode=0x04 ok; rdmode 0x04; wrmode=0x20 ok; rdmode 0x20; wrmode=0x40 ok; rdmode 0x40; wrbits=0 ok; rdbits 8; msg fail EINVAL; msg fail EINVAL", "", "open; WR_MODE 0x02; RD_MODE 0x02; WR_MODE 0x04; RD_MODE 0x04; WR_MODE 0x20; RD_MODE 0x20; WR_MODE 0x40; RD_MODE 0x40; WR_BITS_PER_WORD 0; RD_BITS_PER_WORD 8; 9F !EINVAL x2"},
  {"ChipSelectSpansTheMessage", "", "", "open msg=tx:06,tx:05,rx:1 msg=tx:05,rx:1 msg=tx:06+cs,tx:05,rx:1 msg=tx:05+cs msg=rx:1 msg=tx:05 msg=rx:1", 0, "open ok; msg ok 3: FF; msg ok 2: 00; msg ok 3: 02; msg ok 1; msg ok 1: 02; msg ok 1; msg ok 1: FF", "", "open; 06 05 > FF; 05 > 00; 06 cs 05 > 02; 05 cs; > 02; 05; > FF"},
  {"TransferWithoutTxShiftsZeros", "", "", "open msg=tx:06 msg=tx:02000100,none:4 nanosleep=5000000 msg=tx:0B00010000,rx:6", 0, "open ok; msg ok 1; msg ok 8; nanosleep=5000000 ok; msg ok 11: 00 00 00 00 FF FF", "", "open; 06; 02 000100; +5000us; 0B 000100 00 > 00 00 00 00 FF FF"},
  {"Modes0And3ReadTheChip", "--set status=0x1C", "", "open wrmode=0x00 msg=tx:9F,rx:3 msg=tx:05,rx:1 wrmode=0x03 msg=tx:05,rx:1", 0, "open ok; wrmode=0x00 ok; msg ok 4: 01 20 18; msg ok 2: 1C; wrmode=0x03 ok; msg ok 2: 1C", "", "open; WR_MODE 0x00; 9F > 01 20 18; 05 > 1C; WR_MODE 0x03; 05 > 1C"},
  {"Modes1And2ShiftEveryByte", "--set status=0x1C", "", "open wrmode=0x01 msg=tx:0A,rx:1 msg=tx:05,rx:1 wrmode=0x02 msg=tx:0A,rx:1", 0, "open ok; wrmode=0x01 ok; msg ok 2: 8E; msg ok 2: FF; wrmode=0x02 ok; msg ok 2: 8E", "", "open; WR_MODE 0x01; 0A > 8E; 05 > FF; WR_MODE 0x02; 0A > 8E"},
  {"CsHighNoCsAndLoopKeepTheChipOff", "", "", "open wrmode=0x04 msg=tx:06 wrmode=0x40 msg=tx:06 wrmode=0x20 msg=duplex:9F123456 msg=tx:9F,rx:3 msg=tx:06 wrmode=0x00 msg=tx:05,rx:1", 0, "open ok; wrmode=0x04 ok; msg ok 1; wrmode=0x40 ok; msg ok 1; wrmode=0x20 ok; msg ok 4: 9F 12 34 56; msg ok 4: 00 00 00; msg ok 1; wrmode=0x00 ok; msg ok 2: 00", "", "open; WR_MODE 0x04; 06; WR_MODE 0x40; 06; WR_MODE 0x20; 9F 123456 > 9F 12 34 56; 9F > 00 00 00; 06; WR_MODE 0x00; 05 > 00"},
  {"BufsizBoundsTxAndRxEach", "", "--bufsiz 64", "bufsiz bufsiz-open open msg=tx:03000000,rx:64 msg=tx:03000000,rx:65 msg=tx:" F10 F10 F10 F10 F10 F10 F10 F10 F10 F10 F10 F10 F10 " msg=tx:03000000,rx:30,rx:34", 0, "bufsiz 64; bufsiz-open 64; open ok; msg ok 68: [64]; msg fail EMSGSIZE; msg fail EMSGSIZE; msg ok 68: [64]", "", "open; 03 000000 > [64]; 03 000000 !EMSGSIZE; FF FFFFFF [61] !EMSGSIZE; 03 000000 > [64]"},
  {"BufsizDefault4096", "", "", "bufsiz open msg=tx:03000000,rx:4096 msg=tx:03000000,rx:4097", 0, "bufsiz 4096; open ok; msg ok 4100: [4096]; msg fail EMSGSIZE", "", "open; 03 000000 > [4096]; 03 000000 !EMSGSIZE"},
  {"EveryOpenVariant", "", "", "open=open64 close open=openat close open=openat64 close open=__open_2 close open=__open64_2 close open=__openat_2 close open=__openat64_2 msg=tx:9F,rx:3", 0, "open=open64 ok; close ok; open=openat ok; close ok; open=openat64 ok; close ok; open=__open_2 ok; close ok; open=__open64_2 ok; close ok; open=__openat_2 ok; close ok; open=__openat64_2 ok; msg ok 4: 01 20 18", "", "(open; close) x6; open; 9F > 01 20 18"},
  {"OtherDevicePathTakenOver", "", "--device /dev/spidev1.0", "open msg=tx:9F,rx:3", 0, "open ok; msg ok 4: 01 20 18", "", "open /dev/spidev1.0; 9F > 01 20 18"},
  // 100 s: longer than the harness lets any program run, were it really slept.
  {"SleepsReturnAtOnceAndMoveTheChip", "", "--summary", "nanosleep=100000000000 usleep=250000 sleep=2 clocksleep=1000", 0, "nanosleep=100000000000 ok; usleep=250000 ok; sleep=2 left 0; clocksleep=1000 ok", "  sleeps: 4;  sleep time: 102.250001000 s;  device time: 102.250001000 s", "+100000000us; +250000us; +2000000us; +1us"},
  {"AbsoluteDeadlineOnTheVirtualClock", "", "", "abssleep=3000000000", 0, "abssleep=3000000000 ok", "", "+2999999us"},  // reading the clock cost 1 us
  {"RealtimeSleepsLeaveAClosedChipAlone", "", "--summary --realtime", "nanosleep=1000000", 0, "nanosleep=1000000 ok", "  sleep time: 0.001000000 s;  device time: 0.000000000 s", "+1000us"},
  {"EraseEndsWhileAnotherProcessSleeps", "", "", "open msg=tx:06 msg=tx:D8000000 msg=tx:05,rx:1 | open msg=tx:05,rx:1 | nanosleep=200000000 | open msg=tx:05,rx:1 msg=tx:03000000,rx:2", 0, "open ok; msg ok 1; msg ok 4; msg ok 2: 03 | open ok; msg ok 2: 03 | nanosleep=200000000 ok | open ok; msg ok 2: 00; msg ok 6: FF FF", "", "open; 05 > 00; 03 000000 > FF FF"},
  {"BusTimeIsBitsOverTheClock", "", "--summary --overhead-ns 0", "open wrspeed=1000000 msg=tx:03000000,rx:1000", 0, "open ok; wrspeed=1000000 ok; msg ok 1004: [1000]", SUMMARY_OF("1", "0.008032000", "0.008032000"), "open; WR_MAX_SPEED_HZ 1000000; 03 000000 > [1000]"},
  {"TransferClockDelayAndOverhead", "", "--summary", "open wrspeed=1000000 msg=tx:03000000+delay=100,rx:1000+hz=2000000", 0, "open ok; wrspeed=1000000 ok; msg ok 1004: [1000]", SUMMARY_OF("1", "0.004142000", "0.004142000"), "open; WR_MAX_SPEED_HZ 1000000; 03 000000 > [1000]"},
  {"NoClockAbove50MHz", "", "--summary --overhead-ns 0", "open msg=tx:03000000,rx:1000+hz=100000000", 0, "open ok; msg ok 1004: [1000]", SUMMARY_OF("1", "0.000160640", "0.000160640"), "open; 03 000000 > [1000]"},
  {"BusyWaitOnTheMonotonicClockEnds", "", "--summary", "busywait=2000000000", 0, "busywait=2000000000 ok", "  processes: 0;  device time: 0.000000000 s", ""},
  {"NumberedFailures", "", "--fail-msg 2 --fail-msg 5 --errno ETIMEDOUT", SIX_READS, 0, "open ok; msg ok 2: 00; wrmode=0x00 ok; msg fail ETIMEDOUT; msg ok 2: 00; rdmode 0x00; msg ok 2: 00; msg fail ETIMEDOUT; msg ok 2: 00", "", "open; 05 > 00; WR_MODE 0x00; 05 !ETIMEDOUT; 05 > 00; RD_MODE 0x00; 05 > 00; 05 !ETIMEDOUT; 05 > 00"},
  {"RangeOfFailures", "", "--fail-msgs 2-4 --fail-msg 6", SIX_READS, 0, "open ok; msg ok 2: 00; wrmode=0x00 ok; msg fail EIO; msg fail EIO; rdmode 0x00; msg fail EIO; msg ok 2: 00; msg fail EIO", "", "open; 05 > 00; WR_MODE 0x00; 05 !EIO x2; RD_MODE 0x00; 05 !EIO; 05 > 00; 05 !EIO"},
  {"EveryThirdFailsWithANumberedErrno", "", "--fail-every 3 --errno 121", SIX_READS, 0, "open ok; msg ok 2: 00; wrmode=0x00 ok; msg ok 2: 00; msg fail EREMOTEIO; rdmode 0x00; msg ok 2: 00; msg ok 2: 00; msg fail EREMOTEIO", "", "open; 05 > 00; WR_MODE 0x00; 05 > 00; 05 !EREMOTEIO; RD_MODE 0x00; 05 > 00 x2; 05 !EREMOTEIO"},
  {"NumberingRestartsInEveryProcess", "", "--fail-msg 1", "open msg=tx:05,rx:1 | open msg=tx:05,rx:1 msg=tx:05,rx:1", 0, "open ok; msg fail EIO | open ok; msg fail EIO; msg ok 2: 00", "", "open; 05 !EIO; 05 > 00"},
  {"OpcodeFailuresCounted", "", "--fail-opcode 0x05:2", "open msg=tx:05,rx:1 msg=tx:9F,rx:3 msg=tx:05,rx:1 msg=tx:05,rx:1", 0, "open ok; msg fail EIO; msg ok 4: 01 20 18; msg fail EIO; msg ok 2: 00", "", "open; 05 !EIO; 9F > 01 20 18; 05 !EIO; 05 > 00"},
  {"FailedMessageNeverReachesTheChip", "", "--fail-opcode 0x06 --errno EBUSY", "open msg=tx:06 msg=tx:05,rx:1 msg=tx:06", 0, "open ok; msg fail EBUSY; msg ok 2: 00; msg fail EBUSY", "", "open; 06 !EBUSY; 05 > 00; 06 !EBUSY"},
  {"SetUpRequestFailsAndChangesNothing", "", "--fail-setup WR_MODE --fail-setup RD_MAX_SPEED_HZ --errno EPERM", "open wrmode=0x01 rdmode rdspeed", 0, "open ok; wrmode=0x01 fail EPERM; rdmode 0x00; rdspeed fail EPERM", "", "open; WR_MODE 0x01 fail EPERM; RD_MODE 0x00; RD_MAX_SPEED_HZ - fail EPERM"},
  {"StuckLatch", "", "--wel-stuck", "open msg=tx:06 msg=tx:05,rx:1", 0, "open ok; msg ok 1; msg ok 2: 00", "", "open; 06; 05 > 00"},
  {"StuckBusyBit", "", "--wip-stuck", "open msg=tx:06 msg=tx:20000000 nanosleep=1000000000 msg=tx:05,rx:1", 0, "open ok; msg ok 1; msg ok 4; nanosleep=1000000000 ok; msg ok 2: 03", "", "open; 06; 20 000000; +1000000us; 05 > 03"},
  {"AbsentChipIsNeverTouched", "", "--absent ff --summary", "open msg=tx:9F,rx:3 msg=tx:06 msg=tx:C7 nanosleep=1000000", 0, "open ok; msg ok 4: FF FF FF; msg ok 1; msg ok 1; nanosleep=1000000 ok", "  device time: 0.000000000 s", "open; 9F > FF FF FF; 06; C7; +1000us"},
  {"AbsentChipOfZeros", "", "--absent 00", "open msg=tx:9F,rx:3", 0, "open ok; msg ok 4: 00 00 00", "", "open; 9F > 00 00 00"},
  {"PowerCutAfterMessageN", "", "--power-cut 3", "open msg=tx:06 msg=tx:02000200FF msg=tx:05,rx:1 msg=tx:05,rx:1", 137, "open ok; msg ok 1; msg ok 5", "", "open; 06; 02 000200 FF; 05 > 03"},
  {"ExitStatusComesBack", "", "", "exit=7", 7, "", "", ""},
  {"SignalComesBack", "", "", "kill=15", 128 + 15, "", "", ""},
  {"ProgramOfOneProcessReadByTheNext", "", "", "open msg=tx:06 msg=tx:02001000DEADBEEF close | open nanosleep=1000000 msg=tx:03001000,rx:5", 0, "open ok; msg ok 1; msg ok 8; close ok | open ok; nanosleep=1000000 ok; msg ok 9: DE AD BE EF FF", "", "open; +1000us; 03 001000 > DE AD BE EF FF"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Spidev, Client, ::testing::ValuesIn(kSpidevRows), row_name);

// On 32-bit targets the rows that sleep, read the clock or send messages again,
// through the client built with 64-bit time_t (the simulator's *_time64 hooks).
TEST(Client64BitTime, TimeRowsThroughThe64BitHooks) {
  // Built beside this test on every 32-bit target: missing there, it is a failure.
  if (sizeof(void*) == 8) GTEST_SKIP() << "one time_t on this target";
  ASSERT_EQ(access(beside_me("spidev_client_time64").c_str(), X_OK), 0) << "no 64-bit-time client";
  for (const ClientRow& row : kSpidevRows) {
    std::string name = row.name;
    if (name.find("Sleep") == std::string::npos && name.find("Busy") == std::string::npos &&
        name != "TraceOfEveryKindOfEvent")
      continue;
    SCOPED_TRACE(name);
    run_row(row, beside_me("spidev_client_time64"));
  }
}

// The flashsim command's own subcommands: $S the state, $D the test directory.
TEST(FlashsimCommand, CreatesLoadsComparesSetsAndRefuses) {
  SimChip chip;
  write_file(chip.dir.file("ten"), "0123456789");
  write_file(chip.dir.file("v12"), "V1.2");
  struct {
    const char* args;
    int status;
    const char* out;  // standard output, or for status 2 what the error line says
  } steps[] = {
      {"create --state $S --profile small --fill 0x00 --image $D/ten", 0, ""},
      {"compare --state $S $D/ten", 0, "identical: 10 bytes at 0x000000\n"},
      {"load --state $S --offset 0xFFFFC $D/v12", 0, ""},
      {"compare --state $S $D/v12 --offset 0xFFFFC", 0, "identical: 4 bytes at 0x0FFFFC\n"},
      {"compare --state $S $D/v12 --offset 0xFFFFA", 1,
       "differ at 0x0FFFFA: flash 0x00, file 0x56 (4 of 4 bytes differ)\n"},
      {"compare --state $S $D/ten --offset 1", 1,
       "differ at 0x000001: flash 0x31, file 0x30 (10 of 10 bytes differ)\n"},
      {"set --state $S --status 0x1C --config 0x02", 0, ""},
      {"load --state $S --offset 0xFFFFD $D/v12", 2, "range ends beyond the chip"},
      {"dump --state $S --offset 0x100001", 2, "0x100001 lies beyond the chip"},
      {"dump --state $S --offset 0xFFFFF --length 2", 2, "range ends beyond the chip"},
      {"compare --state $S $D/v12 --offset 0xFFFFE", 2, "range ends beyond the chip"},
      {"dump --state $D/nothing-here", 2, "no chip in"},
      {"dump --state $S --length ten", 2, "--length: not a number"},
      {"set --state $S --status 0x100", 2, "--status: expected a byte value"},
      {"run --state $S", 2, "no command to run"},
  };
  for (const auto& step : steps) {
    Lines args;
    for (const auto& word : split_words(step.args))
      args.push_back(word == "$S"               ? chip.state
                     : word.compare(0, 2, "$D") ? word
                                                : chip.dir.path + word.substr(2));
    ProcessResult run = flashsim(args);
    EXPECT_EQ(run.exitStatus, step.status) << step.args << "\n" << run.err;
    EXPECT_EQ(run.out, step.status == 2 ? "" : step.out) << step.args;
    bool refusal = run.err.compare(0, 11 + args[0].size(), "flashsim " + args[0] + ": ") == 0 &&
                   run.err.find(step.out) != std::string::npos;
    EXPECT_TRUE(step.status != 2 || refusal) << run.err;
  }
  ProcessResult read = chip.run(
      {beside_me("spidev_client"), "/dev/spi0", "open", "msg=tx:05,rx:1", "msg=tx:35,rx:1"});
  EXPECT_EQ(read.out, "open ok\nmsg ok 2: 1C\nmsg ok 2: 02\n");
  ProcessResult listed = flashsim({"profiles"});
  EXPECT_EQ(split_words(split(listed.out, '\n').at(1)),
            (Lines{"w25q128", "16384", "KiB", "JEDEC", "EF", "40", "18", "(simulator", "model)"}));
}

TEST(FlashsimRun, BadOptionsAreRefusedBeforeAnythingRuns) {
  SimChip chip;
  ASSERT_TRUE(chip.create({}));
  const Lines refused[] = {{"--fail-msg", "0"},
                           {"--fail-msgs", "5-2"},
                           {"--fail-every", "x"},
                           {"--errno", "ENOTANERROR"},
                           {"--fail-opcode", "0x100"},
                           {"--fail-opcode", "0x05:0"},
                           {"--fail-setup", "WR_NOTHING"},
                           {"--absent", "7f"},
                           {"--power-cut", "-1"},
                           {"--bufsiz", "0"},
                           {"--overhead-ns", "ten"},
                           {"--frobnicate"},
                           {"--lib", chip.dir.file("missing.so")},
                           {"--trace", chip.dir.file("no/trace")}};
  for (const auto& options : refused) {
    ProcessResult run = run_process(
        sim_run_argv(chip.state, options, {beside_me("spidev_client"), "/dev/spi0", "exit=3"}));
    EXPECT_EQ(run.exitStatus, 2) << options[0];
    EXPECT_EQ(run.err.compare(0, 14, "flashsim run: "), 0) << run.err;
  }
  ProcessResult noChip = run_process(
      sim_run_argv(chip.dir.file("empty"), {}, {beside_me("spidev_client"), "/dev/spi0"}));
  EXPECT_EQ(noChip.exitStatus, 2);
  EXPECT_NE(noChip.err.find("flashsim create"), std::string::npos) << noChip.err;
  // Without a state the program gets a throwaway chip, gone with the run.
  TempDir scratch;
  Lines argv{"env", "-u", "FLASHSIM_STATE", "TMPDIR=" + scratch.path};
  for (const auto& word :
       sim_run_argv("", {}, {beside_me("spidev_client"), "/dev/spi0", "open", "msg=tx:9F,rx:3"}))
    if (word != "--state" && !word.empty()) argv.push_back(word);
  ProcessResult throwaway = run_process(argv);
  EXPECT_EQ(throwaway.out, "open ok\nmsg ok 4: 01 20 18\n") << throwaway.err;
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path));
}

// Debian's flashrom with its linux_spi programmer, a host program: native builds only.
TEST(Flashrom, IdentifiesTheW25q128AndWritesAndVerifiesARegion) {
  if (!sim_binaries().emulator.empty())
    GTEST_SKIP() << "flashrom is a host program; this build runs in an emulator";
  std::string flashrom =
      access("/usr/sbin/flashrom", X_OK) == 0 ? "/usr/sbin/flashrom" : "/usr/bin/flashrom";
  if (access(flashrom.c_str(), X_OK) != 0)
    GTEST_SKIP() << "flashrom is not installed (Debian package flashrom)";
  SimChip chip;
  ASSERT_TRUE(chip.create({"--profile", "w25q128"}));
  std::string image = std::string(0x123400, '\xFF') + pattern_bytes(0x10000, 9);
  write_file(chip.dir.file("image"), image + std::string((16u << 20) - image.size(), '\xFF'));
  write_file(chip.dir.file("layout"), "00123400:001333ff part\n");
  Lines base{
      flashrom, "-p",  "linux_spi:dev=/dev/spi0,spispeed=16000", "-l", chip.dir.file("layout"),
      "-i",     "part"};
  ProcessResult written = chip.run(base + Lines{"-w", chip.dir.file("image")});
  ASSERT_EQ(written.exitStatus, 0) << written.out << written.err;
  EXPECT_NE(
      written.out.find("Found Winbond flash chip \"W25Q128.V\" (16384 kB, SPI) on linux_spi."),
      std::string::npos)
      << written.out;
  EXPECT_EQ(written.out.find("Multiple flash chip definitions match"), std::string::npos)
      << written.out;
  EXPECT_NE(written.out.find("VERIFIED"), std::string::npos) << written.out;
  EXPECT_TRUE(chip.bytes(0x123300, 0x10200) ==
              std::string(0x100, '\xFF') + pattern_bytes(0x10000, 9) + std::string(0x100, '\xFF'));
}

}  // namespace

// A killed or hung-up `flashsim run` takes its command with it: TERM and HUP are
// passed on, and the command dies with a run killed outright.
TEST(FlashsimRun, TheCommandEndsWithTheRunThatStartedIt) {
  if (!sim_binaries().emulator.empty()) GTEST_SKIP() << "the command here is a host shell";
  SimChip chip;
  ASSERT_TRUE(chip.create({}));
  const char* script = R"(
    "$1" run --state "$2" ${3:+--lib "$3"} --realtime -- sh -c 'echo $$ > "$0"; exec sleep 600' "$4" &
    runner=$!
    i=0; while [ ! -s "$4" ]; do i=$((i+1)); [ $i -lt 1200 ] || exit 3; sleep 0.05; done
    kill -"$5" $runner; wait $runner; status=$?
    command=$(cat "$4")
    alive() { s=$(sed 's/.*) \(.\).*/\1/' "/proc/$1/stat" 2>/dev/null) && [ -n "$s" ] && [ "$s" != Z ]; }
    i=0
    while alive "$command"; do
      i=$((i+1)); [ $i -lt 400 ] || { kill -KILL "$command"; echo "$status left running"; exit 0; }
      sleep 0.05
    done
    echo "$status ended")";
  const struct {
    const char* signal;
    const char* outcome;
  } rows[] = {{"TERM", "143 ended\n"}, {"HUP", "129 ended\n"}, {"KILL", "137 ended\n"}};
  for (const auto& row : rows) {
    std::string pidFile = chip.dir.file(std::string("command-") + row.signal);
    ProcessResult result = run_process({"sh", "-c", script, "sh", sim_binaries().flashsim,
                                        chip.state, sim_binaries().lib, pidFile, row.signal});
    EXPECT_EQ(result.out, row.outcome) << row.signal << ": " << result.err;
  }
}
