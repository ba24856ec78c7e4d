// SPDX-License-Identifier: MIT
#include "spidev/spidev.h"

// Statically initialised: SPI mode 3 at 500 kHz, 8-bit words, no device open.
struct SpiSettings SpiSettings = {-1, 500000, 3, 8};
