// The flashsim command: creating, loading, dumping, comparing and setting a
// chip, the summary, and `run` passing on what became of the program.
#include "sim_client.h"

namespace {

using SimCommand = SimChip;
using SimRun = SimChip;
using SimPersistence = SimChip;

const std::string kRdsr = "msg=tx:05,rx:1";

bool emulated() { return !sim_binaries().emulator.empty(); }

TEST_F(SimCommand, CreateFillsTheArrayThenLaysTheImageFromAddressZero) {
  std::string image = dir.file("image.bin");
  write_file(image, "0123456789");
  create_chip({"--profile", "small", "--fill", "0x00", "--image", image});
  EXPECT_EQ(chip_bytes(0, 12), std::string("0123456789\0\0", 12));

  ProcessResult whole = flashsim({"dump", "--state", state()});
  ASSERT_EQ(whole.exitStatus, 0) << whole.err;
  EXPECT_EQ(whole.out.size(), 1024u * 1024u);

  std::string text = dir.file("text.bin");
  write_file(text, "V1.2");
  ASSERT_EQ(flashsim({"load", "--state", state(), "--offset", "0xFFFFC", text}).exitStatus, 0);
  EXPECT_EQ(chip_bytes(0xFFFFA, 6), std::string("\0\0V1.2", 6));
}

TEST_F(SimCommand, RangesBeyondTheChipAreRefused) {
  std::string text = dir.file("text.bin");
  write_file(text, "V1.2");
  create_chip({"--profile", "small"});
  struct Case {
    Lines args;
  } cases[] = {
      {{"load", "--state", state(), "--offset", "0xFFFFD", text}},
      {{"dump", "--state", state(), "--offset", "0x100001"}},
      {{"dump", "--state", state(), "--offset", "0xFFFFF", "--length", "2"}},
      {{"compare", "--state", state(), text, "--offset", "0xFFFFE"}},
      {{"dump", "--state", dir.file("nothing-here")}},
      {{"dump", "--state", state(), "--length", "ten"}},
  };
  for (const auto& c : cases) {
    ProcessResult run = flashsim(c.args);
    EXPECT_EQ(run.exitStatus, 2) << c.args[0] << " " << c.args.back();
    EXPECT_NE(run.err, "") << c.args.back();
  }
}

TEST_F(SimCommand, CompareNamesTheFirstDifferingOffset) {
  std::string image = dir.file("image.bin");
  write_file(image, std::string(300, '\x11'));
  ASSERT_EQ(flashsim({"load", "--state", state(), "--offset", "0x1000", image}).exitStatus, 0);

  ProcessResult same = flashsim({"compare", "--state", state(), image, "--offset", "0x1000"});
  EXPECT_EQ(same.exitStatus, 0) << same.err;

  std::string changed = std::string(300, '\x11');
  changed[0x123] = '\x22';
  changed[0x124] = '\x22';
  write_file(image, changed);
  ProcessResult differ = flashsim({"compare", "--state", state(), image, "--offset", "0x1000"});
  EXPECT_EQ(differ.exitStatus, 1);
  EXPECT_EQ(differ.out, "differ at 0x001123: flash 0x11, file 0x22 (2 of 300 bytes differ)\n");

  ProcessResult atZero = flashsim({"compare", "--state", state(), image});
  EXPECT_EQ(atZero.exitStatus, 1);
  EXPECT_EQ(atZero.out.substr(0, 38), "differ at 0x000000: flash 0xFF, file 0");
}

TEST_F(SimCommand, SetWritesTheRegistersTheChipThenReports) {
  ProcessResult set = flashsim({"set", "--state", state(), "--status", "0x1C", "--config", "0x02"});
  ASSERT_EQ(set.exitStatus, 0) << set.err;
  std::string shown = regs();
  EXPECT_NE(shown.find("status: 0x1C"), std::string::npos) << shown;
  EXPECT_NE(shown.find("config: 0x02"), std::string::npos) << shown;
  ProcessResult read = client({"open", kRdsr, "msg=tx:35,rx:1"});
  EXPECT_EQ(out_lines(read), (Lines{"open ok", "msg ok 2: 1C", "msg ok 2: 02"}));

  EXPECT_EQ(flashsim({"set", "--state", state(), "--status", "0x100"}).exitStatus, 2);
}

TEST_F(SimCommand, ProfilesListsTheBuiltInChips) {
  ProcessResult listed = flashsim({"profiles"});
  ASSERT_EQ(listed.exitStatus, 0) << listed.err;
  Lines lines = out_lines(listed);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(split_words(lines[1]), (Lines{"w25q128", "16384", "KiB", "JEDEC", "EF", "40", "18"}));
}

TEST_F(SimCommand, SummaryKeepsTheLastRunAndTheTotals) {
  ASSERT_EQ(client({"open", kRdsr, kRdsr, "nanosleep=1000", "close"}).exitStatus, 0);
  ASSERT_EQ(client({"open", kRdsr, "close"}, {"--fail-msg", "1"}).exitStatus, 0);
  EXPECT_EQ(summary_line("last run", "messages"), "messages: 1");
  EXPECT_EQ(summary_line("last run", "failed messages"), "failed messages: 1");
  EXPECT_EQ(summary_line("last run", "bytes tx"), "bytes tx: 0");
  EXPECT_EQ(summary_line("totals", "processes"), "processes: 2");
  EXPECT_EQ(summary_line("totals", "messages"), "messages: 3");
  EXPECT_EQ(summary_line("totals", "bytes tx"), "bytes tx: 2");
  EXPECT_EQ(summary_line("totals", "bytes rx"), "bytes rx: 2");
  EXPECT_EQ(summary_line("totals", "sleep time"), "sleep time: 0.000001000 s");

  ProcessResult shown = client({"open", kRdsr}, {"--summary", "--overhead-ns", "0"});
  EXPECT_EQ(shown.err, "flashsim summary of this run:\n"
                       "  processes: 1\n  messages: 1\n  failed messages: 0\n  bytes tx: 1\n  bytes rx: 1\n"
                       "  bus time: 0.000000320 s\n  sleeps: 0\n  sleep time: 0.000000000 s\n"
                       "  device time: 0.000000320 s\n");
}

TEST_F(SimRun, TheProgramsExitStatusOrSignalComesBack) {
  EXPECT_EQ(client({"exit=7"}).exitStatus, 7);
  EXPECT_EQ(client({"kill=15"}).exitStatus, 128 + 15);
  if (!emulated()) {
    EXPECT_EQ(run({dir.file("no-such-program")}).exitStatus, 127);
  }
}

// TERM and HUP are passed on to the command; a KILL, which cannot be, takes
// the command with the run. Either way nothing is left driving the chip.
TEST_F(SimRun, TheCommandEndsWithTheRunThatStartedIt) {
  if (emulated()) return;  // the command here is a host shell
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
    std::string pidFile = dir.file(std::string("command-") + row.signal);
    ProcessResult result = run_process({"sh", "-c", script, "sh", sim_binaries().flashsim, state(),
                                        sim_binaries().lib, pidFile, row.signal});
    EXPECT_EQ(result.out, row.outcome) << row.signal << ": " << result.err;
  }
}

