// PP: an image programmed page by page into erased flash, then verified by checksum.
#include "romflash_on_sim.h"

#include <algorithm>

namespace {

class PageProgram : public RomflashOnSim {
 protected:
  std::string image(const std::string& bytes) {
    std::string path = dir.file("image-" + std::to_string(++images) + ".bin");
    write_file(path, bytes);
    return path;
  }
  ProcessResult program(const std::string& bytes, const std::string& start = "0",
                        const Lines& runOptions = {}) {
    return romflash_on_device({"-s", "16000", "-o", "PP", start, "-f", image(bytes)}, runOptions);
  }

 private:
  int images = 0;
};

std::string progress(const std::vector<int>& percents) {
  std::string text;
  for (int percent : percents) text += "\r  Page Write ... -> PROGRESS = " + std::to_string(percent) + "%";
  return text;
}

TEST_F(PageProgram, EmptyImageSendsNothingButStillPausesAndCompares) {
  ProcessResult run = program("");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "Page Size = 256byte / Write 0page\n\n" + checksum_line(0, 0));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(trace_of("msg"), Lines{});
  EXPECT_EQ(trace_of("sleep"), Lines{"sleep 2000000000"});
}

TEST_F(PageProgram, OneByteIsOnePageFilledWithErasedBytes) {
  ProcessResult run = program("\x5A");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "Page Size = 256byte / Write 1page\n" + progress({100}) + "\n" +
                         checksum_line(0x5A, 0x5A));
  EXPECT_EQ(wire_summary(trace_of("msg")),
            (Lines{"WREN", "RDSR 02", "PP 000000", "RDSR 00", "FREAD 000000 1"}));
  Lines messages = trace_of("msg");
  ASSERT_GE(messages.size(), 8u);
  EXPECT_EQ(messages[7], "  seg 260 tx " + hex_bytes(std::string("\x02\x00\x00\x00\x5A", 5) + std::string(255, '\xFF')));
  EXPECT_EQ(chip_bytes(0, 2), "\x5A\xFF");
}

TEST_F(PageProgram, PageCountsRoundUpAndTheLastPageIsFilled) {
  std::string exact = pattern_bytes(256, 2);
  ProcessResult one = program(exact);
  EXPECT_EQ(one.exitStatus, 0) << one.err;
  EXPECT_EQ(one.out.substr(0, 34), "Page Size = 256byte / Write 1page\n");
  EXPECT_EQ(chip_bytes(0, 257), exact + "\xFF");

  std::string longer = pattern_bytes(257, 3);
  ProcessResult two = program(longer, "0x1000");
  EXPECT_EQ(two.exitStatus, 0) << two.err;
  EXPECT_EQ(two.out, "Page Size = 256byte / Write 2page\n" + progress({99, 100}) + "\n" +
                         checksum_line(byte_sum(longer), byte_sum(longer)));
  EXPECT_EQ(wire_summary(trace_of("msg")),
            (Lines{"WREN", "RDSR 02", "PP 001000", "RDSR 00", "WREN", "RDSR 02", "PP 001100",
                   "RDSR 00", "FREAD 001000 256", "FREAD 001100 1"}));
  EXPECT_EQ(chip_bytes(0x1000, 0x200), longer + std::string(255, '\xFF'));
}

TEST_F(PageProgram, ProgressIsPrintedWhenTheWholePercentGrows) {
  ProcessResult three = program(pattern_bytes(768), "0x100000");
  EXPECT_EQ(three.exitStatus, 0) << three.err;
  EXPECT_NE(three.out.find("\n" + progress({33, 66, 100}) + "\n"), std::string::npos) << three.out;

  // 256 * 100 / 100000 truncates to 0: the first page still shows it.
  std::string big = pattern_bytes(100000, 4);
  ProcessResult many = program(big);
  EXPECT_EQ(many.exitStatus, 0) << many.err;
  std::vector<int> everyPercent(101);
  for (int i = 0; i <= 100; ++i) everyPercent[i] = i;
  EXPECT_EQ(many.out, "Page Size = 256byte / Write 391page\n" + progress(everyPercent) + "\n" +
                          checksum_line(byte_sum(big), byte_sum(big)));
  EXPECT_EQ(chip_bytes(0, 100000), big);
}

