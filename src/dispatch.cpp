#include "flash/romflash.h"
#include "front_end.h"
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
  switch (RunState.command.id) {
    case RDID:
      return identify_chip();
    case READ_ID:
      return identify_manufacturer_and_device();
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
      return send_single_instruction();
    case RDSR:
    case RDCR:
      return read_register();
    case RDSR_WEL:
    case RDSR_WIP:
      return wait_for_status();
    case PP:
      return imageFileGiven ? program_image(&RunState.command) : no_file(PP_GUARD_LINE);
    case READ:
    case FREAD:
      return read_flash_to_file();
    case VER:
      return read_version_text();
    case CHKSUM:
      return print_range_checksum();
    case DP:
      return deep_power_down();
    case RES:
      return read_electronic_signature();
    case WRITE:
      return imageFileGiven ? erase_and_write_image(&RunState.command)
                            : no_file(WRITE_GUARD_LINE);
    default:
      std::fprintf(stderr, "%s(%d): ERROR: Fatal Error of System!\n", MODULE_NAME,
                   NO_COMMAND_LINE);
      return -1;
  }
}
