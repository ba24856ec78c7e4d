// SPDX-License-Identifier: MIT
#pragma once
// A simulated SPI NOR flash chip, seen from its pins. The array, the registers,
// any program/erase still running and the chip's own clock live in a state
// directory, so the chip stays "powered" between processes that attach to it.
#include <cstdint>
#include <string>
#include <vector>

// What one erase opcode does on a part.
enum class EraseKind : uint8_t {
  ABSENT,  // not an instruction of the part: ignored, MISO reads FF
  BLOCK,   // the aligned block of blockBytes holding the address
  CHIP,    // the whole array
  MAP,     // the block holding the address, blocks of different sizes (mapBlocks)
};

struct EraseRule {
  EraseKind kind;
  uint32_t blockBytes;              // BLOCK
  std::vector<uint32_t> mapBlocks;  // MAP: block lengths from address 0, covering the array
};

// The erase opcodes a part may have, in the order of ChipProfile::erases.
constexpr uint8_t ERASE_OPCODES[] = {0x20, 0x40, 0x52, 0xD8, 0x60, 0xC7};
constexpr int ERASE_OPCODE_COUNT = 6;

// Block sizes an erase can have, in the order of ChipTimings::eraseNs.
constexpr uint32_t ERASE_SIZES[] = {4096, 8192, 32768, 65536, 131072, 262144};
constexpr int ERASE_SIZE_COUNT = 6;

enum class ProgramMode : uint8_t { PAGE, BYTE };  // 0x02: a wrapping page, or its first byte only
enum class PowerUpLock : uint8_t {
  NONE,    // the status register keeps what was last written to it
  BP,      // block-protect bits are volatile and come up as the profile's status
  GLOBAL,  // every block locked at power-up; only 0x98 (after WREN) unlocks
};
enum class RegisterWrite : uint8_t { IGNORED, STATUS, CONFIG, STATUS2 };  // what a WRR byte reaches
enum class Opcode35 : uint8_t { ABSENT, READ_CONFIG, READ_STATUS2, ENTER_QPI, ENTER_QUAD };
enum class Opcode50 : uint8_t { ABSENT, EWSR, VOLATILE_SR_ENABLE, CLEAR_FLAG_STATUS };
enum class OpcodeB9 : uint8_t { ABSENT, DEEP_POWER_DOWN, BANK_ACCESS };
enum class ResAnswer : uint8_t { ABSENT, SIGNATURE, AS_REMS };  // AS_REMS: AB is 90's Read-ID
enum class AddressBanks : uint8_t {
  NONE,  // 3-byte addresses reach the whole part (at most 16 MiB)
  BAR,   // bank address register: B9 (BRAC) + WRR, bit 7 = 4-byte addresses
  EAR,   // extended address register, 4-byte mode by its own opcodes
};

struct ChipTimings {                   // datasheet typical times, nanoseconds
  uint64_t programNs;                  // one 0x02: a page, or a byte on byte-program parts
  uint64_t eraseNs[ERASE_SIZE_COUNT];  // by block size, 0 where the part has none
  uint64_t chipEraseNs;
  uint64_t registerWriteNs;
};

