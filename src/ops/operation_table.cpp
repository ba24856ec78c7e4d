// SPDX-License-Identifier: MIT
// The operations table: one row per operation, read by the option parser for
// the operands and by dispatch for the handler.
#include "ops/operations.h"

namespace {

// Each operation takes only what it needs of the run; these hand it over.
template <int (*OPERATION)(const FlashCommand*)>
int command_only(const FlashCommand* cmd, const OperationInputs*) {
  return OPERATION(cmd);
}
template <int (*OPERATION)(const FlashCommand*, FILE*)>
int with_image(const FlashCommand* cmd, const OperationInputs* inputs) {
  return OPERATION(cmd, inputs->imageFile);
}
template <int (*OPERATION)(const FlashCommand*, FILE*)>
int with_output(const FlashCommand* cmd, const OperationInputs* inputs) {
  return OPERATION(cmd, inputs->outputFile);
}
int with_timeout(const FlashCommand* cmd, const OperationInputs* inputs) {
  return wait_for_status(cmd, inputs->timeoutMs);
}

// The -f refusals name these lines: board engineers already grep for them.
constexpr int PP_NO_IMAGE_LINE = 1425;
constexpr int WRITE_NO_IMAGE_LINE = 1461;

// id, operand words, default timeout, line of the missing -f refusal, handler
const Operation OPERATIONS[] = {
    {RDID, NO_OPERAND, 0, 0, command_only<identify_chip>},
    {READ_ID, NO_OPERAND, 0, 0, command_only<identify_manufacturer_and_device>},
    {VSRWE, NO_OPERAND, 0, 0, command_only<send_single_instruction>},
    {WREN, NO_OPERAND, 0, 0, command_only<send_single_instruction>},
    {WRDI, NO_OPERAND, 0, 0, command_only<send_single_instruction>},
    {RDSR, NO_OPERAND, 0, 0, command_only<read_register>},
    {RDSR_WEL, TIMEOUT, WEL_TIMEOUT_MS, 0, with_timeout},
    {RDSR_WIP, TIMEOUT, WIP_TIMEOUT_MS, 0, with_timeout},
    {RDCR, NO_OPERAND, 0, 0, command_only<read_register>},
    {BE, NO_OPERAND, 0, 0, command_only<send_single_instruction>},
    {SE, START_ADDRESS, 0, 0, command_only<send_single_instruction>},
    {SE4K, START_ADDRESS, 0, 0, command_only<send_single_instruction>},
    {SE8K, START_ADDRESS, 0, 0, command_only<send_single_instruction>},
    {SE32K, START_ADDRESS, 0, 0, command_only<send_single_instruction>},
    {PP, START_ADDRESS, 0, PP_NO_IMAGE_LINE, with_image<program_image>},
    {WRR1, REGISTER_VALUE, 0, 0, command_only<send_single_instruction>},
    {WRR2, REGISTER_VALUE, 0, 0, command_only<send_single_instruction>},
    {READ, ADDRESS_AND_SIZE, 0, 0, with_output<read_flash_to_file>},
    {FREAD, ADDRESS_AND_SIZE, 0, 0, with_output<read_flash_to_file>},
    {VER, ADDRESS_AND_SIZE, 0, 0, with_output<read_version_text>},
    {CHKSUM, ADDRESS_AND_SIZE, 0, 0, with_output<print_range_checksum>},
    {DP, NO_OPERAND, 0, 0, command_only<deep_power_down>},
    {RES, NO_OPERAND, 0, 0, command_only<read_electronic_signature>},
    {WRITE, START_ADDRESS, 0, WRITE_NO_IMAGE_LINE, with_image<erase_and_write_image>},
};

}  // namespace

const Operation* find_operation(uint32_t id) {
  for (const Operation& operation : OPERATIONS) {
    if (operation.id == id) return &operation;
  }
  return nullptr;
}
