// SPDX-License-Identifier: MIT
// The one operation of the run, chosen by the selected command.
#include <cstdio>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "ops/operations.h"

namespace {

// Line numbers are part of the messages board engineers already grep for.
constexpr int PP_GUARD_LINE = 1425;
constexpr int WRITE_GUARD_LINE = 1461;
constexpr int NO_COMMAND_LINE = 1469;
const char MODULE_NAME[] = "romflash";

int no_file(int line) {
  std::fprintf(stderr, "%s(%d): ERROR: No file specification.\n", MODULE_NAME, line);
  return STATUS_FAIL;
}

}  // namespace

int dispatch(bool imageFileGiven) {
  const FlashCommand* command = &RunState.command;
  switch (command->id) {
    case RDID:
      return identify_chip(command);
    case READ_ID:
      return identify_manufacturer_and_device(command);
    case VSRWE:
    case WREN:
    case WRDI:
    case BE:
    case SE:
    case SE4K:
    case SE8K:
    case SE32K:
    case WRR1:
    case WRR2:
      return send_single_instruction(command);
    case RDSR:
    case RDCR:
      return read_register(command);
    case RDSR_WEL:
    case RDSR_WIP:
      return wait_for_status(command, RunState.timeoutMs);
    case PP:
      return imageFileGiven ? program_image(command, RunState.imageFile) : no_file(PP_GUARD_LINE);
    case READ:
    case FREAD:
      return read_flash_to_file(command, RunState.outputFile);
    case VER:
      return read_version_text(command, RunState.outputFile);
    case CHKSUM:
      return print_range_checksum(command, RunState.outputFile);
    case DP:
      return deep_power_down(command);
    case RES:
      return read_electronic_signature(command);
    case WRITE:
      return imageFileGiven ? erase_and_write_image(command, RunState.imageFile)
                            : no_file(WRITE_GUARD_LINE);
    default:
      std::fprintf(stderr, "%s(%d): ERROR: Fatal Error of System!\n", MODULE_NAME, NO_COMMAND_LINE);
      return -1;
  }
}
