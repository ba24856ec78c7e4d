// SPDX-License-Identifier: MIT
// The chip as seen from its pins: instructions decoded byte by byte while CS# is
// low, writes and erases started when CS# rises, and the device clock that
// finishes them.
#include "chip_internal.h"

#include <sys/mman.h>
#include <cstring>

namespace chipsim {
namespace {

enum : uint8_t {
  OP_WRR = 0x01,
  OP_PROGRAM = 0x02,
  OP_READ = 0x03,
  OP_WRDI = 0x04,
  OP_RDSR = 0x05,
  OP_WREN = 0x06,
  OP_FAST_READ = 0x0B,
  OP_ERASE_4K = 0x20,
  OP_WRITE_CR = 0x31,
  OP_RDCR = 0x35,
  OP_ERASE_8K = 0x40,
  OP_VSRWE = 0x50,
  OP_ERASE_32K = 0x52,
  OP_SFDP = 0x5A,
  OP_CHIP_ERASE = 0x60,
  OP_REMS = 0x90,
  OP_RDID = 0x9F,
  OP_RES = 0xAB,
  OP_DEEP_POWER_DOWN = 0xB9,
  OP_CHIP_ERASE_ALT = 0xC7,
  OP_ERASE_64K = 0xD8,
};

bool known_opcode(const ChipProfile& p, uint8_t op) {
  switch (op) {
    case OP_WRR:
    case OP_PROGRAM:
    case OP_READ:
    case OP_WRDI:
    case OP_RDSR:
    case OP_WREN:
    case OP_FAST_READ:
    case OP_ERASE_4K:
    case OP_VSRWE:
    case OP_SFDP:
    case OP_CHIP_ERASE:
    case OP_REMS:
    case OP_RDID:
    case OP_RES:
    case OP_DEEP_POWER_DOWN:
    case OP_CHIP_ERASE_ALT:
    case OP_ERASE_64K:
      return true;
    case OP_RDCR:
    case OP_WRITE_CR:
      return p.hasConfigRegister;
    case OP_ERASE_8K:
      return p.has8kAnd32kErase;
    case OP_ERASE_32K:
      return has_32k_erase(p);
    default:
      return false;
  }
}

bool carries_address(uint8_t op) {
  switch (op) {
    case OP_PROGRAM:
    case OP_READ:
    case OP_FAST_READ:
    case OP_ERASE_4K:
    case OP_ERASE_8K:
    case OP_ERASE_32K:
    case OP_ERASE_64K:
    case OP_SFDP:
    case OP_REMS:
      return true;
    default:
      return false;
  }
}

uint32_t erase_length(uint8_t op) {
  switch (op) {
    case OP_ERASE_4K:
      return 4 * 1024;
    case OP_ERASE_8K:
      return 8 * 1024;
    case OP_ERASE_32K:
      return 32 * 1024;
    default:
      return 64 * 1024;
  }
}

uint64_t erase_time(const ChipTimings& t, uint8_t op) {
  switch (op) {
    case OP_ERASE_4K:
      return t.erase4kNs;
    case OP_ERASE_8K:
      return t.erase8kNs;
    case OP_ERASE_32K:
      return t.erase32kNs;
    default:
      return t.erase64kNs;
  }
}

// While WIP is set the part answers only status reads; the second register
// (0x35) is readable too, as on both the Spansion and the Winbond parts.
// In deep power-down only RES wakes it.
bool obeyed(const ChipState* chip, uint8_t op) {
  if (chip->st.deepPowerDown) return op == OP_RES;
  if (!known_opcode(chip->profile, op)) return false;
  if (chip_busy(chip)) return op == OP_RDSR || op == OP_RDCR;
  return true;
}

// BP2..BP0 (status bits 4..2): 0 protects nothing, 1..6 the top 1/64 .. 1/2 of
// the array, 7 all of it. Bits 5..7 are stored but do not move the region.
bool is_protected(const ChipState* chip, uint32_t address, uint32_t length) {
  unsigned bp = (chip->st.status >> 2) & 7;
  if (bp == 0) return false;
  uint32_t size = chip->profile.sizeBytes;
  uint32_t from = bp == 7 ? 0 : size - (size >> (7 - bp));
  return address + length > from;
}

// Applies the first `done` bytes of a program or erase; a register write either
// lands whole (done == length) or not at all.
void apply(ChipState* chip, const PendingOp& op, uint32_t done) {
  if (op.kind == PEND_PROGRAM) {
    for (uint32_t i = 0; i < done; ++i) chip->array[op.address + i] &= op.data[i];
  } else if (op.kind == PEND_ERASE) {
    std::memset(chip->array + op.address, 0xFF, done);
  } else if (op.kind == PEND_REGISTERS && done == op.length) {
    if (op.address & WRITE_STATUS)
      chip->st.status = static_cast<uint8_t>((chip->st.status & (WIP | WEL)) | (op.data[0] & 0xFC));
    if (op.address & WRITE_CONFIG) chip->st.config = op.data[1];
  }
}

void start_operation(ChipState* chip, uint8_t kind, uint32_t address, uint32_t length,
                     uint64_t durationNs) {
  PendingOp& op = chip->st.pending;
  op.kind = kind;
  op.address = address;
  op.length = length;
  op.startNs = chip->st.clockNs;
  op.durationNs = durationNs;
  if (chip->faults.wipNeverClears) chip->stuckBusy = true;
  settle(chip);  // a zero-time operation is over at once
}

bool take_wel(ChipState* chip) { return (chip->st.status & WEL) != 0; }

void drop_wel(ChipState* chip) { chip->st.status &= static_cast<uint8_t>(~WEL); }

void write_registers(ChipState* chip, uint32_t mask, uint8_t status, uint8_t config) {
  PendingOp& op = chip->st.pending;
  op.data[0] = status;
  op.data[1] = config;
  if (chip->st.volatileWriteArmed) {
    // The volatile path: no WEL needed, no write time, WEL left as it was.
    chip->st.volatileWriteArmed = false;
    op.kind = PEND_REGISTERS;
    op.address = mask;
    op.length = 1;
    apply(chip, op, 1);
    op.kind = PEND_NONE;
    return;
  }
  if (!take_wel(chip)) return;
  start_operation(chip, PEND_REGISTERS, mask, 1, chip->profile.timings.registerWriteNs);
}

void program_page(ChipState* chip, const Frame& f) {
  if (!take_wel(chip)) return;
  uint32_t base = f.address & ~(PAGE_BYTES - 1);
  if (is_protected(chip, base, PAGE_BYTES)) {
    drop_wel(chip);
    return;
  }
  std::memcpy(chip->st.pending.data, f.page, PAGE_BYTES);
  start_operation(chip, PEND_PROGRAM, base, PAGE_BYTES, chip->profile.timings.pageProgramNs);
}

void erase(ChipState* chip, uint32_t base, uint32_t length, uint64_t durationNs) {
  if (!take_wel(chip)) return;
  uint32_t size = chip->profile.sizeBytes;
  if (length > size - base) length = size - base;
  if (is_protected(chip, base, length)) {
    drop_wel(chip);
    return;
  }
  start_operation(chip, PEND_ERASE, base, length, durationNs);
}

uint8_t rdid_byte(const ChipProfile& p, uint64_t j) {
  if (j < 3) return p.jedecId[j];
  if (j == 3) return static_cast<uint8_t>(p.extendedId.size());
  if (j - 4 < p.extendedId.size()) return p.extendedId[j - 4];
  return 0xFF;
}

}  // namespace

void settle(ChipState* chip) {
  PendingOp& op = chip->st.pending;
  // A stuck operation never ends: its data never lands and WEL stays set.
  if (op.kind == PEND_NONE || pending_running(chip) || chip->stuckBusy) return;
  apply(chip, op, op.length);
  op.kind = PEND_NONE;
  drop_wel(chip);
  save_state(chip);
}

}  // namespace chipsim

