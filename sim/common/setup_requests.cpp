#include "setup_requests.h"

#include <linux/spi/spidev.h>

namespace flashsim {

namespace {

const SetupRequest kSetupRequests[] = {
    {"WR_MODE", SPI_IOC_WR_MODE, SetupValue::Mode8, true, 1, true},
    {"RD_MODE", SPI_IOC_RD_MODE, SetupValue::Mode8, false, 1, true},
    {"WR_MODE32", SPI_IOC_WR_MODE32, SetupValue::Mode32, true, 4, true},
    {"RD_MODE32", SPI_IOC_RD_MODE32, SetupValue::Mode32, false, 4, true},
    {"WR_LSB_FIRST", SPI_IOC_WR_LSB_FIRST, SetupValue::LsbFirst, true, 1, false},
    {"RD_LSB_FIRST", SPI_IOC_RD_LSB_FIRST, SetupValue::LsbFirst, false, 1, false},
    {"WR_BITS_PER_WORD", SPI_IOC_WR_BITS_PER_WORD, SetupValue::Bits, true, 1, false},
    {"RD_BITS_PER_WORD", SPI_IOC_RD_BITS_PER_WORD, SetupValue::Bits, false, 1, false},
    {"WR_MAX_SPEED_HZ", SPI_IOC_WR_MAX_SPEED_HZ, SetupValue::Speed, true, 4, false},
    {"RD_MAX_SPEED_HZ", SPI_IOC_RD_MAX_SPEED_HZ, SetupValue::Speed, false, 4, false},
};

}  // namespace

const SetupRequest* setup_requests(size_t* count) {
  *count = sizeof kSetupRequests / sizeof kSetupRequests[0];
  return kSetupRequests;
}

const SetupRequest* setup_request_named(const std::string& name) {
  for (const SetupRequest& entry : kSetupRequests)
    if (name == entry.name) return &entry;
  return nullptr;
}

const SetupRequest* setup_request_for(unsigned long request) {
  for (const SetupRequest& entry : kSetupRequests)
    if (entry.request == request) return &entry;
  return nullptr;
}

std::string setup_request_names() {
  std::string names;
  for (const SetupRequest& entry : kSetupRequests) names += (names.empty() ? "" : " ") + std::string(entry.name);
  return names;
}

}  // namespace flashsim
