// WRITE: the covered 64 KiB sectors erased, the image programmed, the result verified.
#include "romflash_on_sim.h"

#include <algorithm>

namespace {

class EraseAndWrite : public RomflashOnSim {
 protected:
  // A chip holding old firmware everywhere: programming without an erase would be wrong.
  void SetUp() override { create_chip({"--fill", "0x00"}); }

  ProcessResult write_image(const std::string& bytes, const std::string& start = "0x000000",
                            const Lines& runOptions = {}) {
    std::string path = dir.file("flash-" + std::to_string(++images) + ".img");
    write_file(path, bytes);
    return romflash_on_device({"-s", "16000", "-o", "WRITE", start, "-f", path}, runOptions);
  }

  long count_in_summary(const std::string& entry) {
    Lines summary = wire_summary(trace_of("msg"));
    return std::count(summary.begin(), summary.end(), entry);
  }

 private:
  int images = 0;
};

std::string header(const char* start, const char* size, int sectors) {
  return std::string("SPI Flash ROM Erase and Write: START ADRESS = ") + start +
         " / File Size = " + size + "\nSector Size = 64KB / Erase " + std::to_string(sectors) +
         "sector\n";
}

std::string sector_line(const char* address) {
  return std::string("\r  Sector Erase ... -> ADDRESS = ") + address;
}

TEST_F(EraseAndWrite, EmptyImageSendsNothing) {
  ProcessResult run = write_image("");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, header("0x000000", "0x000000", 0) + "\nPage Size = 256byte / Write 0page\n\n" +
                         checksum_line(0, 0));
  EXPECT_EQ(trace_of("msg"), Lines{});
  EXPECT_EQ(trace_of("sleep"), Lines{"sleep 2000000000"});
}

TEST_F(EraseAndWrite, OneSectorImageIsErasedProgrammedAndVerified) {
  std::string image = pattern_bytes(0x10000, 21);
  ProcessResult run = write_image(image);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::string expectedStart = header("0x000000", "0x010000", 1) + sector_line("0x000000") +
                              "\nPage Size = 256byte / Write 256page\n";
  EXPECT_EQ(run.out.substr(0, expectedStart.size()), expectedStart);
  std::string tail = "\r  Page Write ... -> PROGRESS = 100%\n" +
                     checksum_line(byte_sum(image), byte_sum(image));
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  Lines summary = wire_summary(trace_of("msg"));
  EXPECT_EQ(Lines(summary.begin(), summary.begin() + 8),
            (Lines{"WREN", "RDSR 02", "SE 000000", "RDSR 00", "WREN", "RDSR 02", "PP 000000",
                   "RDSR 00"}));
  EXPECT_EQ(count_in_summary("SE 000000"), 1);
  EXPECT_EQ(chip_bytes(0, 0x10000), image);
  EXPECT_EQ(chip_bytes(0x10000, 16), std::string(16, '\0'));
}

TEST_F(EraseAndWrite, OneByteMoreNeedsASecondSectorAndAFilledPage) {
  std::string image = pattern_bytes(0x10001, 22);
  ProcessResult run = write_image(image);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  std::string expectedStart = header("0x000000", "0x010001", 2) + sector_line("0x000000") +
                              sector_line("0x010000") + "\nPage Size = 256byte / Write 257page\n";
  EXPECT_EQ(run.out.substr(0, expectedStart.size()), expectedStart);
  EXPECT_EQ(count_in_summary("PP 010000"), 1);
  EXPECT_EQ(chip_bytes(0, 0x10100), image + std::string(255, '\xFF'));
}

TEST_F(EraseAndWrite, StartAddressInsideASectorIsNotRoundedDown) {
  create_chip({});
  std::string image = pattern_bytes(0x10000, 23);
  ProcessResult run = write_image(image, "0x8000");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, header("0x008000", "0x010000", 1).size()),
            header("0x008000", "0x010000", 1));
  Lines summary = wire_summary(trace_of("msg"));
  Lines erases;
  std::copy_if(summary.begin(), summary.end(), std::back_inserter(erases),
               [](const std::string& entry) { return entry.rfind("SE", 0) == 0; });
  EXPECT_EQ(erases, Lines{"SE 008000"});
  EXPECT_EQ(count_in_summary("PP 008000"), 1);
  EXPECT_EQ(count_in_summary("PP 008100"), 1);
  EXPECT_EQ(count_in_summary("PP 017F00"), 1);
  EXPECT_EQ(chip_bytes(0x8000, 0x10000), image);
}

TEST_F(EraseAndWrite, ErasedByteImageSendsOnlyErasesAndTheReadBack) {
  std::string image(0x20000, '\xFF');
  ProcessResult run = write_image(image);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  Lines summary = wire_summary(trace_of("msg"));
  Lines expected{"WREN", "RDSR 02", "SE 000000", "RDSR 00", "WREN", "RDSR 02", "SE 010000", "RDSR 00"};
  for (uint32_t address = 0; address < 0x20000; address += 256) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "FREAD %06X 256", address);
    expected.push_back(entry);
  }
  EXPECT_EQ(summary, expected);
  EXPECT_NE(run.out.find("\r  Page Write ... -> PROGRESS = 100%\n"), std::string::npos);
  EXPECT_NE(run.out.find(checksum_line(0, 0)), std::string::npos);
  EXPECT_EQ(chip_bytes(0, 0x20000), image);
}

