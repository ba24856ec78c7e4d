// SPDX-License-Identifier: MIT
// The spidev set-up requests the simulated node answers: one table for the
// trace names, the faults that can be aimed at them and the values they carry.
#pragma once
#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace flashsim {

// Which node setting a request writes or reads.
enum class SetupValue { MODE8, MODE32, LSB_FIRST, BITS, SPEED };

struct SetupRequest {
  const char* name;  // as traced and as --fail-setup takes it
  unsigned long request;
  SetupValue value;
  bool write;
  size_t width;  // bytes behind the argument pointer
  bool hex;      // traced as 0xNN rather than in decimal
};

// Null when no request has this name (or this code).
const SetupRequest* setup_request_named(const std::string& name);
const SetupRequest* setup_request_for(unsigned long request);
// Every name, separated by spaces, for messages.
std::string setup_request_names();

// The mode bits the node takes; the others fail WR_MODE.
constexpr uint32_t NODE_MODE_BITS = SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LOOP | SPI_NO_CS;

// The node's settings file (spidev-settings in the state directory): mode and word size,
// which outlive every process as the kernel keeps them. The reader takes only what the
// writer writes; anything else is an error naming `path`.
std::string node_settings_text(uint32_t mode, unsigned bits);
bool parse_node_settings(const std::string& path, const std::string& text, uint32_t* mode,
                         unsigned* bits, std::string* error);

}  // namespace flashsim
