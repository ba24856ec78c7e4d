// SPDX-License-Identifier: MIT
// The chip model driven from its pins, on every profile of the parts catalogue. Header:
// byte 0 the profile; byte 1 bit 0 4-byte addresses, bit 1 bank 1, bit 2 a power-up status
// of byte 2. Then steps, a control byte each: the top 3 bits the step, the low 5 an argument
// N: CS# falls, CS# rises, N+1 bytes shifted, one byte shifted 16(N+1) times, the clock moved
// 2^(N+5) ns, a power cut, a reattach (N bit 0: WREN ignored, bit 1: WIP hangs), a frame of
// N+1 bytes. After each step the datasheet rules are checked on what RDSR and the array
// show, and the state saved (state.bin, and its encoding read back) is the state held.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chip_internal.h"

using namespace chipsim;
using Bytes = std::vector<uint8_t>;

namespace {

enum Step { SELECT, DESELECT, SHIFT, SHIFT_REPEATED, ADVANCE, POWER_CUT, REATTACH, FRAME };
constexpr uint8_t DEAF = FLAG_DEEP_POWER_DOWN | FLAG_QPI;
const EraseRule NO_ERASE{};
const uint8_t ERASE4[] = {0x21, 0x00, 0x5C, 0xDC, 0x00, 0x00};  // 4-byte forms, by erase slot

const std::vector<ChipProfile> PROFILES = chip_profiles();
// The state directory, on a tmpfs (chips stay sparse, msync costs nothing), gone at exit.
char dirName[] = "/dev/shm/chip_model.XXXXXX";
const std::string DIR = mkdtemp(dirName) ? dirName : "";
const int REMOVED_AT_EXIT = std::atexit([] {
  for (const char* file : {"contents.bin", "profile.txt", "state.bin"})
    unlink((std::string(dirName) + "/" + file).c_str());
  rmdir(dirName);
});

struct Seen {
  uint8_t sr, flags, bank;  // RDSR, the modes, the bank register
  uint8_t state[STATE_FILE_BYTES];
};

struct Write {  // a program or erase: the bytes it may change, to what, and its catalogue time
  bool erase, locked;
  uint32_t base, length;
  uint64_t ns;
  Bytes want;  // a program's page latch
};

struct Rig {
  ChipState* chip;
  int contents;     // contents.bin: bytes outside its data regions read 00
  uint8_t* shadow;  // the array as the checks last accepted it
  Bytes sent;       // the bytes of the current selection
  bool selected;
  Write op;          // what WIP stands for
  uint64_t opSince;  // when WIP rose
  bool stuck;        // started under the WIP fault, not lifted by a reattach since
} rig;

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "chip_model: %s (%s)\n", what, rig.chip->profile.name.c_str());
  std::abort();
}

void attach(ChipFaults faults) {
  std::string error;
  rig.chip = chip_attach(DIR, faults, &error);
  if (rig.chip == nullptr) std::fprintf(stderr, "chip_model: %s\n", error.c_str()), std::abort();
}

Seen observe() {
  Seen seen{chip_status_register(rig.chip), rig.chip->st.flags, rig.chip->st.bank, {}};
  encode_state(rig.chip->st, seen.state);
  return seen;
}

// The program or erase a frame asks for, as the part decodes it; false for any other frame.
// Inside an AAI sequence only AD writes: its next word, with no address.
bool write_of(const Bytes& f, const Seen& b, Write* w) {
  const ChipProfile& p = rig.chip->profile;
  const bool aai = f[0] == 0xAD && p.aaiWordProgram, inside = b.flags & FLAG_AAI;
  if (inside && !aai) return false;
  const uint8_t* const four = std::find(std::begin(ERASE4), std::end(ERASE4), f[0]);
  const bool native = p.native4Byte && f[0] != 0 && (f[0] == 0x12 || four != std::end(ERASE4));
  const bool program = f[0] == 0x02 || (native && f[0] == 0x12);
  const unsigned at = inside ? 0 : native || (b.bank & BANK_ADDR4) ? 4 : 3;  // address bytes
  const long slot = native && !program
                        ? four - ERASE4
                        : std::find(ERASE_OPCODES, std::end(ERASE_OPCODES), f[0]) - ERASE_OPCODES;
  const EraseRule& rule = slot < ERASE_OPCODE_COUNT && !program ? p.erases[slot] : NO_ERASE;
  const bool chipErase = rule.kind == EraseKind::CHIP;
  if (aai       ? f.size() != 3 + at
      : program ? f.size() < 2 + at
                : rule.kind == EraseKind::ABSENT || f.size() != (chipErase ? 1 : 1 + at))
    return false;
  uint64_t raw = at == 3 ? uint64_t(b.bank & 0x7F) << 24 : 0;  // the bank register's window
  for (unsigned i = 1; i <= at && !chipErase; ++i) raw |= uint64_t(f[i]) << 8 * (at - i);
  const uint32_t size = p.sizeBytes;
  uint32_t address = uint32_t(raw % size);
  if (inside) std::memcpy(&address, b.state + OFF_AAI_ADDR, 4);  // little-endian hosts only
  if (aai) address = address % size & ~1u;
  *w = {!program && !aai, false, 0, aai ? 2 : program ? p.pageBytes : rule.blockBytes, 0,
        Bytes(512, 0xFF)};
  size_t block = 0;  // a map's blocks lie from address 0 upward
  while (rule.kind == EraseKind::MAP && address >= w->base + rule.mapBlocks[block])
    w->base += rule.mapBlocks[block++];
  if (rule.kind == EraseKind::MAP) w->length = rule.mapBlocks[block];
  if (chipErase) w->length = size;
  if (rule.kind != EraseKind::MAP) w->base = address - address % w->length;
  // The column wraps in the page; a byte-program part takes the first byte, AAI two.
  const size_t end = aai ? 3 + at : p.program == ProgramMode::BYTE ? 2 + at : f.size();
  for (size_t k = 1 + at; !w->erase && k < end; ++k)
    w->want[(address + k - 1 - at) % w->length] = f[k];
  const long sized = std::find(ERASE_SIZES, std::end(ERASE_SIZES), w->length) - ERASE_SIZES;
  w->ns = !w->erase   ? p.timings.programNs
          : chipErase ? p.timings.chipEraseNs
                      : p.timings.eraseNs[sized];
  // The global lock covers all; BP 1..6 the top 1/64..1/2 of the array, 7 all of it.
  const unsigned bp = (b.sr >> 2) & 7;
  w->locked = (b.flags & FLAG_GLOBAL_LOCK) ||
              (bp != 0 && w->base + w->length > (bp == 7 ? 0 : size - (size >> (7 - bp))));
  return true;
}

