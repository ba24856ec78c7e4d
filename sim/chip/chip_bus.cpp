// SPDX-License-Identifier: MIT
// The chip as seen from its pins: instructions decoded byte by byte while CS# is
// low, writes and erases started when CS# rises, and the device clock that
// finishes them. What an opcode does is decided by the profile's traits alone.
#include <sys/mman.h>
#include <cstring>

#include "chip_internal.h"

#include <algorithm>

namespace chipsim {
namespace {

// What an opcode is on this part.
enum Role : uint8_t {
  NONE,  // not an instruction of the part: ignored, MISO reads FF
  READ_STATUS,
  READ_SECOND,  // the configuration register or status register 2
  ENTER_QPI,    // from CS# rise on, deaf to single-wire commands until power-off
  RDID,
  REMS,
  RES_SIGNATURE,
  READ,
  FAST_READ,
  SFDP,
  WREN,
  WRDI,
  ARM_WRITE,  // 0x50: the next WRR needs no WEL and takes no time
  WRR,
  WRITE_SECOND,
  PROGRAM,
  ERASE,
  DEEP_POWER_DOWN,
  BANK_ACCESS,    // BRAC: the next WRR writes the bank register
  GLOBAL_UNLOCK,  // 0x98 (ULBPR)
  AAI_WORD,       // 0xAD: the address once, then two bytes a frame
  ENTER_4BYTE,
  EXIT_4BYTE,
  READ_BANK,    // 0x16 BRRD, 0xC8 RDEAR
  WRITE_BANK,   // 0x17 BRWR, 0xC5 WREAR
  READ_FLAGS,   // 0x70
  CLEAR_FLAGS,  // 0x50 where it clears the flag status register
  READ_THIRD,
  WRITE_THIRD,
};

// The 4-byte opcodes of the erases, in the order of ERASE_OPCODES (0: none).
constexpr uint8_t ERASE4_OPCODES[ERASE_OPCODE_COUNT] = {0x21, 0, 0x5C, 0xDC, 0, 0};

// The erase rule an opcode stands for, 3-byte or native 4-byte; -1 for none.
int erase_slot(const ChipProfile& p, uint8_t op) {
  for (int i = 0; i < ERASE_OPCODE_COUNT; ++i)
    if (ERASE_OPCODES[i] == op || (p.native4Byte && ERASE4_OPCODES[i] == op && op != 0)) return i;
  return -1;
}

bool native_4byte_opcode(uint8_t op) {
  return op == 0x13 || op == 0x0C || op == 0x12 || op == 0x21 || op == 0x5C || op == 0xDC;
}

// The roles of opcodes that exist only with some trait of the part.
Role optional_role(const ChipProfile& p, uint8_t op) {
  const bool ear = p.bankRegister == BankRegister::EAR || p.bankRegister == BankRegister::EAR_WREN;
  const bool brwr = p.bankRegister == BankRegister::BRRD_BRWR;
  switch (op) {
    case 0x0C:
      return p.native4Byte ? FAST_READ : NONE;
    case 0x11:
      return p.opcode11 == RegisterWrite::STATUS3 ? WRITE_THIRD : NONE;
    case 0x12:
      return p.native4Byte ? PROGRAM : NONE;
    case 0x13:
      return p.native4Byte ? READ : NONE;
    case 0x15:
      return p.opcode15 == Opcode15::READ_CONFIG    ? READ_SECOND
             : p.opcode15 == Opcode15::READ_STATUS3 ? READ_THIRD
                                                    : NONE;
    case 0x16:
      return brwr ? READ_BANK : NONE;
    case 0x17:
      return brwr ? WRITE_BANK : NONE;
    case 0x70:
      return p.flagStatus ? READ_FLAGS : NONE;
    case 0xAD:
      return p.aaiWordProgram ? AAI_WORD : NONE;
    case 0xB7:
      return p.opcodeB7 != Enter4Byte::ABSENT ? ENTER_4BYTE : NONE;
    case 0xC5:
      return ear ? WRITE_BANK : NONE;
    case 0xC8:
      return ear ? READ_BANK : NONE;
    case 0xE9:
      return p.opcodeB7 != Enter4Byte::ABSENT ? EXIT_4BYTE : NONE;
    default:
      return NONE;
  }
}

Role role_of(const ChipProfile& p, uint8_t op) {
  const int slot = erase_slot(p, op);
  if (slot >= 0) return p.erases[slot].kind == EraseKind::ABSENT ? NONE : ERASE;
  switch (op) {
    case 0x01:
      return WRR;
    case 0x02:
      return PROGRAM;
    case 0x03:
      return READ;
    case 0x04:
      return WRDI;
    case 0x05:
      return READ_STATUS;
    case 0x06:
      return WREN;
    case 0x0B:
      return FAST_READ;
    case 0x31:
      return p.opcode31 == RegisterWrite::IGNORED ? NONE : WRITE_SECOND;
    case 0x35:
      switch (p.opcode35) {
        case Opcode35::READ_CONFIG:
        case Opcode35::READ_STATUS2:
          return READ_SECOND;
        case Opcode35::ENTER_QPI:
        case Opcode35::ENTER_QUAD:
          return ENTER_QPI;
        default:
          return NONE;
      }
    case 0x50:
      return p.opcode50 == Opcode50::EWSR || p.opcode50 == Opcode50::VOLATILE_SR_ENABLE ? ARM_WRITE
             : p.opcode50 == Opcode50::CLEAR_FLAG_STATUS && p.flagStatus ? CLEAR_FLAGS
                                                                         : NONE;
    case 0x5A:
      return SFDP;
    case 0x90:
      return p.hasRems ? REMS : NONE;
    case 0x98:
      return p.lock == PowerUpLock::GLOBAL ? GLOBAL_UNLOCK : NONE;
    case 0x9F:
      return RDID;
    case 0xAB:
      return p.res == ResAnswer::SIGNATURE ? RES_SIGNATURE
             : p.res == ResAnswer::AS_REMS ? REMS
                                           : NONE;
    case 0xB9:
      return p.opcodeB9 == OpcodeB9::DEEP_POWER_DOWN ? DEEP_POWER_DOWN
             : p.opcodeB9 == OpcodeB9::BANK_ACCESS   ? BANK_ACCESS
                                                     : NONE;
    default:
      return optional_role(p, op);
  }
}

// Array instructions take 4 address bytes in 4-byte mode, the native 4-byte opcodes
// always; ID and SFDP reads keep 3. An AAI word inside the sequence has no address.
uint8_t address_bytes(const ChipState* chip, uint8_t op, Role role) {
  if (native_4byte_opcode(op) && role != NONE) return 4;
  switch (role) {
    case AAI_WORD:
      if (chip->st.flags & FLAG_AAI) return 0;
      return chip->st.bank & BANK_ADDR4 ? 4 : 3;
    case READ:
    case FAST_READ:
    case PROGRAM:
    case ERASE:
      return chip->st.bank & BANK_ADDR4 ? 4 : 3;
    case REMS:
    case SFDP:
      return 3;
    default:
      return 0;
  }
}

// 3-byte addresses reach the bank in the bank register; what lies beyond the
// array wraps, as the part ignores address bits it does not have.
uint32_t array_address(const ChipState* chip, uint32_t raw, uint8_t bytes) {
  uint64_t a = raw;
  if (bytes == 3) a |= uint64_t(chip->st.bank & ~BANK_ADDR4 & 0xFF) << 24;
  return static_cast<uint32_t>(a % chip->profile.sizeBytes);
}

// While WIP is set the part answers only status reads; the second register is
// readable too. In deep power-down only RES wakes it; in QPI nothing single-wire
// reaches it.
bool obeyed(const ChipState* chip, uint8_t op, Role role) {
  if (chip->st.flags & FLAG_DEEP_POWER_DOWN) return op == 0xAB && role != NONE;
  if (chip->st.flags & FLAG_QPI) return false;
  if (role == NONE) return false;
  // Inside AAI the part takes the next word, WRDI and status reads only.
  if ((chip->st.flags & FLAG_AAI) && role != AAI_WORD && role != WRDI && role != READ_STATUS)
    return false;
  if (chip_busy(chip))
    return role == READ_STATUS || role == READ_SECOND || role == READ_THIRD || role == READ_FLAGS;
  return true;
}

// Everything is locked under the global lock. Otherwise BP2..BP0 (status bits
// 4..2): 0 protects nothing, 1..6 the top 1/64 .. 1/2 of the array, 7 all of it.
// Bits 5..7 are stored but do not move the region.
bool is_protected(const ChipState* chip, uint32_t address, uint32_t length) {
  if (chip->st.flags & FLAG_GLOBAL_LOCK) return true;
  unsigned bp = (chip->st.status >> 2) & 7;
  if (bp == 0) return false;
  uint32_t size = chip->profile.sizeBytes;
  uint32_t from = bp == 7 ? 0 : size - (size >> (7 - bp));
  return address + length > from;
}

void write_register_values(PersistentState* st, uint32_t mask, const uint8_t* data,
                           bool nonVolatile) {
  if (mask & WRITE_STATUS) {
    st->status = static_cast<uint8_t>((st->status & (WIP | WEL)) | (data[0] & 0xFC));
    if (nonVolatile) st->nvStatus = data[0] & 0xFC;
  }
  if (mask & WRITE_CONFIG) {
    st->config = data[1];
    if (nonVolatile) st->nvConfig = data[1];
  }
  if (mask & WRITE_STATUS3) {
    st->status3 = data[2];
    if (nonVolatile) st->nvStatus3 = data[2];
  }
}

// Applies the first `done` bytes of a program or erase; a register write either
// lands whole (done == length) or not at all.
void apply(ChipState* chip, const PendingOp& op, uint32_t done) {
  if (op.kind == PEND_PROGRAM) {
    for (uint32_t i = 0; i < done; ++i) chip->array[op.address + i] &= op.data[i];
  } else if (op.kind == PEND_ERASE) {
    std::memset(chip->array + op.address, 0xFF, done);
  } else if (op.kind == PEND_REGISTERS && done == op.length) {
    write_register_values(&chip->st, op.address, op.data, true);
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

bool wel_set(ChipState* chip) { return (chip->st.status & WEL) != 0; }

void drop_wel(ChipState* chip) { chip->st.status &= static_cast<uint8_t>(~WEL); }

// data: status, second register, third register, as the mask picks them.
void write_registers(ChipState* chip, uint32_t mask, const uint8_t* data) {
  if (chip->st.flags & FLAG_WRITE_ARMED) {
    // After 0x50: no WEL needed, no write time, WEL left as it was; after a
    // volatile-write enable the values last until power-off.
    chip->st.flags &= static_cast<uint8_t>(~FLAG_WRITE_ARMED);
    write_register_values(&chip->st, mask, data,
                          chip->profile.opcode50 != Opcode50::VOLATILE_SR_ENABLE);
    return;
  }
  if (!wel_set(chip)) return;
  std::memcpy(chip->st.pending.data, data, 3);
  start_operation(chip, PEND_REGISTERS, mask, 1, chip->profile.timings.registerWriteNs);
}

// The bank register bits a part has: bit 7 (4-byte addresses) and its banks' bits.
uint8_t bank_bits(const ChipProfile& p) {
  const uint32_t banks = p.sizeBytes > BANK_BYTES ? p.sizeBytes / BANK_BYTES : 1;
  return static_cast<uint8_t>(BANK_ADDR4 | (banks - 1));
}

// Writes that change the addressing: BRWR, WREAR, B7, E9; some parts want WEL first.
void write_bank(ChipState* chip, uint8_t bank, bool needsWel) {
  if (needsWel && !wel_set(chip)) return;
  chip->st.bank = bank;
  if (needsWel) drop_wel(chip);
}

void write_register_frame(ChipState* chip, const Frame& f) {
  const ChipProfile& p = chip->profile;
  if (f.count != 2 && f.count != 3) return;
  if (chip->st.flags & FLAG_BANK_ARMED) {
    // BRAC then WRR: the byte goes to the bank register at once.
    chip->st.flags &= static_cast<uint8_t>(~FLAG_BANK_ARMED);
    chip->st.bank = f.regs[0] & bank_bits(p);
    return;
  }
  uint32_t mask = p.wrr1 == RegisterWrite::STATUS ? WRITE_STATUS : 0;
  uint8_t data[3] = {f.regs[0], f.regs[1], 0};
  if (f.count == 3 && p.wrr2 != RegisterWrite::IGNORED) mask |= WRITE_CONFIG;
  if (f.count == 2 && p.wrr8Clears != 0) {  // a one-byte WRR clears bits of the second register
    mask |= WRITE_CONFIG;
    data[1] = chip->st.config & static_cast<uint8_t>(~p.wrr8Clears);
  }
  write_registers(chip, mask, data);
}

// A program or erase the protection drops: parts with a flag status register say so there.
void refused(ChipState* chip, uint8_t error) {
  drop_wel(chip);
  if (chip->profile.flagStatus) chip->st.flagStatus |= FLAG_STATUS_PROTECTION | error;
}

// AD a a a d d starts the sequence, AD d d goes on at the next word; WEL stays set
// between the words, WRDI ends it.
void aai_word(ChipState* chip, const Frame& f) {
  if (f.count != 3u + f.addressBytes || !wel_set(chip)) return;
  // A state file may hold any address: it is kept inside the chip here.
  const uint32_t at = (f.aaiNext ? chip->st.aaiAddress % chip->profile.sizeBytes : f.address) & ~1u;
  chip->st.aaiAddress = (at + 2) % chip->profile.sizeBytes;
  if (is_protected(chip, at, 2)) {
    if (!f.aaiNext) refused(chip, FLAG_STATUS_PROGRAM);
    return;
  }
  chip->st.flags |= FLAG_AAI;
  std::memcpy(chip->st.pending.data, f.page, 2);
  start_operation(chip, PEND_PROGRAM, at, 2, chip->profile.timings.programNs);
}

void program(ChipState* chip, const Frame& f) {
  if (!wel_set(chip)) return;
  const uint32_t length = chip->profile.pageBytes;
  const uint32_t base = f.address & ~(length - 1);
  if (is_protected(chip, base, length)) {
    refused(chip, FLAG_STATUS_PROGRAM);
    return;
  }
  std::memcpy(chip->st.pending.data, f.page, length);
  start_operation(chip, PEND_PROGRAM, base, length, chip->profile.timings.programNs);
}

void erase(ChipState* chip, uint32_t base, uint32_t length, uint64_t durationNs) {
  if (!wel_set(chip)) return;
  uint32_t size = chip->profile.sizeBytes;
  if (length > size - base) length = size - base;
  if (is_protected(chip, base, length)) {
    refused(chip, FLAG_STATUS_ERASE);
    return;
  }
  start_operation(chip, PEND_ERASE, base, length, durationNs);
}

// The block an erase opcode clears at `address`, by the part's rule.
void erase_at(ChipState* chip, const EraseRule& rule, uint32_t address) {
  const ChipProfile& p = chip->profile;
  if (rule.kind == EraseKind::CHIP) return erase(chip, 0, p.sizeBytes, p.timings.chipEraseNs);
  uint32_t base = 0, length = rule.blockBytes;
  if (rule.kind == EraseKind::BLOCK) {
    base = address & ~(length - 1);
  } else {
    for (uint32_t block : rule.mapBlocks) {
      length = block;
      if (address - base < block) break;
      base += block;
    }
  }
  erase(chip, base, length, erase_time_ns(p.timings, length));
}

uint8_t rdid_byte(const ChipProfile& p, uint64_t j) {
  if (j < 3) return p.jedecId[j];
  if (j == 3) return static_cast<uint8_t>(p.extendedId.size());
  if (j - 4 < p.extendedId.size()) return p.extendedId[j - 4];
  return 0xFF;
}

// Manufacturer and device in turn; address bit 0 starts with the device.
uint8_t rems_byte(const ChipProfile& p, const Frame& f, uint64_t i) {
  return (((i - 4) & 1) != 0) != ((f.address & 1) != 0) ? p.remsDeviceId : p.jedecId[0];
}

}  // namespace

void settle(ChipState* chip) {
  PendingOp& op = chip->st.pending;
  // A stuck operation never ends: its data never lands and WEL stays set.
  if (op.kind == PEND_NONE || pending_running(chip) || chip->stuckBusy) return;
  apply(chip, op, op.length);
  op.kind = PEND_NONE;
  if (!(chip->st.flags & FLAG_AAI)) drop_wel(chip);  // AAI keeps WEL from word to word
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
  const ChipProfile& p = chip->profile;
  if (i == 0) {
    f.opcode = mosi;
    f.role = role_of(p, mosi);
    f.ignored = !obeyed(chip, mosi, Role(f.role));
    f.addressBytes = address_bytes(chip, mosi, Role(f.role));
    f.aaiNext = (chip->st.flags & FLAG_AAI) != 0;
    return 0xFF;
  }
  if (f.ignored) return 0xFF;
  const Role role = Role(f.role);
  if (i <= f.addressBytes) {
    f.address = (f.address << 8) | mosi;
    if (i == f.addressBytes && role != SFDP && role != REMS)
      f.address = array_address(chip, f.address, f.addressBytes);
    if (i == f.addressBytes && role == PROGRAM) std::memset(f.page, 0xFF, MAX_PAGE_BYTES);
    return 0xFF;
  }
  uint8_t out = 0xFF;
  switch (role) {
    case READ_STATUS:
      return chip_status_register(chip);  // re-read every byte: WIP may clear mid-read
    case READ_SECOND:
      return chip->st.config;
    case READ_THIRD:
      return chip->st.status3;
    case READ_FLAGS:  // bit 7: ready
      return static_cast<uint8_t>(chip->st.flagStatus | (chip_busy(chip) ? 0 : FLAG_STATUS_READY));
    case READ_BANK:  // the extended address register has no 4-byte bit
      return f.opcode == 0x16 ? chip->st.bank : chip->st.bank & static_cast<uint8_t>(~BANK_ADDR4);
    case AAI_WORD:
      if (f.dataCount < 2) f.page[f.dataCount] = mosi;
      ++f.dataCount;
      return 0xFF;
    case RDID:
      return rdid_byte(p, i - 1);
    case REMS:
      return rems_byte(p, f, i);
    case RES_SIGNATURE:
      return i >= 4 ? p.electronicSignature : 0xFF;
    case READ:
    case FAST_READ:
      if (role == FAST_READ && i == f.addressBytes + 1u) return 0xFF;  // dummy byte
      out = chip->array[f.address];
      f.address = (f.address + 1) % p.sizeBytes;
      return out;
    case SFDP:
      if (i == 4) return 0xFF;
      if (p.hasSfdp && f.address < chip->sfdp.size()) out = chip->sfdp[f.address];
      f.address = (f.address + 1) & 0xFFFFFF;
      return out;
    case PROGRAM:
      // A page part latches the data at its column, wrapping inside the page, so of a
      // longer burst the last page's worth stays; a byte-program part takes the first byte.
      if (p.program == ProgramMode::PAGE)
        f.page[(f.address + f.dataCount) & (p.pageBytes - 1)] = mosi;
      else if (f.dataCount == 0)
        f.page[0] = mosi;
      ++f.dataCount;
      return 0xFF;
    case WRR:
    case WRITE_SECOND:
    case WRITE_THIRD:
    case WRITE_BANK:
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
  PersistentState& st = chip->st;
  switch (f.role) {
    case WREN:
      if (n == 1 && !chip->faults.welNeverSets) st.status |= WEL;
      break;
    case WRDI:  // also ends an AAI sequence
      if (n == 1) drop_wel(chip), st.flags &= static_cast<uint8_t>(~FLAG_AAI);
      break;
    case CLEAR_FLAGS:
      if (n == 1) st.flagStatus = 0;
      break;
    case ENTER_4BYTE:
    case EXIT_4BYTE:
      if (n == 1)
        write_bank(chip,
                   f.role == ENTER_4BYTE ? st.bank | BANK_ADDR4
                                         : st.bank & static_cast<uint8_t>(~BANK_ADDR4),
                   p.opcodeB7 == Enter4Byte::AFTER_WREN);
      break;
    case WRITE_BANK:  // BRWR writes the whole register, WREAR the bank bits
      if (n == 2)
        write_bank(chip,
                   f.opcode == 0x17
                       ? f.regs[0] & bank_bits(p)
                       : (st.bank & BANK_ADDR4) | (f.regs[0] & bank_bits(p) & ~BANK_ADDR4),
                   p.bankRegister == BankRegister::EAR_WREN);
      break;
    case AAI_WORD:
      aai_word(chip, f);
      break;
    case ARM_WRITE:
      if (n == 1) st.flags |= FLAG_WRITE_ARMED;
      break;
    case DEEP_POWER_DOWN:
      if (n == 1) st.flags |= FLAG_DEEP_POWER_DOWN;
      break;
    case BANK_ACCESS:
      if (n == 1) st.flags |= FLAG_BANK_ARMED;
      break;
    case ENTER_QPI:
      st.flags |= FLAG_QPI;
      break;
    case RES_SIGNATURE:
    case REMS:
      if (f.opcode != 0xAB) return;  // only RES leaves deep power-down
      st.flags &= static_cast<uint8_t>(~FLAG_DEEP_POWER_DOWN);
      break;
    case GLOBAL_UNLOCK:
      if (n == 1 && wel_set(chip)) {
        st.flags &= static_cast<uint8_t>(~FLAG_GLOBAL_LOCK);
        drop_wel(chip);
      }
      break;
    case WRR:
      write_register_frame(chip, f);
      break;
    case WRITE_SECOND:
    case WRITE_THIRD: {
      const uint8_t data[3] = {0, f.regs[0], f.regs[0]};
      if (n == 2)
        write_registers(chip, f.role == WRITE_SECOND ? WRITE_CONFIG : WRITE_STATUS3, data);
      break;
    }
    case PROGRAM:
      if (n >= 2u + f.addressBytes) program(chip, f);
      break;
    case ERASE: {
      const EraseRule& rule = p.erases[erase_slot(p, f.opcode)];
      if (n == 1u + (rule.kind == EraseKind::CHIP ? 0 : f.addressBytes))
        erase_at(chip, rule, f.address);
      break;
    }
    default:
      return;  // reads change nothing
  }
  save_state(chip);
}

void chip_advance_ns(ChipState* chip, uint64_t ns) {
  uint64_t now = chip->st.clockNs;
  if (now < CHIP_CLOCK_LIMIT_NS) chip->st.clockNs = std::min(ns, CHIP_CLOCK_LIMIT_NS - now) + now;
  settle(chip);
  save_clock(chip);
}

void chip_power_cut(ChipState* chip) {
  settle(chip);
  PendingOp& op = chip->st.pending;
  // A hung operation (wipNeverClears) never got anywhere: nothing of it lands.
  if (op.kind != PEND_NONE && !chip->stuckBusy) {
    // What silicon leaves is proportional to the time it had: the leading part of
    // the page programmed, the leading part of the block erased.
    double fraction =
        static_cast<double>(chip->st.clockNs - op.startNs) / static_cast<double>(op.durationNs);
    uint32_t done = static_cast<uint32_t>(fraction * op.length);
    if (done >= op.length) done = op.length - 1;
    apply(chip, op, done);
    op.kind = PEND_NONE;
  }
  // Power-on state: latches, modes and volatile register values are gone.
  op.kind = PEND_NONE;
  power_on(chip->profile, &chip->st);
  // A clock run to its end (or saturated by an older build) starts again from zero.
  if (chip->st.clockNs >= CHIP_CLOCK_LIMIT_NS) chip->st.clockNs = 0;
  chip->stuckBusy = false;
  std::memset(&chip->frame, 0, sizeof chip->frame);
  save_state(chip);
  msync(chip->stateMap, STATE_FILE_BYTES, MS_SYNC);
  msync(chip->array, chip->profile.sizeBytes, MS_SYNC);
}
