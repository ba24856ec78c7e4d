// SPDX-License-Identifier: MIT
// The command-line front end: options, usage, dispatch, end of run.
#pragma once

#include <cstdint>

struct NumberWord {
  uint32_t value;   // the signed 32-bit result, stored by its bits
  bool rangeError;  // the word was outside the signed 32-bit range
  bool hasDigits;   // at least one digit was converted
};

// strtol semantics for a signed 32-bit long, on every host word size.
NumberWord parse_number(const char* word, int base);

void set_program_name(const char* invocationName);
void print_usage();

// Walks the command line; exits by itself for -h and rejections. Returns 0, or
// STATUS_FAIL when a file could not be opened. *imageFileName is the last -f.
int parse_options(int argc, char** argv, const char** imageFileName);

// Runs the operation of RunState.command; its status (-1 when none was selected).
int dispatch(bool imageFileGiven);

// Closes what the run opened and ends the process with this status.
[[noreturn]] void end_run(int status);
