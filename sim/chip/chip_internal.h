// SPDX-License-Identifier: MIT
#pragma once
// Shared between the chip model's sources; not part of the public API.
#include "chip_model.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chipsim {

constexpr uint8_t WIP = 0x01;
constexpr uint8_t WEL = 0x02;
constexpr uint32_t PAGE_BYTES = 256;
constexpr uint32_t MAX_CHIP_BYTES = 16u * 1024 * 1024;  // 3-byte addressing reaches no further

// state.bin: fixed size, every integer little-endian, so a state written by one
// host is read identically by any other (x86-64 and 32-bit big-endian PowerPC).
constexpr size_t STATE_FILE_BYTES = 512;
constexpr uint32_t STATE_VERSION = 1;
constexpr size_t OFF_MAGIC = 0;        // "RFCS"
constexpr size_t OFF_VERSION = 4;      // u32
constexpr size_t OFF_CLOCK = 8;        // u64 device time, ns
constexpr size_t OFF_STATUS = 16;      // u8 status bits 7..1 (WIP is derived from the pending op)
constexpr size_t OFF_CONFIG = 17;      // u8
constexpr size_t OFF_FLAGS = 18;       // u8 bit0 deep power-down, bit1 volatile SR write armed
constexpr size_t OFF_PEND_KIND = 20;   // u8 PendingKind
constexpr size_t OFF_PEND_ADDR = 24;   // u32 page/block base, or register-write mask
constexpr size_t OFF_PEND_LEN = 28;    // u32 bytes covered
constexpr size_t OFF_PEND_START = 32;  // u64 ns
constexpr size_t OFF_PEND_DUR = 40;    // u64 ns
constexpr size_t OFF_PEND_DATA = 48;   // 256 bytes: page latch, or status/config to write

enum PendingKind : uint8_t { PEND_NONE = 0, PEND_PROGRAM = 1, PEND_ERASE = 2, PEND_REGISTERS = 3 };

// Register-write mask bits in PendingOp::address.
constexpr uint32_t WRITE_STATUS = 1;
constexpr uint32_t WRITE_CONFIG = 2;

struct PendingOp {
  uint8_t kind;
  uint32_t address;
  uint32_t length;
  uint64_t startNs;
  uint64_t durationNs;
  uint8_t data[PAGE_BYTES];
};

// Everything a powered chip remembers besides its array.
struct PersistentState {
  uint64_t clockNs;
  uint8_t status;  // WEL and the non-volatile bits; never WIP
  uint8_t config;
  bool deepPowerDown;
  bool volatileWriteArmed;
  PendingOp pending;
};

// The instruction being shifted in while CS# is low.
struct Frame {
  bool selected;
  bool ignored;
  uint64_t count;  // bytes shifted so far
  uint8_t opcode;
  uint32_t address;    // assembled address, then the running read pointer
  uint32_t dataCount;  // page-program data bytes received
  uint8_t regs[2];
  uint8_t page[PAGE_BYTES];
};

void encode_state(const PersistentState& st, uint8_t* out);  // STATE_FILE_BYTES
bool decode_state(const uint8_t* in, size_t length, PersistentState* st, std::string* error);

// Profiles and "key=value" settings (chip_profiles.cpp).
bool apply_settings(ChipProfile* profile, uint8_t* status, uint8_t* config,
                    const std::vector<std::string>& settings, std::string* error);
std::string profile_to_text(const ChipProfile& profile);
bool profile_from_text(const std::string& text, ChipProfile* profile, std::string* error);
std::vector<uint8_t> sfdp_image(const ChipProfile& profile);
bool has_32k_erase(const ChipProfile& profile);

// Persistence (chip_state.cpp): the whole record, or just the clock on the hot path.
void save_state(ChipState* chip);
void save_clock(ChipState* chip);
bool pending_running(const ChipState* chip);

// Completes the pending operation once its time has run out (chip_bus.cpp).
void settle(ChipState* chip);

}  // namespace chipsim

struct ChipState {
  std::string dir;
  ChipProfile profile;
  ChipFaults faults;
  uint8_t* array;
  uint8_t* stateMap;
  chipsim::PersistentState st;
  chipsim::Frame frame;
  std::vector<uint8_t> sfdp;
  bool stuckBusy;  // wipNeverClears: an operation started in this run never reports done
};