using namespace chipsim;

void chip_select(ChipState* chip) {
  settle(chip);
  std::memset(&chip->frame, 0, sizeof chip->frame);
  chip->frame.selected = true;
}

uint8_t chip_shift(ChipState* chip, uint8_t mosi) {
  Frame& f = chip->frame;
  if (!f.selected) return 0xFF;  // CS# high: MISO floats
  const uint64_t i = f.count++;
  if (i == 0) {
    f.opcode = mosi;
    f.ignored = !obeyed(chip, mosi);
    return 0xFF;
  }
  if (f.ignored) return 0xFF;
  const ChipProfile& p = chip->profile;
  if (carries_address(f.opcode) && i <= 3) {
    f.address = (f.address << 8) | mosi;
    if (i == 3 && f.opcode != OP_SFDP)
      f.address %= p.sizeBytes;  // high address bits are don't-care
    if (i == 3 && f.opcode == OP_PROGRAM) std::memset(f.page, 0xFF, PAGE_BYTES);
    return 0xFF;
  }
  uint8_t out = 0xFF;
  switch (f.opcode) {
    case OP_RDSR:
      return chip_status_register(chip);  // re-read every byte: WIP may clear mid-read
    case OP_RDCR:
      return chip->st.config;
    case OP_RDID:
      return rdid_byte(p, i - 1);
    case OP_REMS:
      return (((i - 4) & 1) != 0) != ((f.address & 1) != 0) ? p.remsDeviceId : p.jedecId[0];
    case OP_RES:
      return i >= 4 ? p.electronicSignature : 0xFF;
    case OP_READ:
    case OP_FAST_READ:
      if (f.opcode == OP_FAST_READ && i == 4) return 0xFF;  // dummy byte
      out = chip->array[f.address];
      f.address = (f.address + 1) % p.sizeBytes;
      return out;
    case OP_SFDP:
      if (i == 4) return 0xFF;
      if (p.hasSfdp && f.address < chip->sfdp.size()) out = chip->sfdp[f.address];
      f.address = (f.address + 1) & 0xFFFFFF;
      return out;
    case OP_PROGRAM:
      // The column wraps inside the page, so of a longer burst the last 256 bytes stay latched.
      f.page[(f.address + f.dataCount) & (PAGE_BYTES - 1)] = mosi;
      ++f.dataCount;
      return 0xFF;
    case OP_WRR:
    case OP_WRITE_CR:
      if (i <= 2) f.regs[i - 1] = mosi;
      return 0xFF;
    default:
      return 0xFF;
  }
}