TEST_F(PageProgram, ErasedBytePagesGetTheirWaitsButNoProgramCommand) {
  std::string image = std::string(256, '\xFF') + pattern_bytes(256, 5);
  ProcessResult run = program(image);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  Lines summary = wire_summary(trace_of("msg"));
  // The blank page: write enable, the latch wait and the end-of-write wait.
  EXPECT_EQ(summary, (Lines{"WREN", "RDSR 02", "WREN", "RDSR 02", "PP 000100", "RDSR 00",
                            "FREAD 000000 256", "FREAD 000100 256"}));
  long statusReadsBeforeSecondWren = 0;
  for (const auto& line : trace()) {
    if (line == "  seg 1 tx 05") ++statusReadsBeforeSecondWren;
    if (line == "  seg 1 tx 06" && statusReadsBeforeSecondWren > 0) break;
  }
  EXPECT_EQ(statusReadsBeforeSecondWren, 2);
}

TEST_F(PageProgram, UnalignedStartAddressIsUsedUnchangedAndTheChecksumCatchesThePageWrap) {
  std::string image = pattern_bytes(512, 6);
  ProcessResult run = program(image, "0x80");
  Lines summary = wire_summary(trace_of("msg"));
  EXPECT_EQ(std::count(summary.begin(), summary.end(), "PP 000080"), 1);
  EXPECT_EQ(std::count(summary.begin(), summary.end(), "PP 000180"), 1);
  // The chip wraps each program within its 256-byte page: the second half of
  // every page lands at the start of the same flash page.
  EXPECT_EQ(chip_bytes(0x00, 0x80), image.substr(0x80, 0x80));
  EXPECT_EQ(chip_bytes(0x80, 0x80), image.substr(0, 0x80));
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "  Check SUM Error!!!\n");
}

TEST_F(PageProgram, ImageLargerThanTheReadAheadIsSummedWhole) {
  std::string image = pattern_bytes(0x100001, 8);
  ProcessResult run = program(image);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, 37), "Page Size = 256byte / Write 4097page\n");
  std::string tail = checksum_line(byte_sum(image), byte_sum(image));
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  EXPECT_EQ(chip_bytes(0, 0x100001), image);
}

TEST_F(PageProgram, AFailedPageTransferIsRetriedFromWriteEnable) {
  std::string image = pattern_bytes(512, 9);
  ProcessResult run = program(image, "0", {"--fail-opcode", "0x02:1"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "ERROR: Input/output error\n");
  EXPECT_EQ(wire_summary(trace_of("msg")),
            (Lines{"WREN", "RDSR 02", "PP 000000 fail", "WREN", "RDSR 02", "PP 000000", "RDSR 00",
                   "WREN", "RDSR 02", "PP 000100", "RDSR 00", "FREAD 000000 256",
                   "FREAD 000100 256"}));
  EXPECT_EQ(chip_bytes(0, 512), image);
}

TEST_F(PageProgram, LatchThatNeverSetsEndsTheRunAfterFourAttempts) {
  ProcessResult run = program(pattern_bytes(300), "0", {"--wel-stuck"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.out, "Page Size = 256byte / Write 2page\n\n");
  std::string timeout = "\n  ERROR: Check RDSR TIME OUT:300 msec)\n";
  EXPECT_EQ(run.err, timeout + timeout + timeout + timeout + "  Page Write Protocol retryout!!\n");
  Lines summary = wire_summary(trace_of("msg"));
  EXPECT_EQ(summary, (Lines{"WREN", "RDSR 00", "WREN", "RDSR 00", "WREN", "RDSR 00", "WREN",
                            "RDSR 00"}));
  EXPECT_EQ(chip_bytes(0, 16), std::string(16, '\xFF'));
}

TEST_F(PageProgram, WritesDroppedByBlockProtectionFailTheChecksum) {
  create_chip({"--set", "status=0x1C"});
  std::string image = pattern_bytes(256, 10);
  ProcessResult run = program(image);
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_NE(run.out.find(checksum_line(byte_sum(image), 0xFF00)), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "  Check SUM Error!!!\n");
  EXPECT_EQ(chip_bytes(0, 256), std::string(256, '\xFF'));
}

}  // namespace
