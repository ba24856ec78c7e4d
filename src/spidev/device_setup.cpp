// SPDX-License-Identifier: MIT
// Opening, configuring and closing the spidev device.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "spidev/spidev.h"

namespace {

// Each request's message has no line end: the failure line completes it.
bool request(unsigned long code, void* value, const char* failureText) {
  if (ioctl(SpiSettings.fd, code, value) == -1) {
    std::fputs(failureText, stderr);
    return false;
  }
  return true;
}

bool configure_device() {
  if (!request(SPI_IOC_WR_MODE, &SpiSettings.mode, "ERROR: can't set spi mode") ||
      !request(SPI_IOC_RD_MODE, &SpiSettings.mode, "ERROR: can't get spi mode")) {
    return false;
  }
  // Word size 0 leaves the driver's own setting untouched.
  if (SpiSettings.bitsPerWord != 0 && (!request(SPI_IOC_WR_BITS_PER_WORD, &SpiSettings.bitsPerWord,
                                                "ERROR: can't set bits per word") ||
                                       !request(SPI_IOC_RD_BITS_PER_WORD, &SpiSettings.bitsPerWord,
                                                "ERROR: can't get bits per word"))) {
    return false;
  }
  return request(SPI_IOC_WR_MAX_SPEED_HZ, &SpiSettings.speedHz, "ERROR: can't set max speed hz") &&
         request(SPI_IOC_RD_MAX_SPEED_HZ, &SpiSettings.speedHz, "ERROR: can't get max speed hz");
}

bool open_device(const char* devicePath) {
  if (devicePath == nullptr) {
    std::fputs("ERROR: No device specification.\n", stderr);
    return false;
  }
  SpiSettings.fd = open(devicePath, O_RDWR);
  if (SpiSettings.fd == -1) {
    std::fprintf(stderr, "ERROR: %s, %s\n", std::strerror(errno), devicePath);
    return false;
  }
  return true;
}

}  // namespace

bool setup_device(const char* devicePath) {
  if (open_device(devicePath) && configure_device()) return true;
  std::fputs("ERROR: Initialize SPI device fail.\n", stderr);
  return false;
}

void close_device() {
  if (SpiSettings.fd != -1) {
    close(SpiSettings.fd);
    SpiSettings.fd = -1;
  }
}