void chip_deselect(ChipState* chip) {
  Frame& f = chip->frame;
  bool act = f.selected && f.count > 0 && !f.ignored;
  f.selected = false;
  if (!act) return;
  const ChipProfile& p = chip->profile;
  const uint64_t n = f.count;  // every write-type instruction must end on its last byte
  switch (f.opcode) {
    case OP_WREN:
      if (n == 1 && !chip->faults.welNeverSets) chip->st.status |= WEL;
      break;
    case OP_WRDI:
      if (n == 1) drop_wel(chip);
      break;
    case OP_VSRWE:
      if (n == 1) chip->st.volatileWriteArmed = true;
      break;
    case OP_DEEP_POWER_DOWN:
      if (n == 1) chip->st.deepPowerDown = true;
      break;
    case OP_RES:
      chip->st.deepPowerDown = false;
      break;
    case OP_WRR:
      if (n == 2 || n == 3)
        write_registers(chip, WRITE_STATUS | (n == 3 && p.hasConfigRegister ? WRITE_CONFIG : 0),
                        f.regs[0], f.regs[1]);
      break;
    case OP_WRITE_CR:
      if (n == 2) write_registers(chip, WRITE_CONFIG, 0, f.regs[0]);
      break;
    case OP_PROGRAM:
      if (n >= 5) program_page(chip, f);
      break;
    case OP_ERASE_4K:
    case OP_ERASE_8K:
    case OP_ERASE_32K:
    case OP_ERASE_64K:
      if (n == 4) {
        uint32_t len = erase_length(f.opcode);
        erase(chip, f.address & ~(len - 1), len, erase_time(p.timings, f.opcode));
      }
      break;
    case OP_CHIP_ERASE:
    case OP_CHIP_ERASE_ALT:
      if (n == 1) erase(chip, 0, p.sizeBytes, p.timings.chipEraseNs);
      break;
    default:
      return;  // reads change nothing
  }
  save_state(chip);
}

void chip_advance_ns(ChipState* chip, uint64_t ns) {
  uint64_t now = chip->st.clockNs;
  chip->st.clockNs = ns > UINT64_MAX - now ? UINT64_MAX : now + ns;
  settle(chip);
  save_clock(chip);
}

void chip_power_cut(ChipState* chip) {
  settle(chip);
  PendingOp& op = chip->st.pending;
  if (op.kind != PEND_NONE) {
    // What silicon leaves is proportional to the time it had: the leading part of
    // the page programmed, the leading part of the block erased.
    double fraction =
        static_cast<double>(chip->st.clockNs - op.startNs) / static_cast<double>(op.durationNs);
    uint32_t done = static_cast<uint32_t>(fraction * op.length);
    if (done >= op.length) done = op.length - 1;
    apply(chip, op, done);
    op.kind = PEND_NONE;
  }
  // Power-on state: latches and modes are volatile, the registers' stored bits are not.
  drop_wel(chip);
  chip->st.deepPowerDown = false;
  chip->st.volatileWriteArmed = false;
  chip->stuckBusy = false;
  std::memset(&chip->frame, 0, sizeof chip->frame);
  save_state(chip);
  msync(chip->stateMap, STATE_FILE_BYTES, MS_SYNC);
  msync(chip->array, chip->profile.sizeBytes, MS_SYNC);
}
