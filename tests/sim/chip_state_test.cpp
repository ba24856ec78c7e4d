// What the chip keeps between processes, what a power cut leaves, and profile settings.
#include "chip_fixture.h"

#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>
#include <iterator>

namespace {

Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using ChipPersistence = ChipTest;

TEST_F(ChipPersistence, ProgramLeftRunningCompletesInTheNextProcess) {
  create();
  wren();
  xfer(page_program_frame(0x000040, {0x12, 0x34}));
  chip_advance_ns(chip_, 300000);
  reattach();
  EXPECT_EQ(status(), 0x03);
  EXPECT_EQ(at(0x40), 0xFF);
  chip_advance_ns(chip_, 400000);
  reattach();
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(read(0x000040, 3), (Bytes{0x12, 0x34, 0xFF}));
  EXPECT_EQ(chip_now_ns(chip_), 700000u);
}

TEST_F(ChipPersistence, RegistersAndDeepPowerDownSurviveDetach) {
  create();
  xfer({0x50});
  xfer({0x01, 0x08, 0x21});
  wren();
  xfer({0xB9});
  reattach();
  EXPECT_TRUE(chip_in_deep_power_down(chip_));
  EXPECT_EQ(chip_status_register(chip_), 0x0A);
  EXPECT_EQ(chip_config_register(chip_), 0x21);
}

TEST_F(ChipPersistence, StateFileStoresTheClockLittleEndian) {
  create();
  chip_advance_ns(chip_, 0x0102030405060708ull);
  chip_detach(chip_);
  chip_ = nullptr;
  Bytes state = file_bytes(dir_ + "/state.bin");
  ASSERT_EQ(state.size(), 512u);
  EXPECT_EQ(Bytes(state.begin(), state.begin() + 16),
            (Bytes{'R', 'F', 'C', 'S', 1, 0, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
}

TEST_F(ChipPersistence, HandWrittenStateIsReadTheSameOnEveryHost) {
  create("small", {}, 0x00);
  chip_detach(chip_);
  chip_ = nullptr;
  Bytes state(512, 0x00);
  const Bytes head = {'R', 'F', 'C', 'S', 1, 0, 0, 0, 0x00, 0xE1, 0xF5, 0x05, 0, 0, 0, 0, 0x1C, 0x33, 0x02};
  std::copy(head.begin(), head.end(), state.begin());
  // A 4 KiB erase at 0x002000 started at t = 90 ms, lasting 20 ms.
  const Bytes pending = {2, 0, 0, 0, 0x00, 0x20, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00,
                         0x80, 0x4A, 0x5D, 0x05, 0, 0, 0, 0, 0x00, 0x2D, 0x31, 0x01};
  std::copy(pending.begin(), pending.end(), state.begin() + 20);
  write_bytes(dir_ + "/state.bin", state);
  attach();
  EXPECT_EQ(chip_now_ns(chip_), 100000000u);
  EXPECT_EQ(chip_config_register(chip_), 0x33);
  EXPECT_EQ(chip_status_register(chip_), 0x1D);
  EXPECT_TRUE(chip_volatile_write_armed(chip_));
  EXPECT_EQ(at(0x2000), 0x00);
  chip_advance_ns(chip_, 10000000);
  EXPECT_EQ(chip_status_register(chip_), 0x1C);
  EXPECT_EQ(at(0x2000), 0xFF);
  EXPECT_EQ(at(0x2FFF), 0xFF);
  EXPECT_EQ(at(0x3000), 0x00);
}

// The power is cut inside a child process that dies at once, as the shim's host
// process does; the test then attaches afresh, as the next process would.
class ChipPowerCut : public ChipTest {
 protected:
  void cut_after(const std::function<void()>& scenario) {
    chip_detach(chip_);
    chip_ = nullptr;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string error;
      chip_ = chip_attach(dir_, ChipFaults{false, false}, &error);
      if (!chip_) _exit(2);
      scenario();
      chip_power_cut(chip_);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    attach();
  }
};

TEST_F(ChipPowerCut, HalfwayPageProgramLeavesTheFirstHalfProgrammed) {
  create();
  cut_after([this] {
    wren();
    xfer(page_program_frame(0x000200, Bytes(256, 0x00)));
    chip_advance_ns(chip_, 350000);
  });
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(read(0x00027F, 2), (Bytes{0x00, 0xFF}));
  EXPECT_EQ(at(0x200), 0x00);
  EXPECT_EQ(at(0x2FF), 0xFF);
}

TEST_F(ChipPowerCut, QuarterWayEraseLeavesTheLeadingQuarterErased) {
  create("small", {}, 0x00);
  cut_after([this] {
    wren();
    xfer({0x20, 0x00, 0x30, 0x00});
    chip_advance_ns(chip_, 45000000 / 4);
  });
  EXPECT_EQ(read(0x0033FF, 2), (Bytes{0xFF, 0x00}));
  EXPECT_EQ(at(0x3000), 0xFF);
  EXPECT_EQ(at(0x3FFF), 0x00);
}

class ChipExtendedId : public ChipTest, public ::testing::WithParamInterface<int> {};

TEST_P(ChipExtendedId, RdidAnnouncesAndSendsTheOverriddenBytes) {
  const int n = GetParam();
  std::string ext = "ext=";
  Bytes expected = {0xAA, 0xBB, 0xCC, uint8_t(n)};
  for (int i = 0; i < n; ++i) {
    const char* digits = "0123456789ABCDEF";
    ext += (i ? " " : "") + std::string{digits[(0x10 + i) >> 4], digits[(0x10 + i) & 15]};
    expected.push_back(uint8_t(0x10 + i));
  }
  expected.push_back(0xFF);
  create("default", {"jedec=AA BB CC", ext});
  EXPECT_EQ(xfer({0x9F}, 4 + n + 1), expected);
}

INSTANTIATE_TEST_SUITE_P(ChipExtLengths, ChipExtendedId, ::testing::Values(0, 12, 13));

using ChipSettings = ChipTest;

TEST_F(ChipSettings, TimingOverrideSetsTheBusyTime) {
  create("small", {"page_program_ns=1000", "rems=0x42", "res=0x43"});
  wren();
  xfer(page_program_frame(0, {0x00}));
  chip_advance_ns(chip_, 999);
  EXPECT_EQ(status(), 0x03);
  chip_advance_ns(chip_, 1);
  EXPECT_EQ(status(), 0x00);
  EXPECT_EQ(xfer({0x90, 0, 0, 0}, 2), (Bytes{0x01, 0x42}));
  EXPECT_EQ(xfer({0xAB, 0, 0, 0}, 1), (Bytes{0x43}));
}

TEST_F(ChipSettings, ResizingRescalesChipEraseAndTheCfiSize) {
  create("small", {"size=2M"});
  EXPECT_EQ(chip_size(chip_), 2u * 1024 * 1024);
  EXPECT_EQ(chip_profile(chip_).timings.chipEraseNs, 5000000000ull);
  EXPECT_EQ(xfer({0x9F}, 0x28)[0x27], 21);
}

TEST_F(ChipSettings, ImageIsLoadedOverTheFill) {
  const std::string image = dir_ + "/image.bin";
  write_bytes(image, {0x01, 0x02, 0x03});
  create("small", {}, 0x00, image);
  EXPECT_EQ(read(0, 5), (Bytes{0x01, 0x02, 0x03, 0x00, 0x00}));
}

TEST_F(ChipSettings, BadSettingsAreRejectedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"jedec=EF 40"}, {"status=0x100"}, {"size=5000"}, {"colour=blue"}, {"ext"}};
  for (const auto& settings : bad) {
    std::string error;
    EXPECT_FALSE(chip_create(dir_, "default", 0xFF, "", settings, &error)) << settings[0];
    EXPECT_FALSE(error.empty()) << settings[0];
  }
  std::string error;
  EXPECT_FALSE(chip_create(dir_, "no-such-part", 0xFF, "", {}, &error));
  EXPECT_NE(error.find("no-such-part"), std::string::npos);
}

}  // namespace
