// SPDX-License-Identifier: MIT
#pragma once
// A simulated SPI NOR flash chip, seen from its pins. The array, the registers,
// any program/erase still running and the chip's own clock live in a state
// directory, so the chip stays "powered" between processes that attach to it.
#include <cstdint>
#include <string>
#include <vector>

struct ChipTimings {         // datasheet typical times, nanoseconds
  uint64_t pageProgramNs;    // 0.7 ms
  uint64_t erase4kNs;        // 45 ms
  uint64_t erase8kNs;        // 60 ms
  uint64_t erase32kNs;       // 120 ms
  uint64_t erase64kNs;       // 150 ms
  uint64_t chipEraseNs;      // 40 s per 16 MiB (profiles scale it with size)
  uint64_t registerWriteNs;  // 5 ms
};

struct ChipProfile {
  std::string name;
  uint32_t sizeBytes;
  uint8_t jedecId[3];               // RDID 0x9F: manufacturer, device byte 1, device byte 2
  std::vector<uint8_t> extendedId;  // RDID: after the 3 ID bytes comes a length byte n =
                                    // extendedId.size(), then the n bytes
  uint8_t remsDeviceId;             // REMS 0x90 device byte
  uint8_t electronicSignature;      // RES 0xAB
  bool hasConfigRegister;           // RDCR 0x35 and the second WRR byte
  bool has8kAnd32kErase;            // 0x40 and 0x52
  bool has32kErase;                 // 0x52 without 0x40 (Winbond parts); implied by the above
  bool hasSfdp;                     // 0x5A answers a table, or reads as absent (0xFF) when false
  ChipTimings timings;
};

// Built-in profiles: "default" (16 MiB, JEDEC 01 20 18 + 77 extended bytes),
// "w25q128" (16 MiB, EF 40 18, SFDP) and "small" (1 MiB variant of default).
bool chip_profile_by_name(const std::string& name, ChipProfile* out);
std::vector<std::string> chip_profile_names();

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
// "key=value" overrides applied to the profile and registers:
//   status=0xNN  config=0xNN  size=N  jedec="EF 40 18"  ext="11 22 33" (may be empty: n = 0)
//   rems=0xNN  res=0xNN  sfdp=0|1  erase8k32k=0|1  config_register=0|1
//   page_program_ns=N  erase4k_ns=N  erase8k_ns=N  erase32k_ns=N
//   erase64k_ns=N  chip_erase_ns=N  register_write_ns=N
// Numbers accept decimal or 0x-prefixed hex; size also accepts K/M suffixes.
// Returns false with *error set on failure.
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

// Power lost right now: a running program/erase leaves what silicon would (part of the page
// programmed, part of the block erased), and everything is made durable. The caller kills
// the process immediately afterwards, so no chip_detach follows.
void chip_power_cut(ChipState* chip);

// Makes the registers, pending operation and clock durable without detaching
// (the array itself is always shared-mapped).
void chip_sync(ChipState* chip);

// Inspection and loading, for the flashsim command.
const ChipProfile& chip_profile(const ChipState* chip);
uint32_t chip_size(const ChipState* chip);
const uint8_t* chip_contents(const ChipState* chip);
void chip_load(ChipState* chip, uint32_t offset, const uint8_t* bytes,
               uint32_t length);                      // raw overwrite
uint8_t chip_status_register(const ChipState* chip);  // as RDSR would read it (WIP, WEL included)
uint8_t chip_config_register(const ChipState* chip);
void chip_set_registers(ChipState* chip, int status, int config);  // -1 leaves one unchanged
bool chip_busy(const ChipState* chip);
bool chip_in_deep_power_down(const ChipState* chip);
bool chip_volatile_write_armed(const ChipState* chip);  // VSRWE seen, next WRR not yet
std::string chip_describe(const ChipState* chip);  // multi-line text: profile, size, SR, CR, WEL,
                                                   // WIP, DP, volatile-SR, clock, pending op
