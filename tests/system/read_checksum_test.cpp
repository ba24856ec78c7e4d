// READ, FREAD and CHKSUM: the flash copied into a file in 256-byte chunks, or summed.
#include "romflash_on_sim.h"

namespace {

class FlashRead : public RomflashOnSim {
 protected:
  std::string out() const { return dir.file("out.bin"); }
};
using RangeChecksum = RomflashOnSim;

TEST_F(FlashRead, ThreeHundredBytesAreAFullChunkThenTheRest) {
  std::string content = pattern_bytes(300);
  load_chip(0x1000, content);
  ProcessResult run = romflash_on_device({"-o", "READ", "0x1000", "300", "-w", out()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(read_file(out()), content);
  EXPECT_EQ(trace_of("msg"),
            (Lines{"msg 2 ok", "  seg 4 tx 03 00 10 00", "  seg 256 rx " + hex_bytes(content.substr(0, 256)),
                   "msg 2 ok", "  seg 4 tx 03 00 11 00", "  seg 44 rx " + hex_bytes(content.substr(256))}));
}

TEST_F(FlashRead, WithoutASizeOneChunkIsRead) {
  // The word after the address is the -w option, which counts as no size.
  load_chip(0x1000, pattern_bytes(512));
  ProcessResult run = romflash_on_device({"-o", "READ", "0x1000", "-w", out()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(read_file(out()), pattern_bytes(512).substr(0, 256));
  EXPECT_EQ(wire_summary(trace_of("msg")), Lines{"READ 001000 256"});

  romflash_on_device({"-o", "READ", "0x1000", "0", "-w", out()});
  EXPECT_EQ(wire_summary(trace_of("msg")), Lines{"READ 001000 256"});
}

TEST_F(FlashRead, FastReadSendsADummyByteAfterTheAddress) {
  load_chip(0x200, "fast");
  ProcessResult run = romflash_on_device({"-o", "FREAD", "0x200", "4", "-w", out()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(read_file(out()), "fast");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 5 tx 0B 00 02 00 00", "  seg 4 rx 66 61 73 74"}));
}

TEST_F(FlashRead, OptionsBeforeOrAfterTheCommandSelectTheSameRead) {
  create_chip({"--image", [this] {
                 std::string image = dir.file("image.bin");
                 write_file(image, pattern_bytes(0x400000, 7));
                 return image;
               }()});
  std::string first = dir.file("first.img");
  std::string second = dir.file("second.img");
  EXPECT_EQ(romflash_on_device({"-o", "FREAD", "0x000000", "0x400000", "-w", first}).exitStatus, 0);
  EXPECT_EQ(romflash_on_device({"-w", second, "-o", "FREAD", "0x000000", "0x400000"}).exitStatus, 0);
  EXPECT_EQ(read_file(first), pattern_bytes(0x400000, 7));
  EXPECT_EQ(read_file(second), read_file(first));
}

TEST_F(FlashRead, WithoutAnOutputFileTheFirstChunkIsReadThenTheRunFails) {
  for (const char* name : {"READ", "FREAD"}) {
    ProcessResult run = romflash_on_device({"-o", name, "0", "0x1000"});
    EXPECT_EQ(run.exitStatus, 11) << name;
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(trace_of("msg").size(), 3u) << name;
  }
  ProcessResult failing = romflash_on_device({"-o", "READ", "0"}, {"--fail-every", "1"});
  EXPECT_EQ(failing.exitStatus, 11);
  EXPECT_EQ(failing.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                         "ERROR: Input/output error\nERROR: Input/output error\n"
                         "  Flash Read Protocol Retryout!!\n");
}

TEST_F(FlashRead, ReadPastTheTopOfThe24BitSpaceWrapsToAddressZero) {
  load_chip(0xFFFF00, pattern_bytes(256, 3));
  load_chip(0, pattern_bytes(256, 4));
  ProcessResult run = romflash_on_device({"-o", "READ", "0xFFFF00", "0x200", "-w", out()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(wire_summary(trace_of("msg")), (Lines{"READ FFFF00 256", "READ 000000 256"}));
  EXPECT_EQ(read_file(out()), pattern_bytes(256, 3) + pattern_bytes(256, 4));
}

TEST_F(FlashRead, AFailedChunkIsReadAgainAndTheFileStaysExact) {
  std::string content = pattern_bytes(0x300, 5);
  load_chip(0x1000, content);
  ProcessResult run =
      romflash_on_device({"-o", "FREAD", "0x1000", "0x300", "-w", out()}, {"--fail-msgs", "2-4"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\n");
  EXPECT_EQ(wire_summary(trace_of("msg")),
            (Lines{"FREAD 001000 256", "FREAD 001100 256 fail", "FREAD 001100 256 fail",
                   "FREAD 001100 256 fail", "FREAD 001100 256", "FREAD 001200 256"}));
  EXPECT_EQ(read_file(out()), content);
}

TEST_F(FlashRead, FourthFailureInARowEndsTheReadKeepingEarlierChunks) {
  std::string content = pattern_bytes(0x300, 6);
  load_chip(0, content);
  ProcessResult run =
      romflash_on_device({"-o", "READ", "0", "0x300", "-w", out()}, {"--fail-msgs", "2-5"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\nERROR: Input/output error\n"
                     "  Flash Read Protocol Retryout!!\n");
  EXPECT_EQ(read_file(out()), content.substr(0, 256));
}

TEST_F(FlashRead, WholeChipFastReadMatchesTheChipContents) {
  std::string image = dir.file("image.bin");
  write_file(image, pattern_bytes(0x1000000, 9));
  create_chip({"--image", image});
  ProcessResult run = romflash_on_device({"-s", "16000", "-o", "FREAD", "0", "0x1000000", "-w", out()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(read_file(out()) == read_file(image));
  ProcessResult compared = flashsim({"compare", "--state", state(), out()});
  EXPECT_EQ(compared.exitStatus, 0) << compared.out << compared.err;
}

TEST_F(RangeChecksum, SumsOfErasedBytesWrapAt16Bits) {
  struct Case {
    const char* size;
    const char* line;
  } cases[] = {{"256", "FF00\n"}, {"257", "FFFF\n"}, {"258", "00FE\n"}};
  for (const auto& c : cases) {
    ProcessResult run = romflash_on_device({"-o", "CHKSUM", "0", c.size});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, c.line) << c.size;
  }
}

TEST_F(RangeChecksum, ReadsWithFastReadFramingInPiecesOf256) {
  std::string content = pattern_bytes(0x1234, 11);
  load_chip(0x20000, content);
  ProcessResult run = romflash_on_device({"-o", "CHKSUM", "0x20000", "0x1234"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  char expected[8];
  std::snprintf(expected, sizeof expected, "%04X\n", byte_sum(content));
  EXPECT_EQ(run.out, expected);
  Lines summary = wire_summary(trace_of("msg"));
  ASSERT_EQ(summary.size(), 19u);
  EXPECT_EQ(summary.front(), "FREAD 020000 256");
  EXPECT_EQ(summary.back(), "FREAD 021200 52");
  EXPECT_EQ(trace_of("msg")[1], "  seg 5 tx 0B 02 00 00 00");
}

TEST_F(RangeChecksum, OutputFileHoldsTheSameLine) {
  std::string out = dir.file("sum.txt");
  ProcessResult run = romflash_on_device({"-o", "CHKSUM", "0", "0x100", "-w", out});
  EXPECT_EQ(run.out, "FF00\n");
  EXPECT_EQ(read_file(out), "FF00\n");
}

TEST_F(RangeChecksum, RetryOutPrintsTheSumSoFarAndStillSucceeds) {
  ProcessResult first = romflash_on_device({"-o", "CHKSUM", "0", "0x300"}, {"--fail-msgs", "1-4"});
  EXPECT_EQ(first.exitStatus, 0);
  EXPECT_EQ(first.out, "0000\n");
  EXPECT_EQ(first.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                       "ERROR: Input/output error\nERROR: Input/output error\n"
                       "  Get Checksum Protocol Retryout!!\n");

  ProcessResult later = romflash_on_device({"-o", "CHKSUM", "0", "0x300"}, {"--fail-msgs", "2-5"});
  EXPECT_EQ(later.exitStatus, 0);
  EXPECT_EQ(later.out, "FF00\n");
}

}  // namespace