// One part: the traits the model decides every opcode by, as the kernel's
// flash_info tables do. Built from a row of the parts catalogue (and settings).
struct ChipProfile {
  std::string name;    // profile name, lower case: "w25q128jv"
  std::string part;    // as datasheets write it: "W25Q128JV"; a model's own name
  bool model;          // one of the simulator's model chips, not a datasheet part
  bool imported;       // a part from Linux's tables: its ID and geometry, the rest generic
  uint32_t sizeBytes;  // 0: geometry unknown (the part describes itself by SFDP)
  uint8_t jedecId[3];  // RDID 0x9F: manufacturer, device byte 1, device byte 2
  std::vector<uint8_t> extendedId;  // RDID: after the 3 ID bytes comes a length byte n =
                                    // extendedId.size(), then the n bytes
  bool extendedIdIsCfi;             // extendedId is the ID-CFI area derived from the traits
  bool hasRems;                     // REMS 0x90: manufacturer and remsDeviceId
  uint8_t remsDeviceId;
  ResAnswer res;
  uint8_t electronicSignature;  // RES 0xAB with ResAnswer::SIGNATURE
  bool hasSfdp;                 // 0x5A answers a table, or reads as absent (0xFF) when false
  EraseRule erases[ERASE_OPCODE_COUNT];
  ProgramMode program;
  uint32_t pageBytes;
  uint8_t status;  // at power-up (factory value of a non-volatile register)
  bool hasConfig;  // a second register: configuration or status register 2
  uint8_t config;  // its value at power-up
  PowerUpLock lock;
  RegisterWrite wrr1;      // the first WRR data byte
  RegisterWrite wrr2;      // the second WRR data byte
  RegisterWrite opcode31;  // 0x31 c
  Opcode35 opcode35;
  Opcode50 opcode50;
  OpcodeB9 opcodeB9;
  AddressBanks banks;
  uint8_t startBank;  // the address state a boot loader left when the chip was created
  bool startAddr4;
  ChipTimings timings;
};

// The built-in profiles, one per row of the parts catalogue, in its order.
bool chip_profile_by_name(const std::string& name, ChipProfile* out);
std::vector<ChipProfile> chip_profiles();

// Per-run misbehaviour, not persisted. welNeverSets: WREN is ignored. wipNeverClears: an
// operation started in this run hangs (WIP and WEL stay set, nothing lands) until a later
// attachment without the fault lets it finish by device time.
struct ChipFaults {
  bool welNeverSets;
  bool wipNeverClears;
};

struct ChipState;  // opaque: one attached, persistent chip

// Create or reset the chip in stateDir (directory created if missing): every byte `fill`,
// then, if imagePath is not empty, that file's bytes from address 0. `settings` are
// "key=value" overrides of the profile (sim/README.md lists them), e.g. status=0x1C,
// size=1M, bank=1. Returns false with *error set on failure.
bool chip_create(const std::string& stateDir, const std::string& profileName, uint8_t fill,
                 const std::string& imagePath, const std::vector<std::string>& settings,
                 std::string* error);

// Returns nullptr with *error set when the directory holds no valid chip.
ChipState* chip_attach(const std::string& stateDir, const ChipFaults& faults, std::string* error);
void chip_detach(ChipState* chip);  // persists registers, pending operation and clock

// The bus as the chip sees it, one byte each way per chip_shift.
void chip_select(ChipState* chip);                  // CS# falls
uint8_t chip_shift(ChipState* chip, uint8_t mosi);  // returns MISO for this byte
void chip_deselect(ChipState* chip);                // CS# rises: writes/erases start here

// Device time (persisted with the state).
uint64_t chip_now_ns(const ChipState* chip);
void chip_advance_ns(ChipState* chip, uint64_t ns);  // busy operations complete as time passes

// Power lost right now, and back: a running program/erase leaves what silicon would (part
// of the page programmed, part of the block erased), the volatile state is gone (latches,
// modes, bank register, volatile register values, the power-up lock is back) and
// everything is made durable. The array is kept.
void chip_power_cut(ChipState* chip);

// Inspection and loading, for the flashsim command.
uint32_t chip_size(const ChipState* chip);
const uint8_t* chip_contents(const ChipState* chip);
void chip_load(ChipState* chip, uint32_t offset, const uint8_t* bytes,
               uint32_t length);                                   // raw overwrite
void chip_set_registers(ChipState* chip, int status, int config);  // -1 leaves one unchanged
std::string chip_describe(const ChipState* chip);  // multi-line text: profile, size, SR, CR, WEL,
                                                   // WIP, DP, QPI, bank, lock, clock, pending op
