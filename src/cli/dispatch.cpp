// SPDX-License-Identifier: MIT
// The one operation of the run, chosen by the selected command.
#include <cstdio>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "ops/operations.h"

namespace {

// Part of the message board engineers already grep for, as are the -f refusals' lines.
constexpr int NO_COMMAND_LINE = 1469;
const char MODULE_NAME[] = "romflash";

}  // namespace

int dispatch(bool imageFileGiven) {
  const FlashCommand* command = &RunState.command;
  const Operation* operation = find_operation(command->id);
  if (operation == nullptr) {
    std::fprintf(stderr, "%s(%d): ERROR: Fatal Error of System!\n", MODULE_NAME, NO_COMMAND_LINE);
    return -1;
  }
  if (operation->noImageLine != 0 && !imageFileGiven) {
    std::fprintf(stderr, "%s(%d): ERROR: No file specification.\n", MODULE_NAME,
                 operation->noImageLine);
    return STATUS_FAIL;
  }
  OperationInputs inputs = {RunState.imageFile, RunState.outputFile, RunState.timeoutMs};
  return operation->run(command, &inputs);
}
