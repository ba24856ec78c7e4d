// What the command line does before any flash command: usage, rejections,
// exit statuses and the order in which problems are found.
#include "romflash_on_sim.h"

namespace {

using CommandLine = RomflashOnSim;

// getopt's own diagnostic comes first; its wording belongs to the C library.
void expect_getopt_diagnostic_then(const std::string& err, char letter, const std::string& rest) {
  size_t lineEnd = err.find('\n');
  ASSERT_NE(lineEnd, std::string::npos) << err;
  std::string diagnostic = err.substr(0, lineEnd);
  EXPECT_NE(diagnostic.find(std::string("'") + letter + "'"), std::string::npos) << diagnostic;
  EXPECT_EQ(diagnostic.rfind("ERROR", 0), std::string::npos) << diagnostic;
  EXPECT_EQ(err.substr(lineEnd + 1), rest);
}

TEST_F(CommandLine, HelpWritesTheUsageTextAndSucceeds) {
  ProcessResult run = romflash({"-h", "-x"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, usage_text());
  EXPECT_EQ(run.out, "");
}

TEST_F(CommandLine, NoArgumentsReportsOnlyTheMissingDevice) {
  ProcessResult run = romflash({});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: No device specification.\nERROR: Initialize SPI device fail.\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(trace_of("open"), Lines{});
}

TEST_F(CommandLine, OnlyADeviceIsConfiguredThenNoCommandIsFatal) {
  ProcessResult run = romflash_on_device({});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_EQ(run.err, "romflash(1469): ERROR: Fatal Error of System!\n");
  EXPECT_EQ(trace_of("ioctl"), setup_lines("0x03", "8", "500000"));
  EXPECT_EQ(trace_of("msg"), Lines{});
  EXPECT_EQ(trace_of("close"), Lines{"close"});
}

TEST_F(CommandLine, OutputFileIsCreatedEvenWhenHelpEndsTheRun) {
  std::string out = dir.file("out.bin");
  write_file(out, "old contents");
  ProcessResult run = romflash({"-w", out, "-h"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, usage_text());
  EXPECT_TRUE(file_exists(out));
  EXPECT_EQ(read_file(out), "");
}

TEST_F(CommandLine, UnknownLetterIsRejectedAfterTheLibraryDiagnostic) {
  ProcessResult run = romflash_on_device({"-x", "-o", "WREN"});
  EXPECT_EQ(run.exitStatus, 1);
  expect_getopt_diagnostic_then(run.err, 'x', "ERROR: Invalid option 'x'\n" + usage_text());
  EXPECT_EQ(trace_of("open"), Lines{});
}

TEST_F(CommandLine, DashIIsRejectedShowingAQuestionMarkWithoutDiagnostic) {
  ProcessResult run = romflash_on_device({"-i"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "ERROR: Invalid option '?'\n" + usage_text());
}

TEST_F(CommandLine, OptionWithoutItsArgumentIsRejectedWithItsLetter) {
  ProcessResult run = romflash({"-o", "WREN", "-d"});
  EXPECT_EQ(run.exitStatus, 1);
  expect_getopt_diagnostic_then(run.err, 'd', "ERROR: Invalid option 'd'\n" + usage_text());
}

TEST_F(CommandLine, CommandNamesAreExactAndCaseSensitive) {
  ProcessResult lower = romflash_on_device({"-o", "read", "0x0"});
  EXPECT_EQ(lower.exitStatus, 1);
  EXPECT_EQ(lower.err, "ERROR: Invalid option -o read \n" + usage_text());

  ProcessResult empty = romflash_on_device({"-o", ""});
  EXPECT_EQ(empty.exitStatus, 1);
  EXPECT_EQ(empty.err, "ERROR: Invalid option -o  \n" + usage_text());

  ProcessResult longer = romflash_on_device({"-o", "WRENX"});
  EXPECT_EQ(longer.exitStatus, 1);
  EXPECT_EQ(longer.err, "ERROR: Invalid option -o WRENX \n" + usage_text());
}

TEST_F(CommandLine, MissingMandatoryOperandIsRejectedWithTheCommandName) {
  for (const char* name : {"SE", "SE4K", "PP", "WRITE", "WRR1", "WRR2", "READ", "VER", "CHKSUM"}) {
    ProcessResult run = romflash_on_device({"-o", name});
    EXPECT_EQ(run.exitStatus, 1) << name;
    EXPECT_EQ(run.err, std::string("ERROR: Invalid option -o ") + name + " \n" + usage_text())
        << name;
  }
}

TEST_F(CommandLine, ForgottenAddressBeforeAnotherOptionIsRejectedNotTakenAsZero) {
  ProcessResult run = romflash({"-o", "SE", "-d", device});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "ERROR: Invalid option -o SE \n" + usage_text());
  EXPECT_EQ(trace_of("msg"), Lines{});
}

TEST_F(CommandLine, NegativeOperandIsMetByGetoptAsAnOptionLetter) {
  ProcessResult run = romflash_on_device({"-o", "SE", "-5"});
  EXPECT_EQ(run.exitStatus, 1);
  expect_getopt_diagnostic_then(run.err, '5', "ERROR: Invalid option '5'\n" + usage_text());
  EXPECT_EQ(trace_of("open"), Lines{});
}

TEST_F(CommandLine, ReadStartAddressOutOfSigned32BitRangeIsRejected) {
  for (const char* address : {"0x80000000", "2147483648", "0x123456789"}) {
    ProcessResult run = romflash_on_device({"-o", "READ", address, "-w", dir.file("out")});
    EXPECT_EQ(run.exitStatus, 1) << address;
    EXPECT_EQ(run.err, "ERROR: Invalid option -o READ \n" + usage_text()) << address;
  }
}

TEST_F(CommandLine, EraseAddressBeyond32BitsIsClampedAsOnTheBoard) {
  // strtol of a 32-bit long gives its largest value; the frame keeps 24 bits.
  ProcessResult run = romflash_on_device({"-o", "SE", "0x123456789"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 4 tx D8 FF FF FF", "  seg 0"}));
}

TEST_F(CommandLine, MissingImageFileEndsTheRunBeforeTheDeviceIsLookedAt) {
  ProcessResult run = romflash({"-o", "WRITE", "0", "-f", dir.file("absent.img")});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: cannot open \"" + dir.file("absent.img") +
                         "\":  No such file or directory\n");
  EXPECT_EQ(trace_of("open"), Lines{});
}

TEST_F(CommandLine, UnwritableOutputFileEndsTheRun) {
  std::string out = dir.file("no-such-dir/out.bin");
  ProcessResult run = romflash_on_device({"-o", "RDSR", "-w", out});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: cannot open \"" + out + "\":  No such file or directory\n");
  EXPECT_EQ(trace_of("open"), Lines{});
}

TEST_F(CommandLine, ProgrammingWithoutAnImageIsRefusedAfterTheDeviceIsSetUp) {
  ProcessResult pp = romflash_on_device({"-o", "PP", "0x0"});
  EXPECT_EQ(pp.exitStatus, 11);
  EXPECT_EQ(pp.err, "romflash(1425): ERROR: No file specification.\n");
  EXPECT_EQ(trace_of("ioctl").size(), 6u);
  EXPECT_EQ(trace_of("msg"), Lines{});
  EXPECT_EQ(trace_of("close"), Lines{"close"});

  ProcessResult write = romflash_on_device({"-o", "WRITE", "0x0"});
  EXPECT_EQ(write.exitStatus, 11);
  EXPECT_EQ(write.err, "romflash(1461): ERROR: No file specification.\n");
  EXPECT_EQ(trace_of("msg"), Lines{});
}

TEST_F(CommandLine, OptionsAfterOperandsStillAct) {
  // The operand stands between options: getopt must permute to reach -d.
  ProcessResult run = romflash({"-o", "SE4K", "0x1000", "-d", device, "-s", "1000"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("ioctl").back(), "ioctl RD_MAX_SPEED_HZ 1000000 ok");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 4 tx 20 00 10 00", "  seg 0"}));
}

TEST_F(CommandLine, OptionsStillPermuteWhenPosixlyCorrectIsSet) {
  ProcessResult run = romflash({"-o", "SE4K", "0x1000", "-d", device}, {}, {"POSIXLY_CORRECT=1"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 4 tx 20 00 10 00", "  seg 0"}));
}

TEST_F(CommandLine, WordsAfterACommandWithoutOperandsAreIgnored) {
  ProcessResult run = romflash_on_device({"-o", "WREN", "0x10", "extra"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 06", "  seg 0"}));
}

TEST_F(CommandLine, LaterOptionsReplaceEarlierOnes) {
  ProcessResult run =
      romflash({"-d", "/dev/absent", "-o", "WRDI", "-d", device, "-s", "1", "-s", "2", "-o", "WREN"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(trace_of("open"), Lines{"open " + device});
  EXPECT_EQ(trace_of("ioctl").back(), "ioctl RD_MAX_SPEED_HZ 2000 ok");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 06", "  seg 0"}));
}

}  // namespace
