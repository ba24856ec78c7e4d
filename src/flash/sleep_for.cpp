// SPDX-License-Identifier: MIT
// Pauses the chip relies on.
#include <time.h>

#include <cerrno>

#include "flash/flash.h"

void sleep_for(uint32_t sec, uint32_t nsec) {
  struct timespec wanted = {static_cast<time_t>(sec), static_cast<long>(nsec)};
  struct timespec left = {0, 0};
  // A signal must not shorten a pause the chip relies on: sleep again for the rest.
  while (nanosleep(&wanted, &left) != 0) {
    if (errno != EINTR) return;
    wanted = left;
  }
}
