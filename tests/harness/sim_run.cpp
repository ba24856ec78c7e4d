#include "sim_run.h"

#include <cstdio>
#include <cstdlib>

#ifndef ROMFLASH_BIN_DEFAULT
#define ROMFLASH_BIN_DEFAULT "romflash"
#endif
#ifndef FLASHSIM_BIN_DEFAULT
#define FLASHSIM_BIN_DEFAULT "flashsim"
#endif
#ifndef FLASHSIM_LIB_DEFAULT
#define FLASHSIM_LIB_DEFAULT ""
#endif
#ifndef FLASHSIM_EMULATOR_DEFAULT
#define FLASHSIM_EMULATOR_DEFAULT ""
#endif

const SimBinaries& sim_binaries() {
  static const SimBinaries binaries = [] {
    // A sanitized program is loaded after the preloaded simulator library, which
    // the address sanitizer's link-order check would otherwise refuse.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1", 0);
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
    SimBinaries found;
    found.romflash = env_or("ROMFLASH_BIN", ROMFLASH_BIN_DEFAULT);
    found.flashsim = env_or("FLASHSIM_BIN", FLASHSIM_BIN_DEFAULT);
    found.lib = env_or("FLASHSIM_LIB", FLASHSIM_LIB_DEFAULT);
    found.emulator = split_words(env_or("FLASHSIM_EMULATOR", FLASHSIM_EMULATOR_DEFAULT));
    return found;
  }();
  return binaries;
}

namespace {

std::vector<std::string> flashsim_prefix() {
  const SimBinaries& bin = sim_binaries();
  std::vector<std::string> argv = bin.emulator;
  argv.push_back(bin.flashsim);
  return argv;
}

std::string join(const std::vector<std::string>& words) {
  std::string joined;
  for (const auto& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

}  // namespace

ProcessResult flashsim(const std::vector<std::string>& args) {
  std::vector<std::string> argv = flashsim_prefix();
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv);
}

ProcessResult run_on_sim(const std::string& stateDir, const std::vector<std::string>& runOptions,
                         const std::vector<std::string>& command,
                         const std::vector<std::string>& extraEnv) {
  const SimBinaries& bin = sim_binaries();
  std::vector<std::string> argv = flashsim_prefix();
  argv.insert(argv.end(), {"run", "--state", stateDir});
  if (!bin.lib.empty()) argv.insert(argv.end(), {"--lib", bin.lib});
  if (!bin.emulator.empty()) argv.insert(argv.end(), {"--emulator", join(bin.emulator)});
  argv.insert(argv.end(), runOptions.begin(), runOptions.end());
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return run_process(argv, extraEnv);
}

ProcessResult run_romflash(const std::string& stateDir, const std::vector<std::string>& runOptions,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv) {
  std::vector<std::string> command{sim_binaries().romflash};
  command.insert(command.end(), args.begin(), args.end());
  return run_on_sim(stateDir, runOptions, command, extraEnv);
}

std::string hex_bytes(const std::string& bytes) {
  std::string text;
  char pair[4];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += (text.empty() ? "" : " ") + std::string(pair);
  }
  return text;
}
