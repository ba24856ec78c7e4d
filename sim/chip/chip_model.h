// SPDX-License-Identifier: MIT
#pragma once
// A simulated SPI NOR flash chip, seen from its pins. The array, the registers,
// any program/erase still running and the chip's own clock live in a state
// directory, so the chip stays "powered" between processes that attach to it.
#include <cstdint>
#include <string>
#include <vector>

#include "parts_reader.h"  // ChipProfile: a part as the catalogue describes it

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
