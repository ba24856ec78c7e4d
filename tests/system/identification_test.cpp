// RDID, READ_ID, RES and DP: who the chip says it is, and sending it to sleep.
#include "romflash_on_sim.h"

namespace {

class Identification : public RomflashOnSim {
 protected:
  // A chip answering RDID with 01 20 18, then n extended bytes 0x11, 0x12, ...
  void chip_with_extended_id(int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += (bytes.empty() ? "" : " ") + hex_bytes(std::string(1, char(0x11 + i)));
    create_chip({"--profile", "default", "--set", "jedec=01 20 18", "--set", "ext=" + bytes});
  }
};

TEST_F(Identification, RdidWithoutExtendedBytesPrintsTheIdsAndAnEmptyLine) {
  chip_with_extended_id(0);
  ProcessResult run = romflash_on_device({"-o", "RDID"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx 9F", "  seg 4 rx 01 20 18 00"}));
}

TEST_F(Identification, RdidWithTwelveExtendedBytesDumpsOneLine) {
  chip_with_extended_id(12);
  ProcessResult run = romflash_on_device({"-o", "RDID"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out,
            "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n"
            "\n  0x00000000: 01 20 18 0C 11 12 13 14 15 16 17 18 19 1A 1B 1C\n");
  EXPECT_EQ(trace_of("msg"),
            (Lines{"msg 2 ok", "  seg 1 tx 9F", "  seg 4 rx 01 20 18 0C", "msg 2 ok",
                   "  seg 1 tx 9F",
                   "  seg 16 rx 01 20 18 0C 11 12 13 14 15 16 17 18 19 1A 1B 1C"}));
}

TEST_F(Identification, RdidWithThirteenExtendedBytesStartsASecondLineAtOffset16) {
  chip_with_extended_id(13);
  ProcessResult run = romflash_on_device({"-o", "RDID"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out,
            "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n"
            "\n  0x00000000: 01 20 18 0D 11 12 13 14 15 16 17 18 19 1A 1B 1C"
            "\n  0x00000010: 1D\n");
}

TEST_F(Identification, RdidOfTheDemoChipDumpsEveryAnnouncedByte) {
  ProcessResult run = romflash_on_device({"-o", "RDID"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  Lines lines = split_lines(run.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "MANUF_ID: 0x01");
  EXPECT_EQ(lines[2], "");
  // Every dump line but the last holds 16 bytes at offsets 0, 16, 32, ...
  Lines seg = trace_of("msg");
  ASSERT_EQ(seg.size(), 6u);
  size_t total = std::stoul(split_words(seg[5])[1]);
  EXPECT_EQ(lines.size(), 3 + (total + 15) / 16);
  for (size_t i = 3; i < lines.size(); ++i) {
    char header[16];
    std::snprintf(header, sizeof header, "  0x%08zX:", (i - 3) * 16);
    EXPECT_EQ(lines[i].rfind(header, 0), 0u) << lines[i];
  }
}

TEST_F(Identification, RdidWhoseSecondExchangeFailsKeepsTheIdLines) {
  chip_with_extended_id(12);
  ProcessResult run = romflash_on_device({"-o", "RDID"}, {"--fail-msgs", "2-4"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.out, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n");
  EXPECT_EQ(run.err,
            "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n"
            "  Read Manufacture ID Protocol Retryout!!\n");
}

TEST_F(Identification, ReadIdSendsThreeDummyBytesAndPrintsTwoIds) {
  ProcessResult run = romflash_on_device({"-o", "READ_ID"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "MANUF_ID: 0x01\nDEVICE_ID: 0x17\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 4 tx 90 00 00 00", "  seg 2 rx 01 17"}));
}

TEST_F(Identification, ResReadsTheElectronicSignature) {
  ProcessResult run = romflash_on_device({"-o", "RES"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "RELESE_DP: EL-SIG: 0x17\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 4 tx AB 00 00 00", "  seg 1 rx 17"}));
}

TEST_F(Identification, DeepPowerDownSilencesTheChipUntilRes) {
  ProcessResult down = romflash_on_device({"-o", "DP"});
  EXPECT_EQ(down.exitStatus, 0) << down.err;
  EXPECT_EQ(down.out, "DEEP_POWER-DOWN: ..........\n");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 ok", "  seg 1 tx B9", "  seg 0"}));

  ProcessResult asleep = romflash_on_device({"-o", "READ_ID"});
  EXPECT_EQ(asleep.out, "MANUF_ID: 0xFF\nDEVICE_ID: 0xFF\n");

  EXPECT_EQ(romflash_on_device({"-o", "RES"}).out, "RELESE_DP: EL-SIG: 0x17\n");
  EXPECT_EQ(romflash_on_device({"-o", "READ_ID"}).out, "MANUF_ID: 0x01\nDEVICE_ID: 0x17\n");
}

TEST_F(Identification, DeepPowerDownPrintsItsLineEvenWhenTheTransferFails) {
  ProcessResult run = romflash_on_device({"-o", "DP"}, {"--fail-msg", "1"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.out, "DEEP_POWER-DOWN: ..........\n");
  EXPECT_EQ(run.err, "ERROR: Input/output error\n");
  EXPECT_EQ(trace_of("msg").size(), 3u);
}

TEST_F(Identification, AnAbsentChipReadsAsAllOnesOrAllZeros) {
  ProcessResult ones = romflash_on_device({"-o", "READ_ID"}, {"--absent", "ff"});
  EXPECT_EQ(ones.out, "MANUF_ID: 0xFF\nDEVICE_ID: 0xFF\n");
  ProcessResult zeros = romflash_on_device({"-o", "RDID"}, {"--absent", "00"});
  EXPECT_EQ(zeros.out, "MANUF_ID: 0x00\nDEVICE_ID: 0x0000\n\n");
}

}  // namespace
