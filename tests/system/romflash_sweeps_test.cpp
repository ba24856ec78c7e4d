// Fault sweeps: the same programming run with a fault at every message index in
// turn (every Nth under the sanitizers and the emulator). Whatever fails, the
// result is status 0 with exactly the expected chip, or a clean refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "sim_run.h"

namespace {

constexpr uint32_t kChipSize = 0x100000;
// WRITE: 0x10040 bytes from inside the first 64 KiB sector to inside a page of
// the second; only the pages that are not blank cost messages. PP: 0x1040
// bytes across the same sector boundary, on flash erased beforehand.
const std::string kWriteImage = [] {
  std::string image(0x10040, '\xFF');
  for (uint32_t page : {0x0u, 0x7F00u, 0x8000u, 0x10000u})
    image.replace(page, 0x100, pattern_bytes(0x100, page));
  return image.substr(0, 0x10040);
}();
const std::string kPageImage = pattern_bytes(0x1040, 5);

int stride() {
  return std::atoi(env_or("ROMFLASH_SWEEP_STRIDE", std::to_string(ROMFLASH_SWEEP_STRIDE)).c_str());
}

class Sweep : public ::testing::Test {
 protected:
  SimChip chip;  // the chip each run works on
  std::string expected;

  // A small chip whose program and erase end before the first status read.
  void prepare(const std::string& contents, const std::string& expectedChip,
               const std::string& image) {
    write_file(chip.dir.file("template.bin"), contents);
    ASSERT_TRUE(chip.create({"--profile", "small", "--set", "page_program_ns=10000", "--set",
                             "erase64k_ns=10000", "--image", chip.dir.file("template.bin")}));
    std::filesystem::copy(chip.state, chip.dir.file("template"),
                          std::filesystem::copy_options::recursive);
    expected = expectedChip;
    write_file(chip.dir.file("image"), image);
  }
  // WRITE over a chip full of other data: both sectors erased, the image laid in.
  Lines prepare_write(unsigned seed) {
    std::string other = pattern_bytes(kChipSize, seed), written = other;
    written.replace(0, 0x20000, std::string(0x20000, '\xFF'))
        .replace(0x8000, kWriteImage.size(), kWriteImage);
    prepare(other, written, kWriteImage);
    return {"-o", "WRITE", "0x8000", "-f", chip.dir.file("image")};
  }
  void reset() {
    std::filesystem::copy(chip.dir.file("template"), chip.state,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
  }
  ProcessResult run(const Lines& args, const Lines& faults) {
    return chip.romflash(Lines{"-d", "/dev/spi0", "-s", "16000"} + args, faults);
  }
  bool chip_is_expected() { return read_file(chip.state + "/contents.bin") == expected; }
  int clean_run_messages(const Lines& args) {
    reset();
    ProcessResult clean = run(args, {});
    EXPECT_EQ(clean.exitStatus, 0) << clean.err;
    EXPECT_TRUE(chip_is_expected());
    return static_cast<int>(chip.trace_lines("msg ").size());
  }
  void report(const char* sweep, int count, int tried, int survived, int refused = 0) {
    std::printf("sweep %s: %d messages, %d indices tried, %d survived, %d refused cleanly\n", sweep,
                count, tried, survived, refused);
    EXPECT_GT(tried, 0);
  }

  // One failed message at every index: the run still succeeds, the chip is exact.
  void one_failure_everywhere(const char* sweep, const Lines& args) {
    int count = clean_run_messages(args), tried = 0, survived = 0;
    for (int n = 1; n <= count; n += stride(), ++tried) {
      reset();
      ProcessResult run_ = run(args, {"--fail-msg", std::to_string(n)});
      bool ok =
          run_.exitStatus == 0 && run_.err == "ERROR: Input/output error\n" && chip_is_expected();
      EXPECT_TRUE(ok) << sweep << " with message " << n << " failed: status " << run_.exitStatus
                      << "\n"
                      << run_.err;
      survived += ok;
    }
    report(sweep, count, tried, survived);
  }
};

TEST_F(Sweep, WriteSurvivesOneFailedMessageAnywhere) {
  one_failure_everywhere("WRITE, one failed message", prepare_write(77));
}

TEST_F(Sweep, PageProgramSurvivesOneFailedMessageAnywhere) {
  std::string erased = pattern_bytes(kChipSize, 78);
  erased.replace(0xF800, kPageImage.size(), std::string(kPageImage.size(), '\xFF'));
  std::string programmed = erased;
  prepare(erased, programmed.replace(0xF800, kPageImage.size(), kPageImage), kPageImage);
  one_failure_everywhere("PP, one failed message",
                         {"-o", "PP", "0xF800", "-f", chip.dir.file("image")});
}

// Four failures in a row end an erase, a page or a status wait, or cut the checksum short.
TEST_F(Sweep, WriteWithFourFailuresInARowNeverReportsSuccessWithAWrongChip) {
  Lines args = prepare_write(79);
  int count = clean_run_messages(args), tried = 0, survived = 0, refused = 0;
  for (int first = 1; first + 3 <= count; first += 7 * stride(), ++tried) {
    reset();
    ProcessResult run_ =
        run(args, {"--fail-msgs", std::to_string(first) + "-" + std::to_string(first + 3)});
    Lines err = split(run_.err, '\n');
    const std::string last = err.empty() ? "" : err.back();
    bool cleanRefusal = run_.exitStatus == 11 && (last == "  Sector Erase Protocol retryout!!" ||
                                                  last == "  Page Write Protocol retryout!!" ||
                                                  last == "  Page Write Protocol Retryout!!" ||
                                                  last == "  Check SUM Error!!!");
    bool success = run_.exitStatus == 0 && chip_is_expected();
    EXPECT_TRUE(success || cleanRefusal)
        << "messages " << first << "-" << first + 3 << ": status " << run_.exitStatus << "\n"
        << run_.err;
    survived += success;
    refused += cleanRefusal;
  }
  report("WRITE, four failed messages in a row", count, tried, survived, refused);
  EXPECT_GT(refused, 0);
}

// Power lost after message N; the same WRITE run again restores everything.
TEST_F(Sweep, WriteAgainAfterAPowerCutAnywhere) {
  Lines args = prepare_write(80);
  int count = clean_run_messages(args), tried = 0, survived = 0;
  for (int n = 1; n <= count; n += 5 * stride(), ++tried) {
    reset();
    ProcessResult cut = run(args, {"--power-cut", std::to_string(n)});
    ProcessResult again = run(args, {});
    bool ok = cut.exitStatus == 128 + 9 && again.exitStatus == 0 && chip_is_expected();
    EXPECT_TRUE(ok) << "power cut after message " << n << ": " << cut.exitStatus << ", again "
                    << again.exitStatus << "\n"
                    << again.err;
    survived += ok;
  }
  report("WRITE again after a power cut", count, tried, survived);
}

TEST_F(Sweep, FastReadSurvivesOneFailedMessageAnywhere) {
  std::string other = pattern_bytes(kChipSize, 81);
  prepare(other, other, "");
  const Lines args{"-o", "FREAD", "0xF840", "0x1F80", "-w", chip.dir.file("read")};
  int count = clean_run_messages(args), tried = 0, survived = 0;
  for (int n = 1; n <= count; n += stride(), ++tried) {
    ProcessResult read = run(args, {"--fail-msg", std::to_string(n)});
    bool ok =
        read.exitStatus == 0 && read_file(chip.dir.file("read")) == other.substr(0xF840, 0x1F80);
    EXPECT_TRUE(ok) << "FREAD with message " << n << " failed: " << read.exitStatus << "\n"
                    << read.err;
    survived += ok;
  }
  report("FREAD, one failed message", count, tried, survived);
}

}  // namespace