// A byte may change only as the write that ends in this step writes it; `done`: all of
// that write has landed.
void check_array(bool landing, bool done) {
  const Write& w = rig.op;
  const uint8_t* array = chip_contents(rig.chip);
  for (off_t from = lseek(rig.contents, 0, SEEK_DATA), to = 0; from >= 0;
       from = lseek(rig.contents, to, SEEK_DATA)) {
    to = lseek(rig.contents, from, SEEK_HOLE);
    for (off_t i = std::memcmp(array + from, rig.shadow + from, to - from) ? from : to; i < to;
         ++i) {
      const uint32_t k = uint32_t(i) - w.base;
      check(array[i] == rig.shadow[i] || (landing && k < w.length &&
                                          array[i] == (w.erase ? 0xFF : rig.shadow[i] & w.want[k])),
            "the array changed outside a write's page or block, or not as it writes");
      rig.shadow[i] = array[i];
    }
  }
  for (uint32_t k = 0; done && k < w.length; ++k)
    check(w.erase ? array[w.base + k] == 0xFF : (array[w.base + k] & ~w.want[k]) == 0,
          "a write ended with bytes of its block or page not written");
}

bool is(const Bytes& f, uint8_t opcode) { return f.size() == 1 && f[0] == opcode; }

// `f`: the frame CS# rising ended in this step, if any.
void check_step(Step step, Seen b, const Bytes& f) {
  const ChipState& chip = *rig.chip;
  const Seen a = observe();
  const bool obeyed = !f.empty() && !(b.flags & DEAF) && !(b.sr & WIP), wel = b.sr & WEL;
  const bool wipRose = !(b.sr & WIP) && (a.sr & WIP), wipFell = (b.sr & WIP) && !(a.sr & WIP);
  Write w;
  const bool write = obeyed && write_of(f, b, &w), taken = write && wel && !w.locked;
  // WEL: set by WREN alone; cleared by WRDI, a write refused or ended, ULBPR, power-off.
  const bool wren = obeyed && is(f, 0x06) && !chip.faults.welNeverSets;
  check(wren ? (a.sr & WEL) : wel || !(a.sr & WEL), "WEL not as WREN sets it");
  check(!(obeyed && is(f, 0x04)) || !(a.sr & WEL), "WRDI left WEL set");
  // B7, E9 and C5 after WREN on the parts that want it.
  const bool addressing = obeyed && (is(f, 0xB7) || is(f, 0xE9) || f[0] == 0xC5);
  check(!wel || (a.sr & WEL) || step == POWER_CUT || wipFell ||
            (obeyed && (is(f, 0x04) || is(f, 0x98) || write)) || addressing,
        "WEL cleared by something other than WRDI, a write or its end, ULBPR, an address "
        "mode write or power-off");
  // WIP: from CS# rising on a write taken (a register write too) until its time has passed.
  check(wipRose == taken ||
            (wipRose && obeyed && wel && (f[0] == 0x01 || f[0] == 0x31 || f[0] == 0x11)),
        "WIP rose without a write taken, or a write taken did not raise it");
  if (wipRose) {
    rig.op = taken ? w : Write{false, false, 0, 0, chip.profile.timings.registerWriteNs, {}};
    rig.opSince = chip_now_ns(rig.chip);
    rig.stuck = chip.faults.wipNeverClears;
  }
  rig.stuck = rig.stuck && step != REATTACH;
  const bool due = !rig.stuck && chip_now_ns(rig.chip) - rig.opSince >= rig.op.ns;
  check(!(b.sr & WIP) ||
            wipFell == (step == POWER_CUT || (due && (step == ADVANCE || step == REATTACH))),
        "WIP not set for exactly the write's time");
  check(!wipFell || step == POWER_CUT || !(a.sr & WEL) || (a.flags & FLAG_AAI),
        "WEL still set after a write ended outside AAI");
  if ((b.sr & WIP) || step == REATTACH) check_array(wipFell, wipFell && step != POWER_CUT);
  check(step != REATTACH || wipFell || !std::memcmp(a.state, b.state, STATE_FILE_BYTES),
        "the state read back differs from the state left");
  // Deep power-down (until RES) and QPI (until power-off) change nothing; nor a lock but ULBPR.
  const bool wakes = !f.empty() && f[0] == 0xAB && !(b.flags & FLAG_QPI);
  std::memcpy(b.state + OFF_CLOCK, a.state + OFF_CLOCK, 8);
  check(!(b.flags & DEAF) || step == POWER_CUT || wakes || !std::memcmp(a.state, b.state, 1024),
        "a deaf chip changed");
  check(!(b.flags & ~a.flags & FLAG_GLOBAL_LOCK) || (obeyed && is(f, 0x98) && wel),
        "the global lock lifted without WREN and ULBPR");
  const PowerUpLock lock = chip.profile.lock;
  check(step != POWER_CUT || ((a.sr & (WIP | WEL)) == 0 && a.bank == 0 &&
                              a.flags == (lock == PowerUpLock::GLOBAL ? FLAG_GLOBAL_LOCK : 0) &&
                              (lock != PowerUpLock::BP || a.sr == (chip.profile.status & ~WEL))),
        "not as at power-up after a power cut");
  PersistentState back;
  std::string error;
  check(decode_state(a.state, STATE_FILE_BYTES, &back, &error), error.c_str());
  encode_state(back, b.state);
  check(!std::memcmp(b.state, a.state, STATE_FILE_BYTES) &&
            !std::memcmp(chip.stateMap, a.state, STATE_FILE_BYTES),
        "the state saved or read back is not the state held");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || DIR.empty()) return 0;
  // Chips are small where the part allows; the parts above 16 MiB keep two banks.
  const ChipProfile& p = PROFILES[data[0] % PROFILES.size()];
  const bool window = p.sizeBytes > BANK_BYTES, mapped = p.erases[3].kind == EraseKind::MAP;
  const uint32_t bytes = window ? 2 * BANK_BYTES : mapped ? p.sizeBytes : 256 * 1024;
  const uint8_t fill = window || mapped ? 0x00 : 0xFF;  // zeros stay sparse
  std::string error;
  if (!chip_create(DIR, p.name, fill, "",
                   {"size=" + std::to_string(bytes),
                    "addr4=" + std::to_string(p.banks != AddressBanks::NONE && (data[1] & 1)),
                    "bank=" + std::to_string(window && (data[1] & 2)),
                    "status=" + std::to_string(data[1] & 4 ? data[2] & ~1 : p.status)},
                   &error))
    std::fprintf(stderr, "chip_model: %s\n", error.c_str()), std::abort();
  attach({false, false});
  rig.contents = open((DIR + "/contents.bin").c_str(), O_RDONLY);
  if (rig.shadow == nullptr)
    rig.shadow = static_cast<uint8_t*>(
        mmap(nullptr, MAX_CHIP_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  fill ? (void)std::memset(rig.shadow, fill, bytes)
       : (void)madvise(rig.shadow, bytes, MADV_DONTNEED);
  rig.selected = rig.stuck = false;
  rig.op = {};
  auto shift = [](uint8_t byte) { chip_shift(rig.chip, byte), rig.sent.push_back(byte); };
  for (size_t at = 3; at < size;) {
    const Step step = Step(data[at] >> 5);
    const unsigned n = data[at++] & 31;
    const Seen before = observe();
    Bytes frame;
    if (step == SELECT || step == FRAME) chip_select(rig.chip), rig.selected = true, rig.sent = {};
    for (unsigned i = 0; (step == SHIFT || step == FRAME) && i <= n && at < size; ++i)
      shift(data[at++]);
    for (unsigned i = 0; step == SHIFT_REPEATED && i < 16 * (n + 1) && at < size; ++i)
      shift(data[at]);
    at += step == SHIFT_REPEATED;
    if ((step == DESELECT || step == FRAME) && rig.selected) frame.swap(rig.sent);
    if (step == DESELECT || step == FRAME) chip_deselect(rig.chip);
    if (step == ADVANCE) chip_advance_ns(rig.chip, uint64_t(1) << (n + 5));
    if (step == POWER_CUT) chip_power_cut(rig.chip);
    if (step == REATTACH) chip_detach(rig.chip), attach({(n & 1) != 0, (n & 2) != 0});
    if (step == DESELECT || step >= POWER_CUT) rig.selected = false;
    check_step(step, before, frame);
  }
  check_array(false, false);  // a change no step accounted for
  chip_detach(rig.chip);
  close(rig.contents);
  return 0;
}
