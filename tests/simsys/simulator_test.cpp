// SPDX-License-Identifier: MIT
// The simulator as a product: spidev_client run through `flashsim run`, and the
// flashsim command's own subcommands (flashrom's rows: flashrom_conformance_test.cpp).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "sim_run.h"

namespace {

std::string beside_me(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

// One case: a chip, `flashsim run` options and what the client's processes did.
struct ClientRow {
  const char* name;
  const char* chip;        // `flashsim create` words
  const char* options;     // `flashsim run` words
  int status;              // of the last process
  const char* err;         // lines the last standard error holds, "; " between them
  const char* wire;        // the last process's trace in short form (SimChip::wire)
  const char* transcript;  // "STEP RESULT; ..." per process, " | " between processes; a
                           // STEP alone never returned. The steps are the client's arguments.
};

void run_row(const ClientRow& row, const std::string& client) {
  SCOPED_TRACE(client);
  SimChip chip;
  ASSERT_TRUE(chip.create(split_words(row.chip)));
  Lines options = split_words(row.options);
  std::string device = options.size() > 1 && options[0] == "--device" ? options[1] : "/dev/spi0";
  std::string transcript;
  ProcessResult run{0, "", ""};
  for (const auto& process : split(row.transcript, '|')) {
    Lines argv{client, device};
    for (const auto& step : split(process, ';')) argv.push_back(split_words(step).at(0));
    run = chip.run(argv, options);
    transcript += (transcript.empty() ? "" : " | ") + joined(split(run.out, '\n'), "; ");
  }
  EXPECT_EQ(transcript, row.transcript);
  EXPECT_EQ(run.exitStatus, row.status) << run.err;
  for (const auto& line : split(row.err, ';'))
    EXPECT_NE(run.err.find(line.substr(line[0] == ' ') + "\n"), std::string::npos) << run.err;
  EXPECT_TRUE(!row.wire || chip.wire() == row.wire) << chip.wire();
}

void PrintTo(const ClientRow& row, std::ostream* out) { *out << row.name; }
class Client : public ::testing::TestWithParam<ClientRow> {};
// On 32-bit targets every row runs again through the client built with 64-bit time_t (the
// simulator's *_time64 hooks), which is built there beside this test.
TEST_P(Client, Row) {
  if (!sim_binaries().emulator.empty() &&
      std::string(GetParam().transcript).find("; exec;") != std::string::npos)
    GTEST_SKIP() << "qemu-user hands a guest's exec to the host, which cannot run it";
  run_row(GetParam(), beside_me("spidev_client"));
  if (sizeof(void*) == 4) run_row(GetParam(), beside_me("spidev_client_time64"));
}

#define READ_STATUS " msg=05,rx:1 ok 2: 00; "
const ClientRow kSpidevRows[] = {
    // name, chip, options, status, err, wire (nullptr: not compared), transcript
    {"TraceOfEveryKindOfEvent", "", "--device /dev/spidev1.0 --summary", 0,
     "flashsim summary of this run:;  bus time: 0.000012500 s;  device time: 0.001012500 s",
     "open /dev/spidev1.0; spi 0x03 8 16000000; 9F > 01 20 18 4D; +1000us; close",
     "open ok; wrmode=0x03 ok; rdmode 0x03; wrbits=8 ok; rdbits 8; wrspeed=16000000 ok; rdspeed "
     "16000000; msg=9F,rx:4 ok 5: 01 20 18 4D; nanosleep=1000000 ok; close ok"},
    {"CsChangeZeroLengthDuplexUnknownRequest", "", "", 0, "",
     "open; 9F cs > FF FF; 9F 000000 > FF 01 20 18; 0x00001234 fail ENOTTY; close",
     "open ok; msg=9F+cs,none:0,rx:2 ok 3: FF FF; msg=duplex:9F000000 ok 4: FF 01 20 18; "
     "ioctl=0x1234 fail ENOTTY; close ok"},
    {"ModePersistsClockRevertsModes1And2Shift", "--set status=0x1C", "", 0, "", nullptr,
     "open ok; wrmode=0x01 ok; wrspeed=1000000 ok; close ok; open ok; rdspeed 50000000 | open ok; "
     "rdmode 0x01; msg=0A,rx:1 ok 2: 8E; wrmode=0x02 ok; msg=0A,rx:1 ok 2: 8E"},
    {"ControllerRefusesWhatItCannotDo", "", "", 0, "", nullptr,
     "open ok; wrmode=0x08 fail EINVAL; wrmode=0x10 fail EINVAL; wrmode=0x80 fail EINVAL; "
     "wrmode32=0x100 fail EINVAL; wrlsb=1 fail EINVAL; wrbits=16 fail EINVAL; wrspeed=0 fail "
     "EINVAL; wrbits=0 ok; rdbits 8; rdmode 0x00; msg=9F+bits=16,rx:1 fail EINVAL; "
     "msg=9F+dual,rx:1 fail EINVAL"},
    {"ChipSelectSpansTheMessageMissingTxShiftsZeros", "", "", 0, "", nullptr,
     "open ok; msg=06,05,rx:1 ok 3: FF; msg=06+cs,05,rx:1 ok 3: 02; msg=05+cs ok 1; msg=rx:1 ok "
     "1: 02; msg=05 ok 1; msg=rx:1 ok 1: FF; msg=02000100,none:4 ok 8; nanosleep=5000000 ok; "
     "msg=0B00010000,rx:6 ok 11: 00 00 00 00 FF FF"},
    {"CsHighNoCsAndLoopKeepTheChipOff", "", "", 0, "", nullptr,
     "open ok; wrmode=0x04 ok; msg=06 ok 1; wrmode=0x40 ok; msg=06 ok 1; wrmode=0x20 ok; "
     "msg=duplex:9F123456 ok 4: 9F 12 34 56; msg=9F,rx:3 ok 4: 00 00 00; msg=06 ok 1; "
     "wrmode=0x00 ok;" READ_STATUS "close ok"},
    {"BufsizBoundsTxAndRxEach", "", "--bufsiz 9", 0, "", nullptr,
     "bufsiz 9; bufsiz-open 9; open ok; msg=03000000,rx:9 ok 13: [9]; msg=03000000,rx:10 fail "
     "EMSGSIZE; msg=03000000FFFFFFFFFFFF fail EMSGSIZE; msg=03000000,rx:4,rx:5 ok 13: [9]"},
    {"BufsizDefaultAndEveryOpenVariant", "", "", 0, "", nullptr,
     "bufsiz 4096; open=open64 ok; close ok; open=openat ok; close ok; open=openat64 ok; close "
     "ok; open=__open_2 ok; close ok; open=__open64_2 ok; close ok; open=__openat_2 ok; close ok; "
     "open=__openat64_2 ok; msg=03000000,rx:4096 ok 4100: [4096]; msg=03000000,rx:4097 fail "
     "EMSGSIZE"},
    // 100 s: longer than the harness lets any program run, were it really slept; reading the
    // clock for the absolute deadline costs 1 us.
    {"SleepsReturnAtOnceAndMoveTheChip", "", "--summary --format=keys", 0,
     "run.sleeps 5; run.sleep_ns 105250000000; run.device_ns 105250000000",
     "+100000000us; +250000us; +2000000us; +1us; +2999999us",
     "nanosleep=100000000000 ok; usleep=250000 ok; sleep=2 left 0; clocksleep=1000 ok; "
     "abssleep=3000000000 ok"},
    {"RealtimeSleepsLeaveAClosedChipAlone", "", "--summary --format=keys --realtime", 0,
     "run.sleep_ns 1000000; run.device_ns 0", nullptr, "nanosleep=1000000 ok"},
    {"EraseEndsWhileAnotherProcessSleeps", "--fill 0x00", "", 0, "", nullptr,
     "open ok; msg=06 ok 1; msg=D8000000 ok 4 | open ok; msg=05,rx:1 ok 2: 03 | "
     "nanosleep=200000000 ok | open ok;" READ_STATUS "msg=03000000,rx:2 ok 6: FF FF"},
    // 1004 bytes at 1 MHz; 4 at 1 MHz, 100 us, 1000 at 2 MHz; 4 at 1 MHz, 1000 at 50 MHz.
    {"BusTimeIsBitsOverTheClock", "", "--summary --format=keys --overhead-ns 7", 0,
     "run.messages 3; run.bus_ns 12356021; run.device_ns 12356021", nullptr,
     "open ok; wrspeed=1000000 ok; msg=03000000,rx:1000 ok 1004: [1000]; "
     "msg=03000000+delay=100,rx:1000+hz=2000000 ok 1004: [1000]; "
     "msg=03000000,rx:1000+hz=100000000 ok 1004: [1000]"},
    {"BusyWaitOnTheMonotonicClockEnds", "", "--summary --format=keys", 0,
     "run.processes 0; run.device_ns 0", "", "busywait=2000000000 ok"},
    {"FaultsNumberMessagesInEveryProcess", "",
     "--fail-msgs 1-2 --fail-every 4 --fail-setup WR_MODE --fail-opcode 0x9F:1 --errno 121", 7, "",
     "open; 05 !EREMOTEIO x2; WR_MODE 0x01 fail EREMOTEIO; RD_MODE 0x00; 05 > 00; 05 !EREMOTEIO; "
     "9F !EREMOTEIO; 9F > 01 20 18",
     "open ok; msg=05,rx:1 fail EREMOTEIO | open ok; msg=05,rx:1 fail EREMOTEIO; msg=05,rx:1 fail "
     "EREMOTEIO; wrmode=0x01 fail EREMOTEIO; rdmode 0x00;" READ_STATUS "msg=05,rx:1 fail "
     "EREMOTEIO; msg=9F,rx:3 fail EREMOTEIO; msg=9F,rx:3 ok 4: 01 20 18; exit=7"},
    {"AbsentChipIsNeverTouched", "", "--absent 00 --summary --format=keys", 0, "run.device_ns 0",
     nullptr, "open ok; msg=9F,rx:3 ok 4: 00 00 00; nanosleep=1000000 ok"},
    {"PowerCutAfterMessageN", "", "--power-cut 3 --summary --format=keys", 137, "run.messages 3",
     "open; 06; 02 000200 FF; 05 > 03", "open ok; msg=06 ok 1; msg=02000200FF ok 5; msg=05,rx:1"},
    {"StuckWriteLeavesNothingAtAPowerCut", "", "--wip-stuck --power-cut 3", 0, "", nullptr,
     "open ok; msg=06 ok 1; msg=0200000000 ok 5; nanosleep=5000000 ok; msg=05,rx:1 | open ok; "
     "msg=03000000,rx:1 ok 5: FF"},
    // The helper exits after the parent has let go: what it inherited (a message among the
    // counters, the chip before WRSR) is older than the chip.
    {"ForkedHelperLeavesTheParentsWrites", "", "--summary --format=keys", 0,
     "run.processes 1; run.messages 3", nullptr,
     "open ok; msg=06 ok 1; fork ok; msg=011C ok 2; nanosleep=10000000 ok; close ok; reap ok; "
     "open ok; msg=05,rx:1 ok 2: 1C"},
    {"SecondProcessOnTheChipIsWarnedAbout", "", "--summary --format=keys", 0,
     "two processes driving one chip at once may undo each other's changes; run.processes 2; "
     "run.messages 1",
     nullptr, "open ok; forkmsg=06 ok"},
    {"ExecKeepsTheDescriptorAndTheCounters", "", "--summary --format=keys", 0,
     "run.processes 1; run.messages 2", "open; 06; 05 > 02; close",
     "open ok; msg=06 ok 1; exec; msg=05,rx:1 ok 2: 02; close ok"},
    // As spidev: the lengths must sum to an int, the transfer array and buffers must be
    // readable (a reply that cannot be delivered fails after the chip acted: WEL is set),
    // and MESSAGE(0) does nothing, a held chip select included.
    {"KernelLimitsBadPointersAndMessageZero", "", "", 0, "",
     "open;  !EMSGSIZE x2;  !EFAULT; 06 !EFAULT; 05 > 02;  !EFAULT; 9F cs; ; > 01 20 18",
     "open ok; msg=none:0x80000000 fail EMSGSIZE; msg=none:0x40000000,none:0x40000000 fail "
     "EMSGSIZE; msg=05+badtx fail EFAULT; msg=06+badrx fail EFAULT; msg=05,rx:1 ok 2: 02; "
     "badmsg=1 fail EFAULT; msg=9F+cs ok 1; msg= ok 0; msg=rx:3 ok 3: 01 20 18"},
    {"HugeSleepIsCutShortAndTheClockGoesOn", "", "", 0,
     "a program's clock counts no further than 2^31 s", nullptr,
     "hugesleep ok; open ok; msg=06 ok 1; msg=20000000 ok 4; nanosleep=50000000 ok;" READ_STATUS
     "close ok"},
    {"AnySpellingOfTheDevicePath", "", "", 0, "", nullptr,
     "openpath=/dev//spi0 ok; close ok; openpath=/dev/./spi0 ok; close ok; "
     "openpath=/dev/../dev/spi0 ok; close ok; chdir=/dev ok; openpath=spi0 ok; msg=9F,rx:3 ok 4: "
     "01 20 18"},
};
INSTANTIATE_TEST_SUITE_P(Spidev, Client, ::testing::ValuesIn(kSpidevRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A flashsim command line's words: $S the state, $D the test directory, CLIENT spidev_client.
std::string expanded(std::string text, const SimChip& chip) {
  const std::string by[][2] = {
      {"$S", chip.state}, {"$D", chip.dir.path}, {"CLIENT", beside_me("spidev_client")}};
  for (const auto& pair : by)
    for (size_t at; (at = text.find(pair[0])) != std::string::npos;)
      text.replace(at, pair[0].size(), pair[1]);
  return text;
}

// The flashsim command's own subcommands.
TEST(FlashsimCommand, CreatesLoadsComparesSetsAndRefuses) {
  SimChip chip;
  write_file(chip.dir.file("ten"), "0123456789");
  write_file(chip.dir.file("v12"), "V1.2");
  const struct {
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
      {"set --state $S --status 0x1C --config 0x02", 0, ""},
      {"load --state $S --offset 0xFFFFD $D/v12", 2, "range ends beyond the chip"},
      {"dump --state $S --offset 0x100001", 2, "0x100001 lies beyond the chip"},
      {"dump --state $S --offset 0xFFFFF --length 2", 2, "range ends beyond the chip"},
      {"dump --state $D/nothing-here", 2, "no chip in"},
      {"dump --state $S --length ten", 2, "--length: not a number"},
      {"set --state $S --status 0x100", 2, "--status: expected a byte value"},
      {"summary --state $S --format json", 2, "--format: expected text or keys"},
      {"load --state $S --offset 0 $D", 2, "cannot read"},
      {"compare --state $S $D", 2, "Is a directory"},
      {"summary --state $D/typo", 2, "no chip in"},
      {"create --state $S --set status=0x01", 2, "WIP (bit 0) is never stored"},
      {"set --state $S --status 0x03", 2, "WIP (bit 0) is never stored"},
      {"run --state $S", 2, "no command to run"},
      {"run --state $D/empty -- x", 2, "(flashsim create first)"},
  };
  for (const auto& step : steps) {
    std::string text = expanded(step.args, chip);
    ProcessResult run = flashsim(split_words(text));
    EXPECT_EQ(run.exitStatus, step.status) << text << "\n" << run.err;
    EXPECT_EQ(run.out, step.status == 2 ? "" : step.out) << text;
    std::string refusal = "flashsim " + split_words(text)[0] + ": ";
    EXPECT_TRUE(step.status != 2 ||
                (run.err.find(refusal) == 0 && run.err.find(step.out) != std::string::npos))
        << run.err;
  }
  ProcessResult read =
      chip.run({beside_me("spidev_client"), "/dev/spi0", "open", "msg=05,rx:1", "msg=35,rx:1"});
  EXPECT_EQ(read.out, "open ok\nmsg=05,rx:1 ok 2: 1C\nmsg=35,rx:1 ok 2: 02\n");
  EXPECT_NE(flashsim({"summary", "--state", chip.state}).out.find("totals:\n  processes: 1\n"),
            std::string::npos);
  EXPECT_NE(flashsim({"summary", "--state", chip.state, "--format=keys"})
                .out.find("run.bytes_rx 2\nrun.bus_ns 20640\nrun.sleeps 0\n"),
            std::string::npos);
  EXPECT_EQ(split_words(split(flashsim({"profiles"}).out, '\n').at(1)),
            (Lines{"w25q128", "16384", "KiB", "JEDEC", "EF", "40", "18", "(simulator", "model)"}));
}

// A state directory the commands cannot write, or that holds what it should not: a clear
// error naming the file, or for reading no need to write at all, and the chip as it was.
// The full disk is a file size limit (RLIMIT_FSIZE, SIGXFSZ ignored), which any user can set.
TEST(FlashsimCommand, StateThatCannotBeWrittenOrIsDamaged) {
  SimChip chip;
  write_file(chip.dir.file("ten"), "0123456789");
  ASSERT_TRUE(chip.create({"--profile", "small", "--image", chip.dir.file("ten")}));
  // Root writes anywhere unless it gives up overriding permissions.
  const Lines asUser = geteuid() == 0
                           ? Lines{"setpriv", "--bounding-set=-dac_override,-dac_read_search",
                                   "--inh-caps=-dac_override,-dac_read_search", "--"}
                           : Lines{},
              diskFull = {"sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$@\"", "sh"}, none;
  const struct {
    const char* setUp;    // shell words run first in the test directory
    const Lines& prefix;  // in front of the flashsim command
    const char* args;     // flashsim's
    int status;
    const char* err;  // what the error line says, "" for none
  } rows[] = {
      {"", diskFull, "create --state $S --profile small", 2,
       "cannot write $S/contents.bin: File too large"},
      {"chmod -R a-w $S", asUser, "regs --state $S", 0, ""},
      {"", asUser, "dump --state $S --length 10 -o /dev/null", 0, ""},
      {"", asUser, "compare --state $S $D/ten", 0, ""},
      {"chmod -R u+w $S; mkdir $S/spidev-settings", none, "run --state $S -- CLIENT /dev/spi0 open",
       0, "$S/spidev-settings: Is a directory"},
      {"rmdir $S/spidev-settings; echo 'jedec=EF 40 18' >> $S/profile.txt", none, "regs --state $S",
       2, "profile.txt:"},
  };
  for (const auto& row : rows) {
    run_process({"sh", "-c", "cd \"$0\" && " + expanded(row.setUp, chip) + "\n:", chip.dir.path});
    Lines args = split_words(expanded(row.args, chip));
    if (args[0] == "run")
      args = sim_run_argv(chip.state, {}, Lines(args.begin() + 4, args.end()));
    else
      args = sim_binaries().emulator + Lines{sim_binaries().flashsim} + args;
    ProcessResult run = run_process(row.prefix + args, {}, "");
    SCOPED_TRACE(row.args);
    EXPECT_EQ(run.exitStatus, row.status) << run.err;
    EXPECT_NE(run.err.find(expanded(row.err, chip)), std::string::npos) << run.err;
    EXPECT_EQ(std::string(row.err).empty(), run.err.empty()) << run.err;
  }
  run_process({"sed", "-i", "$d", chip.state + "/profile.txt"});
  EXPECT_EQ(chip.bytes(0, 10), "0123456789");
  EXPECT_FALSE(std::filesystem::exists(chip.state + "/contents.bin.new"));
}

// A chip on a tmpfs that then fills up: an erase and a program still land, as the array's
// blocks were reserved when it was made, and the commands after it work.
TEST(FlashsimRun, AFullTmpfsNeverReachesTheChip) {
  if (geteuid() != 0 || run_process({"unshare", "-m", "true"}).exitStatus != 0)
    GTEST_SKIP() << "mounting a tmpfs takes root and unshare -m";
  TempDir dir;
  auto quoted = [](const Lines& words) { return "'" + joined(words, "' '") + "'"; };
  std::string state = dir.file("chip"),
              flashsim = quoted(sim_binaries().emulator + Lines{sim_binaries().flashsim});
  Lines client = Lines{beside_me("spidev_client")} +
                 split_words(
                     "/dev/spi0 open msg=06 msg=20000000 nanosleep=50000000 msg=06 "
                     "msg=0200000055 nanosleep=1000000 msg=03000000,rx:1");
  std::string script = "mount -t tmpfs -o size=1100k none " + dir.path + " && " + flashsim +
                       " create --state " + state + " --profile small --fill 0x00 && { dd " +
                       "if=/dev/zero of=" + dir.file("filler") + " bs=4096 2>/dev/null; " +
                       quoted(sim_run_argv(state, {}, client)) + "; } && " + flashsim +
                       " power-cycle --state " + state + " && " + flashsim + " dump --state " +
                       state + " --length 2 | od -An -tx1";
  ProcessResult run = run_process({"unshare", "-m", "sh", "-c", script});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find("msg=03000000,rx:1 ok 5: 55\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" 55 ff\n"), std::string::npos) << run.out;
}

// Every option `flashsim run` cannot use is refused before the command (here none) runs.
TEST(FlashsimRun, BadOptionsAreRefusedBeforeAnythingRuns) {
  SimChip chip;
  ASSERT_TRUE(chip.create({}));
  for (const char* options :
       {"--fail-msg 0", "--fail-msgs 5-2", "--fail-every 3x", "--errno ENOTANERROR", "--errno 4096",
        "--fail-opcode 0x100", "--fail-opcode 0x05:0", "--fail-setup WR_NOTHING", "--absent 7f",
        "--power-cut -1", "--bufsiz 0", "--overhead-ns ten", "--format keys", "--frobnicate",
        "--lib /nonexistent/lib.so", "--trace /nonexistent/trace", "--wel-stuck=1"}) {
    ProcessResult run = flashsim(Lines{"run", "--state", chip.state} + split_words(options) +
                                 Lines{"--", "/nonexistent/program"});
    EXPECT_EQ(run.exitStatus, 2) << options;
    EXPECT_EQ(run.err.compare(0, 14, "flashsim run: "), 0) << run.err;
  }
}

// Without a state the program gets a throwaway chip, gone with the run.
TEST(FlashsimRun, ThrowawayChipWithoutAState) {
  TempDir scratch;
  ProcessResult run = run_process(
      Lines{"env", "-u", "FLASHSIM_STATE", "TMPDIR=" + scratch.path} +
      sim_run_argv("", {}, {beside_me("spidev_client"), "/dev/spi0", "open", "msg=9F,rx:3"}));
  EXPECT_EQ(run.out, "open ok\nmsg=9F,rx:3 ok 4: 01 20 18\n") << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path));
}

}  // namespace

// A killed or hung-up `flashsim run` takes everything its command started with it: TERM
// and HUP are passed on to the command's process group, and a watchdog kills the group
// when the run is killed outright. The process watched is the script's child.
TEST(FlashsimRun, TheCommandEndsWithTheRunThatStartedIt) {
  if (!sim_binaries().emulator.empty()) GTEST_SKIP() << "the command here is a host shell";
  SimChip chip;
  ASSERT_TRUE(chip.create({}));
  const char* script = R"sh(
  "$1" run --state "$2" ${3:+--lib "$3"} --realtime -- sh -c 'sleep 600 & echo $! > "$0"; wait' "$4" &
  i=0; while [ ! -s "$4" ] && [ $((i += 1)) -lt 1200 ]; do sleep 0.05; done
  kill -"$5" $!; wait $!; echo $?
  i=0; while grep -qv '^[0-9]* ([^)]*) Z' "/proc/$(cat "$4")/stat" 2>/dev/null; do
    [ $((i += 1)) -lt 400 ] || { kill -KILL "$(cat "$4")"; echo left running; exit; }; sleep 0.05
  done
  echo ended)sh";
  for (const char* signal : {"TERM 143 passed", "HUP 129 passed", "KILL 137 killed"}) {
    Lines words = split_words(signal);
    ProcessResult result =
        run_process({"sh", "-c", script, "sh", sim_binaries().flashsim, chip.state,
                     sim_binaries().lib, chip.dir.file("command-" + words[0]), words[0]});
    EXPECT_EQ(result.out, words[1] + "\nended\n") << signal << ": " << result.err;
    EXPECT_NE(result.err.find("flashsim run: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(words[2]), std::string::npos) << result.err;
  }
}
