#pragma once
// A chip in a temporary state directory, driven byte by byte as spidev would.
#include "chip_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class ChipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/chiptest.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    if (chip_) chip_detach(chip_);
    std::filesystem::remove_all(dir_);
  }

  void create(const std::string& profile = "small", const std::vector<std::string>& settings = {},
              uint8_t fill = 0xFF, const std::string& image = "") {
    std::string error;
    ASSERT_TRUE(chip_create(dir_, profile, fill, image, settings, &error)) << error;
    attach();
  }

  void attach(ChipFaults faults = ChipFaults{false, false}) {
    std::string error;
    chip_ = chip_attach(dir_, faults, &error);
    ASSERT_NE(chip_, nullptr) << error;
  }

  void reattach(ChipFaults faults = ChipFaults{false, false}) {
    chip_detach(chip_);
    chip_ = nullptr;
    attach(faults);
  }

  // One chip-select window: the frame out, then `rx` bytes clocked in with 00 on MOSI.
  Bytes xfer(const Bytes& tx, size_t rx = 0) {
    Bytes reply;
    chip_select(chip_);
    for (uint8_t b : tx) chip_shift(chip_, b);
    for (size_t i = 0; i < rx; ++i) reply.push_back(chip_shift(chip_, 0x00));
    chip_deselect(chip_);
    return reply;
  }

  uint8_t status() { return xfer({0x05}, 1)[0]; }
  void wren() { xfer({0x06}); }
  Bytes read(uint32_t address, size_t n) {
    return xfer({0x03, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)}, n);
  }
  Bytes page_program_frame(uint32_t address, const Bytes& data) {
    // Sized once and filled in place: growing a 4-byte vector by insert()
    // trips GCC 12's -Warray-bounds at -O2/-O3 inside the library's memmove.
    Bytes f(4 + data.size());
    f[0] = 0x02;
    f[1] = uint8_t(address >> 16);
    f[2] = uint8_t(address >> 8);
    f[3] = uint8_t(address);
    std::copy(data.begin(), data.end(), f.begin() + 4);
    return f;
  }
  uint8_t at(uint32_t address) { return chip_contents(chip_)[address]; }
  void fill(uint32_t address, uint32_t n, uint8_t value) {
    Bytes b(n, value);
    chip_load(chip_, address, b.data(), n);
  }

  std::string dir_;
  ChipState* chip_ = nullptr;
};
