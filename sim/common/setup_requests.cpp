// SPDX-License-Identifier: MIT
#include "setup_requests.h"

#include <linux/spi/spidev.h>

#include <cstdio>

namespace flashsim {

namespace {

const SetupRequest SETUP_REQUESTS[] = {
    {"WR_MODE", SPI_IOC_WR_MODE, SetupValue::MODE8, true, 1, true},
    {"RD_MODE", SPI_IOC_RD_MODE, SetupValue::MODE8, false, 1, true},
    {"WR_MODE32", SPI_IOC_WR_MODE32, SetupValue::MODE32, true, 4, true},
    {"RD_MODE32", SPI_IOC_RD_MODE32, SetupValue::MODE32, false, 4, true},
    {"WR_LSB_FIRST", SPI_IOC_WR_LSB_FIRST, SetupValue::LSB_FIRST, true, 1, false},
    {"RD_LSB_FIRST", SPI_IOC_RD_LSB_FIRST, SetupValue::LSB_FIRST, false, 1, false},
    {"WR_BITS_PER_WORD", SPI_IOC_WR_BITS_PER_WORD, SetupValue::BITS, true, 1, false},
    {"RD_BITS_PER_WORD", SPI_IOC_RD_BITS_PER_WORD, SetupValue::BITS, false, 1, false},
    {"WR_MAX_SPEED_HZ", SPI_IOC_WR_MAX_SPEED_HZ, SetupValue::SPEED, true, 4, false},
    {"RD_MAX_SPEED_HZ", SPI_IOC_RD_MAX_SPEED_HZ, SetupValue::SPEED, false, 4, false},
};

}  // namespace

const SetupRequest* setup_request_named(const std::string& name) {
  for (const SetupRequest& entry : SETUP_REQUESTS)
    if (name == entry.name) return &entry;
  return nullptr;
}

const SetupRequest* setup_request_for(unsigned long request) {
  for (const SetupRequest& entry : SETUP_REQUESTS)
    if (entry.request == request) return &entry;
  return nullptr;
}

std::string setup_request_names() {
  std::string names;
  for (const SetupRequest& entry : SETUP_REQUESTS)
    names += (names.empty() ? "" : " ") + std::string(entry.name);
  return names;
}

std::string node_settings_text(uint32_t mode, unsigned bits) {
  char text[64];
  std::snprintf(text, sizeof text, "mode=0x%02X bits=%u\n", mode, bits);
  return text;
}

bool parse_node_settings(const std::string& path, const std::string& text, uint32_t* mode,
                         unsigned* bits, std::string* error) {
  unsigned readMode = 0, readBits = 0;
  if (std::sscanf(text.c_str(), "mode=0x%2X bits=%u", &readMode, &readBits) != 2 ||
      text != node_settings_text(readMode, readBits) || (readMode & ~NODE_MODE_BITS) != 0 ||
      readBits != 8) {
    *error = path + ": not one line \"mode=0xNN bits=8\" with a mode the node takes";
    return false;
  }
  *mode = readMode;
  *bits = readBits;
  return true;
}

}  // namespace flashsim
