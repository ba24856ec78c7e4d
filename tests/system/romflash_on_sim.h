// Shared set-up of the system tests: a fresh simulated chip per test, the real
// romflash binary run on it as a separate process, and its trace read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"
#include "sim_run.h"

using Lines = std::vector<std::string>;

class RomflashOnSim : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string device = "/dev/spi0";

  void SetUp() override { create_chip({}); }

  std::string state() const { return dir.file("chip"); }

  // `flashsim create` with these options (profile, fill, --set ...).
  void create_chip(const Lines& options) {
    Lines args{"create", "--state", state()};
    args.insert(args.end(), options.begin(), options.end());
    ProcessResult created = flashsim(args);
    ASSERT_EQ(created.exitStatus, 0) << created.err;
  }

  // romflash ARGS on the chip, with a trace of its own.
  ProcessResult romflash(const Lines& args, const Lines& runOptions = {},
                         const Lines& extraEnv = {}) {
    lastTrace = dir.file("trace-" + std::to_string(++runs));
    Lines options{"--trace", lastTrace};
    options.insert(options.end(), runOptions.begin(), runOptions.end());
    return run_romflash(state(), options, args, extraEnv);
  }

  // romflash -d DEVICE ARGS...
  ProcessResult romflash_on_device(const Lines& args, const Lines& runOptions = {}) {
    Lines withDevice{"-d", device};
    withDevice.insert(withDevice.end(), args.begin(), args.end());
    return romflash(withDevice, runOptions);
  }

  Lines trace() const { return split_lines(read_file(lastTrace)); }

  // The trace lines of one kind: "msg" gives the messages with their segments.
  Lines trace_of(const std::string& kind) const {
    Lines picked;
    bool inMessage = false;
    for (const auto& line : trace()) {
      bool segment = line.rfind("  seg", 0) == 0;
      if (segment ? inMessage && kind == "msg" : line.rfind(kind, 0) == 0) picked.push_back(line);
      if (!segment) inMessage = line.rfind("msg", 0) == 0;
    }
    return picked;
  }

  std::string chip_bytes(uint32_t offset, uint32_t length) {
    std::string out = dir.file("dump.bin");
    ProcessResult dumped = flashsim({"dump", "--state", state(), "--offset", std::to_string(offset),
                                     "--length", std::to_string(length), "-o", out});
    EXPECT_EQ(dumped.exitStatus, 0) << dumped.err;
    return read_file(out);
  }

  void load_chip(uint32_t offset, const std::string& bytes) {
    std::string in = dir.file("load.bin");
    write_file(in, bytes);
    ProcessResult loaded =
        flashsim({"load", "--state", state(), "--offset", std::to_string(offset), in});
    ASSERT_EQ(loaded.exitStatus, 0) << loaded.err;
  }

 private:
  std::string lastTrace;
  int runs = 0;
};

// The messages of a trace in short form, one entry each: "WREN", "PP 000100",
// "SE 010000", "FREAD 000000 256", "READ 001000 44"; a run of status reads
// becomes one "RDSR 00" with the last value read. A failed message ends in " fail".
Lines wire_summary(const Lines& messageLines);

// `count` bytes of a repeatable pseudo-random pattern.
std::string pattern_bytes(size_t count, unsigned seed = 1);

// The 16-bit byte sum, computed here independently of the program.
unsigned byte_sum(const std::string& bytes);

// The verification line of PP and WRITE.
std::string checksum_line(unsigned fileSum, unsigned flashSum);

// The usage text, as romflash writes it to standard error.
std::string usage_text(const std::string& programName = "romflash");

// The six set-up requests of a device configured with these values.
Lines setup_lines(const std::string& mode, const std::string& bits, const std::string& speed);
