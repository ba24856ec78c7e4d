// SPDX-License-Identifier: MIT
// Flash operations: what each -o operation does, and the table that names them.
//
// Each operation works on the command, files and timeout it is handed and
// returns 0 or STATUS_FAIL.
#pragma once

#include <cstdint>
#include <cstdio>

#include "flash/flash.h"

// Single instructions and identification.
int send_single_instruction(const FlashCommand* cmd);
int identify_chip(const FlashCommand* cmd);                        // RDID
int identify_manufacturer_and_device(const FlashCommand* cmd);     // READ_ID
int read_register(const FlashCommand* cmd);                        // RDSR, RDCR
int read_electronic_signature(const FlashCommand* cmd);            // RES
int deep_power_down(const FlashCommand* cmd);                      // DP
int read_version_text(const FlashCommand* cmd, FILE* outputFile);  // VER
int wait_for_status(const FlashCommand* cmd, uint32_t timeoutMs);  // RDSR_WEL, RDSR_WIP

// Reading and sums.
uint32_t sum16(const uint8_t* buf, uint32_t len);
uint32_t flash_checksum(uint32_t address, uint32_t size);
int read_flash_to_file(const FlashCommand* cmd, FILE* outputFile);    // READ, FREAD
int print_range_checksum(const FlashCommand* cmd, FILE* outputFile);  // CHKSUM

// Programming.
uint8_t not_blank(const uint8_t* buf, uint32_t len);
int program_image(const FlashCommand* command, FILE* imageFile);          // PP
int erase_and_write_image(const FlashCommand* command, FILE* imageFile);  // WRITE

// The words that follow an operation's name on the command line.
enum OperandKind : uint8_t {
  NO_OPERAND,        // none: the words after the name are not read
  TIMEOUT,           // an optional wait in ms, else the row's default
  START_ADDRESS,     // a mandatory address
  REGISTER_VALUE,    // a mandatory register value
  ADDRESS_AND_SIZE,  // a mandatory address within 32 signed bits, then an optional size
};

// What an operation may take from the run besides its command.
struct OperationInputs {
  FILE* imageFile;
  FILE* outputFile;
  uint32_t timeoutMs;
};

// One row per operation a user can select.
struct Operation {
  CommandId id;
  OperandKind operands;
  uint32_t defaultTimeoutMs;  // a TIMEOUT without its word
  // Needs -f: the line number the refusal names when it is missing (0: no -f needed).
  int noImageLine;
  int (*run)(const FlashCommand* cmd, const OperationInputs* inputs);
};

// The operation of this command, or null when there is none.
const Operation* find_operation(uint32_t id);
