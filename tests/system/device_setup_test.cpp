// The spidev set-up requests and the values the device receives.
#include "romflash_on_sim.h"

namespace {

using DeviceSetup = RomflashOnSim;

std::string first_request_value(const Lines& requests, const std::string& name) {
  for (const auto& line : requests) {
    Lines words = split_words(line);
    if (words.size() >= 3 && words[1] == name) return words[2];
  }
  return "(none)";
}

TEST_F(DeviceSetup, DefaultsAreMode3EightBitsAnd500kHz) {
  ProcessResult run = romflash_on_device({"-o", "WREN"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  Lines expected{"open " + device};
  Lines setup = setup_lines("0x03", "8", "500000");
  expected.insert(expected.end(), setup.begin(), setup.end());
  expected.insert(expected.end(), {"msg 2 ok", "  seg 1 tx 06", "  seg 0", "close"});
  EXPECT_EQ(trace(), expected);
}

TEST_F(DeviceSetup, ModeLettersReplaceTheDefaultBits) {
  struct Case {
    const char* letters;
    const char* mode;
  } cases[] = {{"OH", "0x03"}, {"HHO", "0x03"}, {"xyz", "0x00"}, {"3", "0x10"},
               {"lL", "0x28"}, {"C", "0x04"},   {"HOCL3l", "0x3F"}};
  for (const auto& c : cases) {
    romflash_on_device({"-m", c.letters, "-o", "WREN"});
    EXPECT_EQ(first_request_value(trace_of("ioctl"), "WR_MODE"), c.mode) << c.letters;
  }
}

TEST_F(DeviceSetup, WordSizeIsDecimalAndZeroSendsNoWordSizeRequest) {
  romflash_on_device({"-b", "010", "-o", "WREN"});
  EXPECT_EQ(first_request_value(trace_of("ioctl"), "WR_BITS_PER_WORD"), "10");

  ProcessResult none = romflash_on_device({"-b", "0", "-o", "WREN"});
  EXPECT_EQ(none.exitStatus, 0) << none.err;
  EXPECT_EQ(trace_of("ioctl"), (Lines{"ioctl WR_MODE 0x03 ok", "ioctl RD_MODE 0x03 ok",
                                      "ioctl WR_MAX_SPEED_HZ 500000 ok",
                                      "ioctl RD_MAX_SPEED_HZ 500000 ok"}));
}

TEST_F(DeviceSetup, ClockIsInKilohertzWithHexAndOctalNumbers) {
  struct Case {
    const char* kHz;
    const char* hz;
  } cases[] = {{"16000", "16000000"}, {"010", "8000"}, {"0x10", "16000"}};
  for (const auto& c : cases) {
    ProcessResult run = romflash_on_device({"-s", c.kHz, "-o", "WREN"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(first_request_value(trace_of("ioctl"), "WR_MAX_SPEED_HZ"), c.hz) << c.kHz;
    EXPECT_EQ(first_request_value(trace_of("ioctl"), "RD_MAX_SPEED_HZ"), c.hz) << c.kHz;
  }
}

TEST_F(DeviceSetup, AWordSizeTheControllerCannotDoFailsTheSetUp) {
  ProcessResult run = romflash_on_device({"-b", "010", "-o", "WREN"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: can't set bits per wordERROR: Initialize SPI device fail.\n");
  EXPECT_EQ(trace_of("msg"), Lines{});
  EXPECT_EQ(trace_of("close"), Lines{"close"});
}

TEST_F(DeviceSetup, EachFailingRequestNamesItselfOnTheFailureLine) {
  struct Case {
    const char* request;
    const char* message;
  } cases[] = {{"WR_MODE", "ERROR: can't set spi mode"},
               {"RD_MODE", "ERROR: can't get spi mode"},
               {"WR_BITS_PER_WORD", "ERROR: can't set bits per word"},
               {"RD_BITS_PER_WORD", "ERROR: can't get bits per word"},
               {"WR_MAX_SPEED_HZ", "ERROR: can't set max speed hz"},
               {"RD_MAX_SPEED_HZ", "ERROR: can't get max speed hz"}};
  for (const auto& c : cases) {
    ProcessResult run = romflash_on_device({"-o", "WREN"}, {"--fail-setup", c.request});
    EXPECT_EQ(run.exitStatus, 11) << c.request;
    EXPECT_EQ(run.err, std::string(c.message) + "ERROR: Initialize SPI device fail.\n")
        << c.request;
    EXPECT_EQ(trace_of("msg"), Lines{}) << c.request;
    EXPECT_EQ(trace_of("close"), Lines{"close"}) << c.request;
  }
}

TEST_F(DeviceSetup, DeviceThatCannotBeOpenedIsReportedWithItsPath) {
  std::string absent = dir.file("spi9");
  ProcessResult run = romflash({"-d", absent, "-o", "WREN"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: No such file or directory, " + absent +
                         "\nERROR: Initialize SPI device fail.\n");
}

TEST_F(DeviceSetup, AFailingTransferPrintsTheSystemErrorAndFails) {
  ProcessResult run = romflash_on_device({"-o", "WREN"}, {"--fail-msg", "1", "--errno", "EIO"});
  EXPECT_EQ(run.exitStatus, 11);
  EXPECT_EQ(run.err, "ERROR: Input/output error\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(trace_of("msg"), (Lines{"msg 2 fail EIO", "  seg 1 tx 06", "  seg 0"}));
}

}  // namespace
