// Shared set-up of the simulator's system tests: a chip in a fresh state
// directory, and the small spidev client (or another program) run on it
// through `flashsim run`, with a trace of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"
#include "sim_run.h"

using Lines = std::vector<std::string>;

// The spidev_client built beside this test executable.
std::string spidev_client_path();

class SimChip : public ::testing::Test {
 protected:
  TempDir dir;

  void SetUp() override { create_chip({}); }

  std::string state() const { return dir.file("chip"); }

  void create_chip(const Lines& options);

  // spidev_client /dev/spi0 STEPS... under `flashsim run [runOptions]`.
  ProcessResult client(const Lines& steps, const Lines& runOptions = {});

  // Any command under `flashsim run --trace ... [runOptions]`.
  ProcessResult run(const Lines& command, const Lines& runOptions = {});

  Lines trace() const { return split_lines(read_file(lastTrace)); }
  std::string chip_bytes(uint32_t offset, uint32_t length);
  std::string regs();  // `flashsim regs`
  // One line of `flashsim summary` ("messages: 3"), from the given section.
  std::string summary_line(const std::string& section, const std::string& key);

  std::string lastTrace;

 private:
  int runs = 0;
};

// Standard output as lines.
inline Lines out_lines(const ProcessResult& result) { return split_lines(result.out); }

// Seconds as `flashsim summary` prints them ("0.001000000 s").
std::string summary_seconds(uint64_t ns);