TEST_F(EraseAndWrite, AFailedEraseTransferIsRetriedBeforeItsLineIsPrinted) {
  std::string image = pattern_bytes(0x100, 24);
  ProcessResult run = write_image(image, "0", {"--fail-opcode", "0xD8:1"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "ERROR: Input/output error\n");
  std::string once = header("0x000000", "0x000100", 1) + sector_line("0x000000") + "\n";
  EXPECT_EQ(run.out.substr(0, once.size()), once);
  EXPECT_EQ(chip_bytes(0, 0x200), image + std::string(0x100, '\xFF'));
}

TEST_F(EraseAndWrite, AnEraseWhoseWaitFailsIsSentAgainAndShownAgain) {
  std::string image = pattern_bytes(0x100, 25);
  // Messages 1-3 are the write enable, the latch read and the erase: fail the
  // next four status reads.
  ProcessResult run = write_image(image, "0", {"--fail-msgs", "4-7"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                         "ERROR: Input/output error\nERROR: Input/output error\n"
                         "  Page Write Protocol Retryout!!\n");
  std::string twice = sector_line("0x000000") + sector_line("0x000000") + "\n";
  EXPECT_NE(run.out.find(twice), std::string::npos) << run.out;
  EXPECT_EQ(count_in_summary("SE 000000"), 2);
  EXPECT_EQ(chip_bytes(0, 0x100), image);
}

TEST_F(EraseAndWrite, AFailedPageTransferIsRetriedAndTheChipIsExact) {
  std::string image = pattern_bytes(0x300, 26);
  ProcessResult run = write_image(image, "0", {"--fail-opcode", "0x02:3"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(count_in_summary("PP 000000 fail"), 3);
  EXPECT_EQ(count_in_summary("PP 000000"), 1);
  EXPECT_EQ(chip_bytes(0, 0x300), image);
}

TEST_F(EraseAndWrite, FourthFailureAtOnePageEndsTheRunWithoutVerification) {
  ProcessResult run = write_image(pattern_bytes(0x300, 27), "0", {"--fail-opcode", "0x02"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Input/output error\nERROR: Input/output error\n"
                     "ERROR: Input/output error\nERROR: Input/output error\n"
                     "  Page Write Protocol retryout!!\n");
  std::string tail = "\nPage Size = 256byte / Write 3page\n\n";
  ASSERT_GE(run.out.size(), tail.size());
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  EXPECT_EQ(count_in_summary("FREAD 000000 256"), 0);
}

TEST_F(EraseAndWrite, EraseThatNeverEndsGivesUpAfterFourAttempts) {
  ProcessResult run = write_image(pattern_bytes(0x100, 28), "0", {"--wip-stuck"});
  EXPECT_EQ(run.exitStatus, 11);
  std::string timeout = "\n  ERROR: Check RDSR TIME OUT:4000 msec)\n";
  EXPECT_EQ(run.err, timeout + timeout + timeout + timeout + "  Sector Erase Protocol retryout!!\n");
  EXPECT_EQ(run.out, header("0x000000", "0x000100", 1) + sector_line("0x000000") +
                         sector_line("0x000000") + sector_line("0x000000") +
                         sector_line("0x000000") + "\n");
  EXPECT_EQ(count_in_summary("PP 000000"), 0);
}

TEST_F(EraseAndWrite, ProtectedSectorsLeaveTheOldContentsAndFailTheChecksum) {
  create_chip({"--fill", "0x00", "--set", "status=0x1C"});
  std::string image = pattern_bytes(0x1000, 29);
  ProcessResult run = write_image(image);
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_NE(run.out.find(checksum_line(byte_sum(image), 0)), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "  Check SUM Error!!!\n");
  EXPECT_EQ(chip_bytes(0, 0x1000), std::string(0x1000, '\0'));
}

TEST_F(EraseAndWrite, ARunCutByPowerLossIsRecoveredByWritingAgain) {
  std::string image = pattern_bytes(0x20000, 30);
  ProcessResult cut = write_image(image, "0", {"--power-cut", "200"});
  EXPECT_EQ(cut.exitStatus, 128 + 9);
  EXPECT_NE(chip_bytes(0, 0x20000), image);

  ProcessResult again = write_image(image);
  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_EQ(chip_bytes(0, 0x20000), image);
}

}  // namespace

namespace {

using UnsupportedImage = RomflashOnSim;

TEST_F(UnsupportedImage, ADirectoryIsRefusedBeforeAnythingIsErased) {
  ProcessResult run = romflash_on_device({"-o", "WRITE", "0", "-f", dir.path});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: cannot take the size of the image file: Is a directory\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(trace_of("msg"), Lines{});
}

}  // namespace
