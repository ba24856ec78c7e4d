// SPDX-License-Identifier: MIT
// Debian's flashrom as an independent client: on every catalogue profile, with every
// definition flashrom offers for the part's ID, it writes a random image over random
// contents and verifies it, then writes one region by a layout; the chip must hold
// exactly what was meant. A definition that does not fit the part is a row of its own,
// which pins what flashrom does with it. Each row prints one `flashrom | ` line (profile,
// definition, result, device time) for the closing summary of scripts/test-all.sh. A host program:
// native builds only.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "sim_run.h"

namespace {

const char* const FLASHROM = "/usr/sbin/flashrom";

struct FlashromRow {
  const char* profile;
  const char* definition;  // flashrom -c NAME as `flashrom -L` lists it; "-" for none
  // nullptr when the definition fits the part. Otherwise what differs, which side the
  // catalogue takes and on what source; `shows` is then what flashrom prints (-V) when it
  // writes 4 KiB at 0x1000 over zeros with that definition.
  const char* differs;
  const char* shows;
};

void PrintTo(const FlashromRow& row, std::ostream* out) { *out << row.definition; }

// The size `flashsim profiles` gives the profile, in bytes.
uint32_t profile_bytes(const std::string& profile) {
  for (const auto& line : split(flashsim({"profiles"}).out, '\n'))
    if (split_words(line).at(0) == profile) return uint32_t(std::stoul(split_words(line)[1]) << 10);
  return 0;
}

// flashrom on the chip without a trace (a whole-chip read would fill it); the device time
// the run took goes to *deviceNs.
ProcessResult flashrom_run(SimChip& chip, const Lines& args, uint64_t* deviceNs) {
  Lines argv{FLASHROM, "-p", "linux_spi:dev=/dev/spi0"};
  ProcessResult run =
      run_process(sim_run_argv(chip.state, {"--summary", "--format=keys"}, argv + args));
  const size_t at = run.err.find("run.device_ns ");
  *deviceNs = at == std::string::npos ? 0 : std::stoull(run.err.substr(at + 14));
  return run;
}

// The whole-chip image differs from the chip's contents in 64 KiB at the start, across the
// middle (unaligned), at the end and across every 16 MiB boundary: erases and programs all
// over the part, in every bank, while the rest is only read and compared. The layout's
// image differs everywhere.
std::string changed(const std::string& contents, bool everywhere) {
  std::string image = contents;
  const size_t size = image.size(), span = everywhere ? size : 0x10000;
  std::vector<size_t> starts{0};
  if (!everywhere) starts = {0, size / 2 - 0x9000, size - span};
  for (size_t bank = 0x1000000; !everywhere && bank < size; bank += 0x1000000)
    starts.push_back(bank - span / 2);
  for (size_t start : starts)
    for (size_t i = start; i < start + span; ++i) image[i] = char(~image[i] ^ (i >> 8));
  return image;
}

class Flashrom : public ::testing::TestWithParam<FlashromRow> {};

// Definitions that fit (';' between them), each on a chip of its own: the whole-chip write,
// then a layout write of one region (unaligned, across a 64 KiB boundary), each verified by
// flashrom and the chip then exactly as meant.
void write_and_verify(const FlashromRow& row) {
  const uint32_t size = profile_bytes(row.profile);
  ASSERT_GT(size, 0u) << "no such profile";
  for (const auto& definition : split(row.definition, ';')) {
    SimChip chip;
    std::string meant = pattern_bytes(size, size / 4096), result = "verified, exact";
    write_file(chip.dir.file("image"), meant);
    ASSERT_TRUE(chip.create({"--profile", row.profile, "--image", chip.dir.file("image")}));
    write_file(chip.dir.file("layout"), "00030800:000417ff part\n");
    uint64_t ns[2] = {0, 0};
    for (int layout = 0; layout < 2; ++layout) {
      const std::string image = changed(meant, layout);
      write_file(chip.dir.file("image"), image);
      Lines args{"-c", definition, "-w", chip.dir.file("image")};
      if (layout) args = args + Lines{"-l", chip.dir.file("layout"), "-i", "part"};
      ProcessResult run = flashrom_run(chip, args, &ns[layout]);
      EXPECT_EQ(run.exitStatus, 0) << definition << run.out << run.err;
      EXPECT_NE(run.out.find("VERIFIED"), std::string::npos) << definition << run.out;
      meant = layout ? meant.replace(0x30800, 0x11000, image, 0x30800, 0x11000) : image;
      if (chip.bytes(0, size) != meant) result = "FAILED", ADD_FAILURE() << definition << layout;
    }
    std::printf("flashrom | %s | %s | %s | %.3f s, layout write %.3f s |\n", row.profile,
                definition.c_str(), result.c_str(), double(ns[0]) / 1e9, double(ns[1]) / 1e9);
  }
}

// Definitions that do not fit (';' between them): flashrom does with each what the row says.
void shows_why(const FlashromRow& row) {
  SimChip chip;
  write_file(chip.dir.file("image"), pattern_bytes(profile_bytes(row.profile), 7));
  write_file(chip.dir.file("layout"), "00001000:00001fff part\n");
  for (const auto& definition : split(row.definition, ';')) {
    ASSERT_TRUE(chip.create({"--profile", row.profile, "--fill", "0x00"}));
    Lines args{"-V", "-l", chip.dir.file("layout"), "-i", "part", "-w", chip.dir.file("image")};
    uint64_t ns = 0;
    ProcessResult run =
        flashrom_run(chip, definition == "-" ? args : Lines{"-c", definition} + args, &ns);
    EXPECT_NE((run.out + run.err).find(row.shows), std::string::npos) << definition << run.out;
    std::printf("flashrom | %s | %s | not used: %s | |\n", row.profile, definition.c_str(),
                row.differs);
  }
}

TEST_P(Flashrom, Row) {
  if (!sim_binaries().emulator.empty()) GTEST_SKIP() << "flashrom is a host program";
  if (!std::filesystem::exists(FLASHROM)) GTEST_SKIP() << "no Debian flashrom";
  GetParam().differs ? shows_why(GetParam()) : write_and_verify(GetParam());
}

// Every profile, and every definition `flashrom` without -c names for the part's ID.
// Columns: profile, definition, what differs (nullptr: it fits), what flashrom shows then.
#define S25_UNIFORM                                                                    \
  "the catalogue follows the part's ID-CFI (sector architecture 00: uniform 256 KiB, " \
  "Cypress 001-98283 Table 10.2; Linux s25fl128s0/s25fl256s0)"
#define S25_PAGE_512                                                                        \
  "flashrom cannot write with it over linux_spi: its 512-byte page exceeds flashrom's own " \
  "256-byte command limit (flashrom 1.3.0; the layout, 256 KiB sectors, is the catalogue's)"
const FlashromRow kRows[] = {
    {"default", "S25FL128S......0;S25FL127S-64kB;S25FL129P......0", nullptr, nullptr},
    {"default", "S25FL128P......0", "its 20h erases 64 KiB (FL-P); the model's 4 KiB (SIM)",
     "ERASE FAILED"},
    {"default", "S25FL128S......1;S25FL127S-256kB;S25FL128P......1",
     "256 KiB sectors; the model chip has 64 KiB blocks (SIM)", "0x000000-0x03ffff"},
    {"default", "S25FL128S_UL Uniform 128 kB Sectors",
     "128 KiB sectors; the model chip has 64 KiB blocks (SIM)", "0x000000-0x01ffff"},
    {"w25q128", "W25Q128.V", nullptr, nullptr},
    {"small", "-", "no definition: flashrom knows 01 20 14 only by its ID", "unknown SPI chip"},
    {"sst25vf016b", "SST25VF016B", nullptr, nullptr},
    {"sst25vf040b", "SST25VF040B;SST25VF040B.REMS", nullptr, nullptr},
    {"sst26vf016b", "SST26VF016B(A)", nullptr, nullptr},
    {"sst26vf032b", "SST26VF032B(A)", nullptr, nullptr},
    {"sst26vf064b", "SST26VF064B(A)", nullptr, nullptr},
    {"w25q128jv", "W25Q128.V", nullptr, nullptr},
    {"w25q64jv", "W25Q64JV-.Q;W25Q64BV/W25Q64CV/W25Q64FV", nullptr, nullptr},
    {"mx25l12835f", "MX25L12833F/MX25L12835F/MX25L12845E/MX25L12865E/MX25L12873F;MX25L12805D",
     nullptr, nullptr},
    {"mx25l25645g", "MX25L25635F/MX25L25645G", nullptr, nullptr},
    {"s25fl512s", "S25FL512S", nullptr, nullptr},
    {"s25fl256s", "S25FL256S......0", "64 KiB sectors; " S25_UNIFORM, "0x000000-0x00ffff"},
    {"s25fl256s", "S25FL256S Large Sectors", "16 MiB; the part is 32 MiB (DSs)",
     "doesn't match the expected size"},
    {"s25fl128s", "S25FL128P......1", nullptr, nullptr},
    {"s25fl128s", "S25FL128S......1;S25FL127S-256kB", S25_PAGE_512, "too long a write"},
    {"s25fl128s", "S25FL128S......0;S25FL127S-64kB;S25FL128P......0;S25FL129P......0",
     "64 KiB sectors; " S25_UNIFORM, "0x000000-0x00ffff"},
    {"s25fl128s", "S25FL128S_UL Uniform 128 kB Sectors", "128 KiB sectors; " S25_UNIFORM,
     "0x000000-0x01ffff"},
    {"n25q128a", "N25Q128..3E", nullptr, nullptr},
    {"n25q128a", "MT25QL128",
     "the MT25Q's 4-byte commands (B7h, 13h, 12h); the catalogue follows the Micron datasheets, "
     "which give them on 256 Mb and larger N25Q parts only (N25Q256A Rev W, sibling)",
     "FAILED at 0x00001000"},
    {"mt25ql128aba", "MT25QL128;N25Q128..3E", nullptr, nullptr},
    {"is25lp128", "IS25LP128", nullptr, nullptr},
    {"gd25q128c", "GD25Q127C/GD25Q128C;GD25B128B/GD25Q128B", nullptr, nullptr},
};
INSTANTIATE_TEST_SUITE_P(Rows, Flashrom, ::testing::ValuesIn(kRows), [](const auto& info) {
  std::string name = std::string(info.param.profile) + "_" + info.param.definition;
  for (auto& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name + "_" + std::to_string(info.index);
});

}  // namespace
