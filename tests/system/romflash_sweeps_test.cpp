// SPDX-License-Identifier: MIT
// Fault sweeps: one programming run with a fault at every message index in turn
// (every Nth under the sanitizers and an emulator). Whatever fails, the result is status 0
// with exactly the expected chip, or a clean refusal. The long sweeps run as SLICES tests
// of their own, slice k taking every SLICES-th index from the k-th on, so that each test
// stays short on a busy machine and the scheduler can spread them. Each prints one line:
//   sweep NAME[, slice K of SLICES]: M messages, T tried, S survived, R refused
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "sim_run.h"

namespace {

namespace fs = std::filesystem;

// A small chip whose program and erase end before the first status read.
class Sweep : public ::testing::Test {
 public:
  SimChip chip;
  Lines args;
  std::string expected;  // the chip's contents after the run
  std::string cleanOut;  // standard output of the run without faults
  int slice = 0, slices = 1;

  void prepare(const std::string& contents, const Lines& words) {
    write_file(chip.dir.file("template.bin"), contents);
    ASSERT_TRUE(chip.create({"--profile", "small", "--set", "page_program_ns=10000", "--set",
                             "erase64k_ns=10000", "--image", chip.dir.file("template.bin")}));
    fs::copy(chip.state, chip.dir.file("template"), fs::copy_options::recursive);
    args = Lines{sim_binaries().romflash, "-d", "/dev/spi0", "-s", "16000"} + words;
  }
  // WRITE over a chip of other data: 0x10040 bytes from inside the first 64 KiB sector to
  // inside a page of the second, only four pages not blank; both sectors end up erased.
  void prepare_write(unsigned seed) {
    std::string image(0x10040, '\xFF'), other = pattern_bytes(0x100000, seed);
    for (uint32_t page : {0x0u, 0x7F00u, 0x8000u, 0x10000u})
      image.replace(page, 0x100, pattern_bytes(0x100, page));
    image.resize(0x10040);
    write_file(chip.dir.file("image"), image);
    prepare(other, {"-o", "WRITE", "0x8000", "-f", chip.dir.file("image")});
    expected =
        other.replace(0, 0x20000, std::string(0x20000, '\xFF')).replace(0x8000, 0x10040, image);
  }
  ProcessResult run(const Lines& faults) {
    fs::copy(chip.dir.file("template"), chip.state,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    return chip.run(args, faults);
  }
  bool result_is_expected() { return read_file(chip.state + "/contents.bin") == expected; }

  // The verdicts on a run with faults: 1 survived, 2 refused cleanly, 0 a failure of the test.
  // One failed message is retried unseen: only its error line tells it happened.
  int survived_one_failure(const ProcessResult& r) {
    return r.exitStatus == 0 && r.out == cleanOut && r.err == "ERROR: Input/output error\n" &&
           result_is_expected();
  }
  int survived_or_refused(const ProcessResult& r) {
    static const std::regex lastLine(
        "(^|\n)  (Sector Erase Protocol retryout!!|Page Write Protocol [Rr]etryout!!|"
        "Check SUM Error!!!)\n$");
    bool refused = r.exitStatus == 11 && std::regex_search(r.err, lastLine);
    return r.exitStatus == 0 && result_is_expected() ? 1 : refused ? 2 : 0;
  }
  int restored_by_running_again(const ProcessResult& cut) {
    return cut.exitStatus == 128 + 9 && chip.run(args).exitStatus == 0 && result_is_expected();
  }

  // A clean run, then one with `option N` (with span, `option N-N+span`) at every step-th
  // index N of its messages, each judged by the verdict. Returns the refusals.
  int sweep(const char* name, const char* option, int step, int span,
            int (Sweep::*verdict)(const ProcessResult&)) {
    ProcessResult clean = run({});
    EXPECT_TRUE(clean.exitStatus == 0 && result_is_expected()) << clean.err;
    cleanOut = clean.out;
    int count = 0, tried = 0, outcomes[3] = {};
    for (const auto& line : split(read_file(chip.trace), '\n'))
      count += line.compare(0, 4, "msg ") == 0;
    step *=
        std::atoi(env_or("ROMFLASH_SWEEP_STRIDE", std::to_string(ROMFLASH_SWEEP_STRIDE)).c_str());
    for (int n = 1 + slice * step; n <= count; n += step * slices, ++tried) {
      std::string at = std::to_string(n) + (span ? "-" + std::to_string(n + span) : "");
      // Said before the run, so that a test stopped mid-sweep shows where it was.
      std::printf("trying %s %s\n", option, at.c_str()), std::fflush(stdout);
      ProcessResult faulty = run({option, at});
      int outcome = (this->*verdict)(faulty);
      EXPECT_NE(outcome, 0) << name << " at " << at << ": status " << faulty.exitStatus << "\n"
                            << faulty.err;
      ++outcomes[outcome];
    }
    std::printf(
        "sweep %s%s: %d messages, %d tried, %d survived, %d refused\n", name,
        slices > 1
            ? (", slice " + std::to_string(slice + 1) + " of " + std::to_string(slices)).c_str()
            : "",
        count, tried, outcomes[1], outcomes[2]);
    EXPECT_GT(tried, 0);
    return outcomes[2];
  }
};

constexpr int SLICES = 4;
class SlicedSweep : public Sweep, public ::testing::WithParamInterface<int> {
 public:
  void SetUp() override { slice = GetParam(), slices = SLICES; }
};
INSTANTIATE_TEST_SUITE_P(Slice, SlicedSweep, ::testing::Range(0, SLICES));

TEST_P(SlicedSweep, WriteSurvivesOneFailedMessageAnywhere) {
  prepare_write(77);
  sweep("WRITE one failed message", "--fail-msg", 1, 0, &Sweep::survived_one_failure);
}

TEST_P(SlicedSweep, PageProgramSurvivesOneFailedMessageAnywhere) {
  std::string image = pattern_bytes(0x1040, 5), erased = pattern_bytes(0x100000, 78);
  erased.replace(0xF800, image.size(), std::string(image.size(), '\xFF'));
  write_file(chip.dir.file("image"), image);
  prepare(erased, {"-o", "PP", "0xF800", "-f", chip.dir.file("image")});
  expected = erased.replace(0xF800, image.size(), image);
  sweep("PP one failed message", "--fail-msg", 1, 0, &Sweep::survived_one_failure);
}

// Four failures in a row end an erase, a page or a status wait, or cut the checksum short.
TEST_F(Sweep, WriteWithFourFailuresInARowNeverReportsSuccessWithAWrongChip) {
  prepare_write(79);
  EXPECT_GT(sweep("WRITE four failed messages in a row", "--fail-msgs", 7, 3,
                  &Sweep::survived_or_refused),
            0);
}

// Power lost after message N; the same WRITE run again restores everything.
TEST_P(SlicedSweep, WriteAgainAfterAPowerCutAnywhere) {
  prepare_write(80);
  sweep("WRITE again after a power cut", "--power-cut", 5, 0, &Sweep::restored_by_running_again);
}

}  // namespace
