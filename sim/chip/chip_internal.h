// SPDX-License-Identifier: MIT
#pragma once
// Shared between the chip model's sources; not part of the public API.
#include "chip_model.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chipsim {

// The profiles, their fields and values are the parts reader's (parts_reader.h).
using namespace flashparts;

constexpr uint8_t WEL = 0x02;

// state.bin: fixed size, every integer little-endian, so a state written by one
// host is read identically by any other (x86-64 and 32-bit big-endian PowerPC).
// Version 1 (512 bytes, a 256-byte latch, no fields at 19, 21, 22 or flag bits 2-4)
// and version 2 (no fields from 560 on, flag bits 0-4) are still read; the file is
// rewritten as version 3.
constexpr size_t STATE_FILE_BYTES = 1024;
constexpr size_t STATE_V1_FILE_BYTES = 512;
constexpr uint32_t STATE_VERSION = 3;
constexpr size_t OFF_MAGIC = 0;       // "RFCS"
constexpr size_t OFF_VERSION = 4;     // u32
constexpr size_t OFF_CLOCK = 8;       // u64 device time, ns
constexpr size_t OFF_STATUS = 16;     // u8 status bits 7..1 (WIP is derived from the pending op)
constexpr size_t OFF_CONFIG = 17;     // u8
constexpr size_t OFF_FLAGS = 18;      // u8 FLAG_*
constexpr size_t OFF_BANK = 19;       // u8 bank register: bit 7 4-byte addresses, bits 6..0 bank
constexpr size_t OFF_PEND_KIND = 20;  // u8 PendingKind
constexpr size_t OFF_NV_STATUS = 21;  // u8 status as last written for good (what power-up restores)
constexpr size_t OFF_NV_CONFIG = 22;  // u8
constexpr size_t OFF_PEND_ADDR = 24;  // u32 page/block base, or register-write mask
constexpr size_t OFF_PEND_LEN = 28;   // u32 bytes covered
constexpr size_t OFF_PEND_START = 32;    // u64 ns
constexpr size_t OFF_PEND_DUR = 40;      // u64 ns
constexpr size_t OFF_PEND_DATA = 48;     // 512 bytes: page latch, or the registers to write
constexpr size_t OFF_AAI_ADDR = 560;     // u32 where the next AAI word goes
constexpr size_t OFF_STATUS3 = 564;      // u8 third status register
constexpr size_t OFF_NV_STATUS3 = 565;   // u8 as last written for good
constexpr size_t OFF_FLAG_STATUS = 566;  // u8 flag status error bits (bit 7 is derived)

constexpr uint8_t FLAG_DEEP_POWER_DOWN = 1;
constexpr uint8_t FLAG_WRITE_ARMED = 2;   // 0x50 seen (EWSR, volatile write enable), WRR not yet
constexpr uint8_t FLAG_QPI = 4;           // 0x35 entered QPI or quad: deaf to single-wire commands
constexpr uint8_t FLAG_BANK_ARMED = 8;    // 0xB9 (BRAC) seen: the next WRR writes the bank register
constexpr uint8_t FLAG_GLOBAL_LOCK = 16;  // every block locked until 0x98
constexpr uint8_t FLAG_AAI = 32;          // inside an AAI word program: only AD, 04, 05 obeyed
constexpr uint8_t STATUS_AAI = 0x40;      // RDSR bit 6 while in AAI
constexpr uint8_t FLAG_STATUS_READY = 0x80;
constexpr uint8_t FLAG_STATUS_PROTECTION = 0x02;
constexpr uint8_t FLAG_STATUS_PROGRAM = 0x10;
constexpr uint8_t FLAG_STATUS_ERASE = 0x20;
constexpr uint8_t BANK_ADDR4 = 0x80;

enum PendingKind : uint8_t { PEND_NONE = 0, PEND_PROGRAM = 1, PEND_ERASE = 2, PEND_REGISTERS = 3 };

// Register-write mask bits in PendingOp::address.
constexpr uint32_t WRITE_STATUS = 1;
constexpr uint32_t WRITE_CONFIG = 2;
constexpr uint32_t WRITE_STATUS3 = 4;

struct PendingOp {
  uint8_t kind;
  uint32_t address;
  uint32_t length;
  uint64_t startNs;
  uint64_t durationNs;
  uint8_t data[MAX_PAGE_BYTES];
};

// Everything a powered chip remembers besides its array.
struct PersistentState {
  uint64_t clockNs;
  uint8_t status;  // WEL and the other bits; never WIP
  uint8_t config;
  uint8_t nvStatus;  // the values a power cycle brings back (volatile writes leave them)
  uint8_t nvConfig;
  uint8_t flags;  // FLAG_*
  uint8_t bank;   // bank register
  uint8_t status3;
  uint8_t nvStatus3;
  uint8_t flagStatus;  // error bits of the flag status register
  uint32_t aaiAddress;
  PendingOp pending;
};

// The instruction being shifted in while CS# is low.
struct Frame {
  bool selected;
  bool ignored;
  uint64_t count;  // bytes shifted so far
  uint8_t opcode;
  uint8_t role;          // what the opcode is on this part (chip_bus.cpp)
  uint8_t addressBytes;  // how many bytes after the opcode are the address
  uint32_t address;      // assembled address, then the running read pointer
  uint32_t dataCount;    // page-program data bytes received
  uint8_t regs[2];
  bool aaiNext;  // an AD frame inside AAI: two data bytes, no address
  uint8_t page[MAX_PAGE_BYTES];
};

// State file and profile text: pure functions over bytes, so a damaged state
// directory is refused with a reason.
void encode_state(const PersistentState& st, uint8_t* out);  // STATE_FILE_BYTES
// status3: the third register's value for a file from before version 3, which lacks it.
bool decode_state(const uint8_t* in, size_t length, PersistentState* st, std::string* error,
                  uint8_t status3 = 0);
bool profile_from_text(const std::string& text, ChipProfile* profile, std::string* error);

// The parts catalogue built into the library.
extern const char PARTS_CATALOGUE_TEXT[];
extern const char KERNEL_PARTS_TEXT[];  // parts/kernel.txt: the parts imported from Linux
const std::string& catalogue_error();  // why the built-in catalogue gave no profiles, if it did not

// Settings (chip_profiles.cpp) and the identification tables derived from a profile.
// *failed: the index of the setting refused, settings.size() when they disagree together.
bool apply_settings(ChipProfile* profile, const std::vector<std::string>& settings,
                    std::string* error, size_t* failed = nullptr);
std::vector<uint8_t> sfdp_image(const ChipProfile& profile);

// Persistence (chip_state.cpp): the whole record, or just the clock on the hot path.
void save_state(ChipState* chip);
void save_clock(ChipState* chip);
bool pending_running(const ChipState* chip);
bool chip_busy(const ChipState* chip);
uint8_t chip_status_register(const ChipState* chip);  // as RDSR reads it (WIP, WEL included)
void power_on(const ChipProfile& profile, PersistentState* st);  // registers as powered up

// Completes the pending operation once its time has run out (chip_bus.cpp).
void settle(ChipState* chip);

}  // namespace chipsim

struct ChipState {
  std::string dir;
  ChipProfile profile;
  ChipFaults faults;
  uint8_t* array;
  uint8_t* stateMap;
  bool writable;  // false: inspection, on private copies the state directory never sees
  chipsim::PersistentState st;
  chipsim::Frame frame;
  std::vector<uint8_t> sfdp;
  bool stuckBusy;  // wipNeverClears: an operation started in this run never reports done
};