TEST_F(SimRun, WithoutAStateTheProgramGetsAThrowawayDefaultChip) {
  const SimBinaries& bin = sim_binaries();
  TempDir scratch;
  Lines argv{"env", "-u", "FLASHSIM_STATE", "TMPDIR=" + scratch.path};
  argv.insert(argv.end(), bin.emulator.begin(), bin.emulator.end());
  argv.insert(argv.end(), {bin.flashsim, "run"});
  if (!bin.lib.empty()) argv.insert(argv.end(), {"--lib", bin.lib});
  if (emulated()) {
    std::string words;
    for (const auto& word : bin.emulator) words += (words.empty() ? "" : " ") + word;
    argv.insert(argv.end(), {"--emulator", words});
  }
  argv.insert(argv.end(), {"--", spidev_client_path(), "/dev/spi0", "open", "msg=tx:9F,rx:3"});
  ProcessResult run = run_process(argv);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(out_lines(run), (Lines{"open ok", "msg ok 4: 01 20 18"}));
  ProcessResult left = run_process({"ls", "-A", scratch.path});
  EXPECT_EQ(left.out, "");  // the chip went with the run
}

TEST_F(SimRun, BadOptionsAreRefusedBeforeAnythingRuns) {
  const Lines refused[] = {
      {"--fail-msg", "0"},        {"--fail-msgs", "5-2"},     {"--fail-every", "x"},
      {"--errno", "ENOTANERROR"}, {"--fail-opcode", "0x100"}, {"--fail-opcode", "0x05:0"},
      {"--fail-setup", "WR_NOTHING"}, {"--absent", "7f"},     {"--power-cut", "-1"},
      {"--bufsiz", "0"},          {"--overhead-ns", "ten"},   {"--frobnicate"},
      {"--lib", dir.file("missing.so")}, {"--trace", dir.file("no-dir/trace")},
  };
  for (const auto& options : refused) {
    ProcessResult run = client({"exit=3"}, options);
    EXPECT_EQ(run.exitStatus, 2) << options[0];
    EXPECT_NE(run.err.find("flashsim run: "), std::string::npos) << run.err;
  }
  ProcessResult noCommand = flashsim({"run", "--state", state()});
  EXPECT_EQ(noCommand.exitStatus, 2);
  ProcessResult noChip = run_on_sim(dir.file("empty"), {}, {spidev_client_path(), "/dev/spi0", "open"});
  EXPECT_EQ(noChip.exitStatus, 2);
  EXPECT_NE(noChip.err.find("flashsim create"), std::string::npos) << noChip.err;
}

TEST_F(SimPersistence, WhatOneProcessProgramsTheNextOneReads) {
  ProcessResult write = client({"open", "msg=tx:06", "msg=tx:02001000DEADBEEF", "close"});
  ASSERT_EQ(write.exitStatus, 0) << write.err;
  // Still programming when the first process left; a process that sleeps lets it finish.
  ProcessResult read = client({"open", "nanosleep=1000000", "msg=tx:03001000,rx:5", "close"});
  EXPECT_EQ(out_lines(read).at(2), "msg ok 9: DE AD BE EF FF");
  EXPECT_EQ(chip_bytes(0x1000, 4), "\xDE\xAD\xBE\xEF");
}

}  // namespace
