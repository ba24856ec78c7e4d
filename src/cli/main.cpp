// SPDX-License-Identifier: MIT
#include <sys/prctl.h>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "flash/flash.h"
#include "spidev/spidev.h"

int main(int argc, char** argv) {
  // Status polls sleep 1 ms per tick; the default 50 us timer slack adds to every one of them.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  set_program_name(argc > 0 ? argv[0] : "romflash");
  const char* imageFileName = nullptr;
  int status = parse_options(argc, argv, &imageFileName);
  if (status == 0 && !setup_device(RunState.devicePath)) status = STATUS_FAIL;
  if (status == 0) status = dispatch(imageFileName != nullptr);
  end_run(status);
}
