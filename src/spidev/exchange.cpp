// SPDX-License-Identifier: MIT
// The program's only conversation with the spidev driver after set-up.
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "spidev/spidev.h"

namespace {

uint64_t user_pointer(uint8_t* buf) {
  // Through uintptr_t, so a 32-bit build is zero-extended, never sign-extended.
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(buf));
}

}  // namespace

bool spidev_exchange(uint8_t* buf, uint32_t sendLength, uint32_t replyLength) {
  struct spi_ioc_transfer segments[2];
  std::memset(segments, 0, sizeof segments);
  segments[0].tx_buf = user_pointer(buf);
  segments[0].len = sendLength;
  segments[1].rx_buf = user_pointer(buf);
  segments[1].len = replyLength;

  if (ioctl(SpiSettings.fd, SPI_IOC_MESSAGE(2), segments) < 0) {
    std::fprintf(stderr, "ERROR: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}
