// SPDX-License-Identifier: MIT
// Sends COUNT messages back to back, each one READ frame (4 command bytes, then
// LEN data bytes), at HZ, and prints the seconds they took on the monotonic
// clock. On the realtime simulator that should be their bus time and no more.
//
//   back_to_back DEVICE HZ COUNT LEN
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static double seconds_now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fputs("usage: back_to_back DEVICE HZ COUNT LEN\n", stderr);
    return 2;
  }
  uint32_t hz = (uint32_t)strtoul(argv[2], NULL, 0);
  unsigned long count = strtoul(argv[3], NULL, 0);
  uint32_t len = (uint32_t)strtoul(argv[4], NULL, 0);
  static uint8_t rx[65536];
  if (len > sizeof rx) len = sizeof rx;
  int fd = open(argv[1], O_RDWR);
  if (fd < 0 || ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz) != 0) {
    perror(argv[1]);
    return 1;
  }
  uint8_t command[4] = {0x03, 0, 0, 0};
  struct spi_ioc_transfer frame[2];
  memset(frame, 0, sizeof frame);
  frame[0].tx_buf = (uintptr_t)command;
  frame[0].len = sizeof command;
  frame[1].rx_buf = (uintptr_t)rx;
  frame[1].len = len;
  double start = seconds_now();
  for (unsigned long i = 0; i < count; ++i) {
    if (ioctl(fd, SPI_IOC_MESSAGE(2), frame) < 0) {
      perror("SPI_IOC_MESSAGE");
      return 1;
    }
  }
  printf("%.6f\n", seconds_now() - start);
  close(fd);
  return 0;
}
