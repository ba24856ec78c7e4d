// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "spidev/spidev.h"

void end_run(int status) {
  if (RunState.imageFile != nullptr) {
    std::fclose(RunState.imageFile);
    RunState.imageFile = nullptr;
  }
  close_device();
  // The -w file stays open: the process exit flushes and closes it.
  std::exit(status);
}
