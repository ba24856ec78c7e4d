// SPDX-License-Identifier: MIT
// The fault plan of one run: what `flashsim run` checks its options with and
// what libflashsim.so applies, parsed by the same code on both sides from one
// table of fault options.
#pragma once
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "table_view.h"

namespace flashsim {

// The trace spells errors by the C library's names; numbers without one stay numbers.
std::string errno_name(int number);
// Accepts an errno name or a number from 1 to 4095 (the kernel's range); 0 when neither.
int errno_from_text(const std::string& text);

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

// One fault: `--NAME ARGUMENT` on the `flashsim run` command line, the word
// `NAME=ARGUMENT` (or `NAME` for a flag) in FLASHSIM_FAULTS.
struct FaultOption {
  const char* name;
  const char* argument;  // as the usage text shows it; null for a flag
  bool repeatable;       // each use adds to the plan; else the last one counts
  const char* help;
  // Puts the argument into the plan; empty, or what was expected instead.
  std::string (*apply)(const std::string& argument, FaultPlan* plan);
};
TableView<FaultOption> fault_options();

// One word of FLASHSIM_FAULTS.
bool apply_fault_word(const std::string& word, FaultPlan* plan, std::string* error);
// The whole variable: words separated by spaces.
bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error);

}  // namespace flashsim
