// Running programs on the simulated chip through the flashsim command.
//
// The binaries come from the environment CTest sets (ROMFLASH_BIN, FLASHSIM_BIN,
// FLASHSIM_LIB); FLASHSIM_EMULATOR, when not empty, is the emulator prefix of a
// cross build (for example "qemu-ppc -L /usr/powerpc-linux-gnu"), put in front of
// every target program and handed to `flashsim run` for the program it starts.
#pragma once
#include <string>
#include <vector>

#include "process.h"

struct SimBinaries {
  std::string romflash;
  std::string flashsim;
  std::string lib;
  std::vector<std::string> emulator;  // empty for a native build
};

const SimBinaries& sim_binaries();

// `flashsim ARGS...`
ProcessResult flashsim(const std::vector<std::string>& args);

// `flashsim run --state STATE [runOptions...] -- COMMAND...`
ProcessResult run_on_sim(const std::string& stateDir, const std::vector<std::string>& runOptions,
                         const std::vector<std::string>& command,
                         const std::vector<std::string>& extraEnv = {});

// `flashsim run --state STATE [runOptions...] -- romflash ARGS...`
ProcessResult run_romflash(const std::string& stateDir, const std::vector<std::string>& runOptions,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv = {});

// Bytes as upper-case hex pairs separated by blanks, as the trace writes them.
std::string hex_bytes(const std::string& bytes);
