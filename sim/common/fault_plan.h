// SPDX-License-Identifier: MIT
// The fault plan of one run: what `flashsim run` checks its options with and
// what libflashsim.so applies, parsed by the same code on both sides.
#pragma once
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace flashsim {

// The trace spells errors by name; numbers without a name stay numbers.
std::string errno_name(int number);
// Accepts an errno name or a positive decimal number; 0 when neither.
int errno_from_text(const std::string& text);
// Unsigned number in decimal or 0x-hex, the whole text or nothing.
bool parse_number(const std::string& text, uint64_t* value);

struct OpcodeFault {
  uint8_t opcode;
  uint64_t count;  // 0: every matching message
};

struct MessageRange {
  uint64_t first;
  uint64_t last;
};

// Everything that can be made to go wrong in one process. Messages are
// numbered per process from 1, counting SPI_IOC_MESSAGE requests only.
struct FaultPlan {
  std::vector<MessageRange> failMessages;
  uint64_t failEvery = 0;
  int errorNumber = EIO;
  std::vector<OpcodeFault> failOpcodes;
  std::vector<std::string> failSetup;
  bool welStuck = false;
  bool wipStuck = false;
  int absentLevel = -1;        // -1: chip present; else what MISO floats to
  uint64_t powerCutAfter = 0;  // 0: never
};

// One word of FLASHSIM_FAULTS: "key" or "key=value", the run options without
// their leading dashes.
bool apply_fault_word(const std::string& word, FaultPlan* plan, std::string* error);
// The whole variable: words separated by spaces.
bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error);

}  // namespace flashsim
