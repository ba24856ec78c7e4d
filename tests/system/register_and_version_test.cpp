// RDSR, RDCR and VER, and the three attempts every reply read gets.
#include "romflash_on_sim.h"

namespace {

using RegisterRead = RomflashOnSim;
using VersionText = RomflashOnSim;
using ReplyRetries = RomflashOnSim;

TEST_F(RegisterRead, RdsrReadsOneByteAndPrintsTheStatusRegister) {
  create_chip({"--set", "status=0x80", "--set", "config=0x12"});
  ProcessResult run = romflash_on_device({"-o", "RDSR"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "STATUS_REG: 0x80\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 05", "  seg 1 rx 80"}));
}

TEST_F(RegisterRead, RdcrReadsTwoBytesAndPrintsTheSecond) {
  create_chip({"--set", "status=0x80", "--set", "config=0x12"});
  ProcessResult run = romflash_on_device({"-o", "RDCR"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "CONFIG_REG: 0x12\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 35", "  seg 2 rx 12 12"}));
}

TEST_F(RegisterRead, WriteEnableShowsInTheStatusRegister) {
  romflash_on_device({"-o", "WREN"});
  EXPECT_EQ(romflash_on_device({"-o", "RDSR"}).out, "STATUS_REG: 0x02\n");
  romflash_on_device({"-o", "WRDI"});
  EXPECT_EQ(romflash_on_device({"-o", "RDSR"}).out, "STATUS_REG: 0x00\n");
}

TEST_F(RegisterRead, RegisterWritesReachTheChip) {
  romflash_on_device({"-o", "WREN"});
  EXPECT_EQ(romflash_on_device({"-o", "WRR2", "0x0042"}).exitStatus, 0);
  romflash_on_device({"-o", "RDSR_WIP"});
  EXPECT_EQ(romflash_on_device({"-o", "RDCR"}).out, "CONFIG_REG: 0x42\n");
}

TEST_F(VersionText, TextEndsAtTheFirstZeroByte) {
  load_chip(0x1000, std::string("V1.2\0junk", 9));
  ProcessResult run = romflash_on_device({"-o", "VER", "0x1000"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "V1.2\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 5 tx 0B 00 10 00 00",
                                    "  seg 12 rx 56 31 2E 32 00 6A 75 6E 6B FF FF FF"}));
}

TEST_F(VersionText, TextWithoutZeroByteIsAllTwelveBytes) {
  load_chip(0x20, "ROMFLASH-2026-12-06");
  EXPECT_EQ(romflash_on_device({"-o", "VER", "0x20"}).out, "ROMFLASH-202\n");
}

TEST_F(VersionText, LeadingZeroByteGivesAnEmptyLineInBothPlaces) {
  load_chip(0x40, std::string("\0ABC", 4));
  std::string out = dir.file("version.txt");
  ProcessResult run = romflash_on_device({"-o", "VER", "0x40", "-w", out});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "\n");
  EXPECT_EQ(read_file(out), "\n");
}

TEST_F(VersionText, OutputFileReceivesTheSameLine) {
  load_chip(0x1000, std::string("v2.0-rc1\0", 9));
  std::string out = dir.file("version.txt");
  ProcessResult run = romflash_on_device({"-w", out, "-o", "VER", "0x1000"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(read_file(out), "v2.0-rc1\n");
  EXPECT_EQ(run.out, "v2.0-rc1\n");
}

TEST_F(VersionText, SizeShorterThanTheFrameReadsExactlyThatMany) {
  load_chip(0x1000, "ABCDEFGH");
  ProcessResult run = romflash_on_device({"-o", "VER", "0x1000", "2"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "AB\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 5 tx 0B 00 10 00 00", "  seg 2 rx 41 42"}));
}

TEST_F(VersionText, LongerSizeReadsMore) {
  load_chip(0x1000, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(romflash_on_device({"-o", "VER", "0x1000", "0x14"}).out, "ABCDEFGHIJKLMNOPQRST\n");
}

TEST_F(ReplyRetries, EachReadingOperationGivesUpAfterThreeFailures) {
  struct Case {
    Lines args;
    const char* retryOut;
  } cases[] = {
      {{"-o", "RDID"}, "  Read Manufacture ID Protocol Retryout!!\n"},
      {{"-o", "READ_ID"}, "  Read Manufacture ID Protocol Retryout!!\n"},
      {{"-o", "RDSR"}, "  Read Status Register Protocol Retryout!!\n"},
      {{"-o", "RDCR"}, "  Read Status Register Protocol Retryout!!\n"},
      {{"-o", "RES"}, "  Read Electronic Signature Protocol Retryout!!\n"},
      {{"-o", "VER", "0"}, "  Flash Read Version Number Protocol Retryout!!\n"},
  };
  std::string out = dir.file("version.txt");
  for (const auto& c : cases) {
    Lines args = c.args;
    args.insert(args.end(), {"-w", out});
    ProcessResult run = romflash_on_device(args, {"--fail-every", "1", "--errno", "ETIMEDOUT"});
    EXPECT_EQ(run.exitStatus, 11) << c.args[1];
    EXPECT_EQ(run.out, "") << c.args[1];
    EXPECT_EQ(run.err, "ERROR: Connection timed out\nERROR: Connection timed out\n"
                       "ERROR: Connection timed out\n" + std::string(c.retryOut))
        << c.args[1];
    EXPECT_EQ(trace_of("msg").size(), 9u) << c.args[1];
    EXPECT_EQ(read_file(out), "") << c.args[1];
  }
}

TEST_F(ReplyRetries, ThirdAttemptThatSucceedsIsEnough) {
  ProcessResult run = romflash_on_device({"-o", "RES"}, {"--fail-msgs", "1-2"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "RELESE_DP: EL-SIG: 0x17\n");
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n");
}

}  // namespace
