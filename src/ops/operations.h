// The operations a user selects with -o, and the pieces they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "flash/romflash.h"

// A cleared heap buffer, released on every return path; null when memory is short.
inline std::unique_ptr<uint8_t[]> zeroed_buffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]());
}

// Single instructions and identification (RunState.command).
int send_single_instruction();
int identify_chip();                     // RDID
int identify_manufacturer_and_device();  // READ_ID
int read_register();                     // RDSR, RDCR
int read_electronic_signature();         // RES
int deep_power_down();                   // DP
int read_version_text();                 // VER
int wait_for_status();                   // RDSR_WEL, RDSR_WIP

// A reply read of up to three immediate attempts; the retry-out message is
// printed when all fail. 0 or STATUS_FAIL.
int transfer_with_retries(const FlashCommand* cmd, uint8_t* buf, uint32_t rxLen,
                          const char* retryOutMessage);

// Reading and sums.
uint32_t sum16(const uint8_t* buf, uint32_t len);
uint32_t flash_checksum(uint32_t address, uint32_t size);
int read_flash_to_file();  // READ, FREAD
int print_range_checksum();  // CHKSUM

// Programming.
uint8_t not_blank(const uint8_t* buf, uint32_t len);
int program_image(const FlashCommand* command);          // PP
int erase_and_write_image(const FlashCommand* command);  // WRITE
