#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "flash/romflash.h"
#include "front_end.h"

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
  if (SpiSettings.bitsPerWord != 0 &&
      (!request(SPI_IOC_WR_BITS_PER_WORD, &SpiSettings.bitsPerWord,
                "ERROR: can't set bits per word") ||
       !request(SPI_IOC_RD_BITS_PER_WORD, &SpiSettings.bitsPerWord,
                "ERROR: can't get bits per word"))) {
    return false;
  }
  return request(SPI_IOC_WR_MAX_SPEED_HZ, &SpiSettings.speedHz, "ERROR: can't set max speed hz") &&
         request(SPI_IOC_RD_MAX_SPEED_HZ, &SpiSettings.speedHz, "ERROR: can't get max speed hz");
}

bool open_device() {
  if (RunState.devicePath == nullptr) {
    std::fputs("ERROR: No device specification.\n", stderr);
    return false;
  }
  SpiSettings.fd = open(RunState.devicePath, O_RDWR);
  if (SpiSettings.fd == -1) {
    std::fprintf(stderr, "ERROR: %s, %s\n", std::strerror(errno), RunState.devicePath);
    return false;
  }
  return true;
}

}  // namespace

int setup_device() {
  if (open_device() && configure_device()) return 0;
  std::fputs("ERROR: Initialize SPI device fail.\n", stderr);
  return STATUS_FAIL;
}

void end_run(int status) {
  if (RunState.imageFile != nullptr) {
    std::fclose(RunState.imageFile);
    RunState.imageFile = nullptr;
  }
  if (SpiSettings.fd != -1) {
    close(SpiSettings.fd);
    SpiSettings.fd = -1;
  }
  // The -w file stays open: the process exit flushes and closes it.
  std::exit(status);
}
