// SPDX-License-Identifier: MIT
#include "setup_requests.h"

#include <linux/spi/spidev.h>

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

}  // namespace flashsim
