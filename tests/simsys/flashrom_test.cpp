// A third-party spidev client: Debian's flashrom, with its linux_spi
// programmer, against the simulated W25Q128.
#include <unistd.h>

#include <random>

#include "sim_client.h"

namespace {

class SimFlashrom : public SimChip {
 protected:
  std::string flashrom;

  void SetUp() override {
    if (!sim_binaries().emulator.empty()) GTEST_SKIP() << "flashrom is a host program; this build runs in an emulator";
    for (const char* candidate : {"/usr/sbin/flashrom", "/usr/bin/flashrom", "/usr/local/sbin/flashrom"})
      if (access(candidate, X_OK) == 0) flashrom = candidate;
    if (flashrom.empty()) GTEST_SKIP() << "flashrom is not installed (Debian package flashrom)";
    create_chip({"--profile", "w25q128"});
  }

  ProcessResult flashrom_run(const Lines& operation) {
    Lines command{flashrom, "-p", "linux_spi:dev=/dev/spi0,spispeed=16000"};
    command.insert(command.end(), operation.begin(), operation.end());
    return run_on_sim(state(), {}, command);
  }
};

std::string random_image(size_t size) {
  std::mt19937 generator(20261206);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TEST_F(SimFlashrom, IdentifiesReadsErasesWritesAndVerifiesAWholeChip) {
  ProcessResult probe = flashrom_run({});
  ASSERT_EQ(probe.exitStatus, 0) << probe.out << probe.err;
  EXPECT_NE(probe.out.find("Found Winbond flash chip \"W25Q128.V\" (16384 kB, SPI) on linux_spi."),
            std::string::npos)
      << probe.out;
  EXPECT_EQ(probe.out.find("Multiple flash chip definitions match"), std::string::npos) << probe.out;
  EXPECT_EQ(probe.out.find("bufsiz"), std::string::npos) << "flashrom did not get spidev's bufsiz:\n" << probe.out;

  std::string blank = dir.file("blank.bin");
  ProcessResult read = flashrom_run({"-r", blank});
  ASSERT_EQ(read.exitStatus, 0) << read.out << read.err;
  EXPECT_EQ(read_file(blank), std::string(16u << 20, '\xFF'));

  std::string image = dir.file("image.bin");
  std::string bytes = random_image(16u << 20);
  write_file(image, bytes);
  ProcessResult written = flashrom_run({"-w", image});
  ASSERT_EQ(written.exitStatus, 0) << written.out << written.err;
  EXPECT_NE(written.out.find("VERIFIED"), std::string::npos) << written.out;
  EXPECT_EQ(chip_bytes(0, 16u << 20), bytes);
  ProcessResult same = flashsim({"compare", "--state", state(), image});
  EXPECT_EQ(same.exitStatus, 0) << same.out;

  ProcessResult verified = flashrom_run({"-v", image});
  EXPECT_EQ(verified.exitStatus, 0) << verified.out << verified.err;

  ProcessResult erased = flashrom_run({"-E"});
  ASSERT_EQ(erased.exitStatus, 0) << erased.out << erased.err;
  EXPECT_EQ(chip_bytes(0, 16u << 20), std::string(16u << 20, '\xFF'));

  // What flashrom reads back is what the chip holds, byte for byte.
  std::string part = dir.file("part.bin");
  write_file(part, bytes.substr(0x123400, 0x1000));
  ASSERT_EQ(flashsim({"load", "--state", state(), "--offset", "0x123400", part}).exitStatus, 0);
  std::string back = dir.file("back.bin");
  ASSERT_EQ(flashrom_run({"-r", back}).exitStatus, 0);
  EXPECT_EQ(read_file(back).substr(0x123400, 0x1000), bytes.substr(0x123400, 0x1000));
  EXPECT_EQ(read_file(back).substr(0, 0x123400), std::string(0x123400, '\xFF'));
}

}  // namespace
