// SPDX-License-Identifier: MIT
// The spidev set-up requests the simulated node answers: one table for the
// trace names, the faults that can be aimed at them and the values they carry.
#pragma once
#include <cstddef>
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

}  // namespace flashsim
