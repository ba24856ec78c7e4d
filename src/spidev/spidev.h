// SPDX-License-Identifier: MIT
// The spidev device: its settings and the only code that talks to the driver.
#pragma once

#include <cstdint>

struct SpiSettings {
  int32_t fd;
  uint32_t speedHz;
  uint8_t mode;
  uint8_t bitsPerWord;
};

// The one run's device settings: filled by the options, then replaced by the
// values the driver reports at set-up.
extern struct SpiSettings SpiSettings;

// Opens devicePath and makes the set-up requests; false after the messages.
bool setup_device(const char* devicePath);

// One message of two segments, the chip selected from the first byte to the
// last: sendLength bytes out of buf, then replyLength bytes back into buf.
// False after the error message.
bool spidev_exchange(uint8_t* buf, uint32_t sendLength, uint32_t replyLength);

// Closes the device if it is open.
void close_device();
