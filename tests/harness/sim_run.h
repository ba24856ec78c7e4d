// SPDX-License-Identifier: MIT
// Programs on the simulated chip: where the binaries are, one chip in a
// temporary directory, `flashsim run` command lines, and the trace in short form.
//
// The binaries come from ROMFLASH_BIN, FLASHSIM_BIN, FLASHSIM_LIB (defaults
// compiled in by CMake); FLASHSIM_EMULATOR, when not empty, is the emulator
// prefix of a cross build, put in front of every target program.
#pragma once
#include <cstdint>
#include <string>

#include "process.h"

struct SimBinaries {
  std::string romflash, flashsim, lib;
  Lines emulator;  // empty for a native build
};
const SimBinaries& sim_binaries();

ProcessResult flashsim(const Lines& args);  // `flashsim ARGS...`

// `flashsim run --state STATE [--lib ..] [--emulator ..] OPTIONS... -- COMMAND...`
Lines sim_run_argv(const std::string& state, const Lines& options, const Lines& command);

// One chip in its own temporary directory; every run keeps its own trace.
struct SimChip {
  TempDir dir;
  std::string state = dir.file("chip");
  std::string trace;  // the last run's trace

  bool create(const Lines& options);  // `flashsim create`, false (and a failure) when refused
  void load(uint32_t offset, const std::string& bytes);
  std::string bytes(uint32_t offset, uint32_t length);
  ProcessResult run(const Lines& command, const Lines& options = {}, const Lines& env = {});
  // The last trace in short form, one entry per event, joined by "; ":
  //  open [PATH] / spi MODE BITS HZ (the usual six set-up requests) / WR_MODE 0x01 fail EIO / close
  //  9F > 01 20 18 4D            a message: tx, then " > " and the rx bytes when it succeeded
  //  03 001000 > [256]           four or more tx bytes show opcode and address; more than 8
  //  02 000100 [256]             bytes after the address, or more than 8 rx bytes, by count
  //  06 !EIO                     a failed message; "cs" follows a transfer with cs_change
  //  +1000us                     a sleep (in ns when not whole microseconds)
  // With `collapse`, a run of equal entries becomes "ENTRY xN" and a run of equal
  // pairs "(A; B) xN".
  std::string wire(bool collapse = true) const;
};

std::string pattern_bytes(size_t count, unsigned seed);  // repeatable pseudo-random bytes
