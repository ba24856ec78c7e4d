// SPDX-License-Identifier: MIT
// The chip's persistent side: the state directory, creating and attaching a chip,
// and the inspection calls used by the flashsim command.
//
// State directory:
//   contents.bin  the array, exactly sizeBytes, mapped MAP_SHARED so every program
//                 or erase is in the page cache at once and survives a killed process
//   profile.txt   the effective profile as key=value lines (the settings syntax)
//                 under the catalogue profile it was made from
//   state.bin     registers, flags, clock and the pending operation, little-endian,
//                 also mapped MAP_SHARED and refreshed after every command
#include "chip_internal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace chipsim {
namespace {

const char MAGIC[4] = {'R', 'F', 'C', 'S'};

void put_le(uint8_t* at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t get_le(const uint8_t* at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | at[i];
  return v;
}

std::string path_in(const std::string& dir, const char* name) { return dir + "/" + name; }

bool fail_errno(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

bool make_dirs(const std::string& dir, std::string* error) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      return fail_errno(error, "cannot create " + part);
  }
  struct stat sb;
  if (stat(dir.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode))
    return fail_errno(error, dir + " is not a directory");
  return true;
}

// Writes all `n` bytes at `at`; a write that stops short without an error is a full disk.
bool write_all(int fd, const uint8_t* bytes, size_t n, off_t at) {
  while (n > 0) {
    ssize_t wrote = pwrite(fd, bytes, n, at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    bytes += wrote, n -= size_t(wrote), at += wrote;
  }
  return true;
}

// Every file of a chip is written beside the one it replaces ("NAME.new") and renamed over it
// only once all of them are complete, so a full disk or a killed writer leaves the old chip.
std::string beside(const std::string& path) { return path + ".new"; }

int open_beside(const std::string& path, std::string* error) {
  int fd = open(beside(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail_errno(error, "cannot write " + beside(path));
  return fd;
}

// Closes a file written beside `path`; false with *error (naming the file) and the file
// gone when any of it could not be written.
bool close_beside(int fd, bool written, const std::string& path, std::string* error) {
  int saved = errno;
  bool closed = close(fd) == 0;
  if (written && closed) return true;
  if (written) saved = errno;
  unlink(beside(path).c_str());
  errno = saved;
  return fail_errno(error, "cannot write " + path);
}

bool write_beside(const std::string& path, const uint8_t* bytes, size_t n, std::string* error) {
  int fd = open_beside(path, error);
  return fd >= 0 && close_beside(fd, write_all(fd, bytes, n, 0), path, error);
}

bool rename_into_place(const std::string& path, std::string* error) {
  if (rename(beside(path).c_str(), path.c_str()) == 0) return true;
  return fail_errno(error, "cannot replace " + path);
}

bool read_file(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail_errno(error, "cannot read " + path);
  out->clear();
  uint8_t buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + got);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok ? true : fail_errno(error, "cannot read " + path);
}

// Maps a file that must be exactly `length` bytes long. Writable: shared with the file, its
// blocks reserved first (an older chip may be sparse), so that a full disk is an error here
// rather than a SIGBUS at some later store. Read-only: a private copy, the file untouched.
uint8_t* map_file(const std::string& path, size_t length, bool writable, std::string* error) {
  int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    fail_errno(error, "cannot open " + path);
    return nullptr;
  }
  struct stat sb;
  if (fstat(fd, &sb) != 0 || static_cast<uint64_t>(sb.st_size) != length) {
    close(fd);
    if (error)
      *error = path + " does not have the expected size of " + std::to_string(length) + " bytes";
    return nullptr;
  }
  int reserved = 0;
  if (writable && static_cast<uint64_t>(sb.st_blocks) * 512 < length)
    reserved = posix_fallocate(fd, 0, off_t(length));
  void* m = reserved != 0 ? MAP_FAILED
                          : mmap(nullptr, length, PROT_READ | PROT_WRITE,
                                 writable ? MAP_SHARED : MAP_PRIVATE, fd, 0);
  int saved = reserved != 0 ? reserved : errno;
  close(fd);  // the mapping keeps the file
  if (m == MAP_FAILED) {
    errno = saved;
    fail_errno(error, (reserved ? "cannot reserve the space of " : "cannot map ") + path);
    return nullptr;
  }
  return static_cast<uint8_t*>(m);
}

}  // namespace

void encode_state(const PersistentState& st, uint8_t* out) {
  std::memset(out, 0, STATE_FILE_BYTES);
  std::memcpy(out + OFF_MAGIC, MAGIC, 4);
  put_le(out + OFF_VERSION, STATE_VERSION, 4);
  put_le(out + OFF_CLOCK, st.clockNs, 8);
  out[OFF_STATUS] = st.status;
  out[OFF_CONFIG] = st.config;
  out[OFF_FLAGS] = st.flags;
  out[OFF_BANK] = st.bank;
  out[OFF_NV_STATUS] = st.nvStatus;
  out[OFF_NV_CONFIG] = st.nvConfig;
  put_le(out + OFF_AAI_ADDR, st.aaiAddress, 4);
  out[OFF_STATUS3] = st.status3;
  out[OFF_NV_STATUS3] = st.nvStatus3;
  out[OFF_FLAG_STATUS] = st.flagStatus;
  out[OFF_PEND_KIND] = st.pending.kind;
  put_le(out + OFF_PEND_ADDR, st.pending.address, 4);
  put_le(out + OFF_PEND_LEN, st.pending.length, 4);
  put_le(out + OFF_PEND_START, st.pending.startNs, 8);
  put_le(out + OFF_PEND_DUR, st.pending.durationNs, 8);
  std::memcpy(out + OFF_PEND_DATA, st.pending.data, MAX_PAGE_BYTES);
}

bool decode_state(const uint8_t* in, size_t length, PersistentState* st, std::string* error,
                  uint8_t status3) {
  if (length < STATE_V1_FILE_BYTES || std::memcmp(in + OFF_MAGIC, MAGIC, 4) != 0) {
    if (error) *error = "state.bin is not a chip state";
    return false;
  }
  const uint64_t version = get_le(in + OFF_VERSION, 4);
  if (version < 1 || version > STATE_VERSION) {
    if (error) *error = "state.bin has an unknown version";
    return false;
  }
  const bool v1 = version == 1;
  if (!v1 && length < STATE_FILE_BYTES) {
    if (error) *error = "state.bin is too short for its version";
    return false;
  }
  if (in[OFF_PEND_KIND] > PEND_REGISTERS) {
    if (error) *error = "state.bin holds an unknown pending operation";
    return false;
  }
  if (!v1 && (in[OFF_STATUS] & WIP) != 0) {  // never written: the pending operation is WIP
    if (error) *error = "state.bin holds a status with WIP set";
    return false;
  }
  if (version >= 3 && (in[OFF_FLAG_STATUS] & FLAG_STATUS_READY) != 0) {  // derived, not kept
    if (error) *error = "state.bin holds a flag status with the ready bit set";
    return false;
  }
  st->clockNs = get_le(in + OFF_CLOCK, 8);
  st->status = in[OFF_STATUS] & static_cast<uint8_t>(~WIP);  // version 1 may hold it
  st->config = in[OFF_CONFIG];
  // Version 1 had neither volatile register values nor these modes, version 2 no AAI.
  const uint8_t knownFlags = v1             ? FLAG_DEEP_POWER_DOWN | FLAG_WRITE_ARMED
                             : version == 2 ? FLAG_AAI - 1
                                            : 0xFF;
  st->flags = in[OFF_FLAGS] & knownFlags;
  const bool v3 = version >= 3;
  st->aaiAddress = v3 ? static_cast<uint32_t>(get_le(in + OFF_AAI_ADDR, 4)) : 0;
  st->status3 = v3 ? in[OFF_STATUS3] : status3;
  st->nvStatus3 = v3 ? in[OFF_NV_STATUS3] : status3;
  st->flagStatus = v3 ? in[OFF_FLAG_STATUS] : 0;
  st->bank = v1 ? 0 : in[OFF_BANK];
  st->nvStatus = v1 ? st->status & static_cast<uint8_t>(~WEL) : in[OFF_NV_STATUS];
  st->nvConfig = v1 ? st->config : in[OFF_NV_CONFIG];
  st->pending.kind = in[OFF_PEND_KIND];
  st->pending.address = static_cast<uint32_t>(get_le(in + OFF_PEND_ADDR, 4));
  st->pending.length = static_cast<uint32_t>(get_le(in + OFF_PEND_LEN, 4));
  st->pending.startNs = get_le(in + OFF_PEND_START, 8);
  st->pending.durationNs = get_le(in + OFF_PEND_DUR, 8);
  std::memset(st->pending.data, 0xFF, MAX_PAGE_BYTES);
  std::memcpy(st->pending.data, in + OFF_PEND_DATA, v1 ? 256 : MAX_PAGE_BYTES);
  if (st->pending.length > (st->pending.kind == PEND_PROGRAM ? MAX_PAGE_BYTES : MAX_CHIP_BYTES)) {
    if (error) *error = "state.bin holds a pending operation longer than any";
    return false;
  }
  return true;
}

void save_state(ChipState* chip) { encode_state(chip->st, chip->stateMap); }

void save_clock(ChipState* chip) { put_le(chip->stateMap + OFF_CLOCK, chip->st.clockNs, 8); }

bool pending_running(const ChipState* chip) {
  const PendingOp& op = chip->st.pending;
  return op.kind != PEND_NONE && chip->st.clockNs - op.startNs < op.durationNs;
}

void power_on(const ChipProfile& p, PersistentState* st) {
  st->status = p.lock == PowerUpLock::BP ? p.status : st->nvStatus;
  st->status &= static_cast<uint8_t>(~(WIP | WEL));
  st->config = st->nvConfig;
  st->status3 = st->nvStatus3;
  st->flags = p.lock == PowerUpLock::GLOBAL ? FLAG_GLOBAL_LOCK : 0;
  st->bank = 0;
  st->flagStatus = 0;
  st->aaiAddress = 0;
}

}  // namespace chipsim

using namespace chipsim;

namespace {

// The array: every byte `fill`, then the image, written beside the old one. Every block is
// reserved first, so the chip's stores can never meet a full disk.
bool write_contents(const std::string& path, uint32_t size, uint8_t fill,
                    const std::vector<uint8_t>& image, std::string* error) {
  int fd = open_beside(path, error);
  if (fd < 0) return false;
  int reserved = posix_fallocate(fd, 0, off_t(size));
  if (reserved != 0) errno = reserved;
  bool ok = reserved == 0;
  std::vector<uint8_t> chunk(std::min<uint32_t>(size, MIB), fill);
  for (uint32_t at = 0; ok && at < size; at += uint32_t(chunk.size())) {
    size_t n = std::min<size_t>(chunk.size(), size - at);
    if (at < image.size())
      std::memcpy(chunk.data(), image.data() + at, std::min<size_t>(n, image.size() - at));
    if (at >= image.size() && fill == 0x00) break;  // reserved blocks read as zeros
    ok = write_all(fd, chunk.data(), n, off_t(at));
    std::memset(chunk.data(), fill, chunk.size());
  }
  return close_beside(fd, ok, path, error);
}

// A version 1 state.bin (512 bytes) becomes version 2, written beside and renamed.
bool upgrade_state_file(const std::string& path, uint8_t status3, std::string* error) {
  struct stat sb;
  if (stat(path.c_str(), &sb) != 0 || sb.st_size != off_t(STATE_V1_FILE_BYTES)) return true;
  std::vector<uint8_t> old;
  PersistentState st;
  if (!read_file(path, &old, error) ||
      !decode_state(old.data(), old.size(), &st, error, status3))
    return false;
  uint8_t bytes[STATE_FILE_BYTES];
  encode_state(st, bytes);
  return write_beside(path, bytes, sizeof bytes, error) && rename_into_place(path, error);
}

}  // namespace

bool chip_create(const std::string& stateDir, const std::string& profileName, uint8_t fill,
                 const std::string& imagePath, const std::vector<std::string>& settings,
                 std::string* error) {
  ChipProfile profile;
  if (!chip_profile_by_name(profileName, &profile)) {
    if (error)
      *error = "unknown chip profile '" + profileName + "'" +
               (catalogue_error().empty() ? "" : " (" + catalogue_error() + ")");
    return false;
  }
  if (!apply_settings(&profile, settings, error)) return false;
  if (profile.sizeBytes == 0) {
    if (error)
      *error = "profile '" + profileName +
               "': its geometry is unknown (the part gives it by SFDP); set size and eraseD8";
    return false;
  }
  PersistentState st;
  std::memset(&st, 0, sizeof st);
  st.nvStatus = profile.status & static_cast<uint8_t>(~WEL);
  st.nvConfig = profile.config;
  st.nvStatus3 = profile.status3;
  power_on(profile, &st);
  st.status = profile.status;  // a WEL given in the settings stays
  st.bank = static_cast<uint8_t>(profile.startBank | (profile.startAddr4 ? BANK_ADDR4 : 0));

  std::vector<uint8_t> image;
  if (!imagePath.empty()) {
    if (!read_file(imagePath, &image, error)) return false;
    if (image.size() > profile.sizeBytes) {
      if (error)
        *error =
            imagePath + " (" + std::to_string(image.size()) + " bytes) is larger than the chip";
      return false;
    }
  }
  if (!make_dirs(stateDir, error)) return false;
  std::string text = profile_to_text(profile);
  uint8_t stateBytes[STATE_FILE_BYTES];
  encode_state(st, stateBytes);
  const char* const files[] = {"contents.bin", "profile.txt", "state.bin"};
  bool written =
      write_contents(path_in(stateDir, files[0]), profile.sizeBytes, fill, image, error) &&
      write_beside(path_in(stateDir, files[1]), reinterpret_cast<const uint8_t*>(text.data()),
                   text.size(), error) &&
      write_beside(path_in(stateDir, files[2]), stateBytes, sizeof stateBytes, error);
  for (const char* name : files) {
    if (written) written = rename_into_place(path_in(stateDir, name), error);
    if (!written) unlink(beside(path_in(stateDir, name)).c_str());
  }
  return written;
}

namespace {

// state.bin shared with the file, or for inspection a private copy, which the chip may
// change in memory (an operation found finished) without writing anything back. A file
// from before version 3 takes the profile's third register (status3).
uint8_t* map_state(const std::string& path, bool writable, uint8_t status3, std::string* error) {
  if (writable)
    return upgrade_state_file(path, status3, error)
               ? map_file(path, STATE_FILE_BYTES, true, error)
               : nullptr;
  std::vector<uint8_t> bytes;
  PersistentState st;
  if (!read_file(path, &bytes, error) ||
      !decode_state(bytes.data(), bytes.size(), &st, error, status3))
    return nullptr;
  uint8_t* copy = new uint8_t[STATE_FILE_BYTES];
  encode_state(st, copy);
  return copy;
}

void unmap_state(uint8_t* state, bool writable) {
  if (writable)
    munmap(state, STATE_FILE_BYTES);
  else
    delete[] state;
}

ChipState* attach_dir(const std::string& stateDir, const ChipFaults& faults, bool writable,
                      std::string* error) {
  std::vector<uint8_t> text;
  if (!read_file(path_in(stateDir, "profile.txt"), &text, error)) return nullptr;
  ChipProfile profile;
  if (!profile_from_text(std::string(text.begin(), text.end()), &profile, error)) return nullptr;
  uint8_t* state = map_state(path_in(stateDir, "state.bin"), writable, profile.status3, error);
  if (!state) return nullptr;
  PersistentState st;
  bool ok = decode_state(state, STATE_FILE_BYTES, &st, error, profile.status3);
  if (ok && st.pending.kind != PEND_NONE &&
      (st.pending.length == 0 || st.pending.address >= profile.sizeBytes ||
       st.pending.length > profile.sizeBytes - st.pending.address) &&
      st.pending.kind != PEND_REGISTERS) {
    if (error) *error = "state.bin holds an operation outside the chip";
    ok = false;
  }
  uint8_t* array =
      ok ? map_file(path_in(stateDir, "contents.bin"), profile.sizeBytes, writable, error)
         : nullptr;
  if (!array) {
    unmap_state(state, writable);
    return nullptr;
  }
  ChipState* chip = new ChipState();
  chip->dir = stateDir;
  chip->profile = profile;
  chip->faults = faults;
  chip->array = array;
  chip->stateMap = state;
  chip->writable = writable;
  chip->st = st;
  std::memset(&chip->frame, 0, sizeof chip->frame);
  chip->sfdp = sfdp_image(profile);
  chip->stuckBusy = false;
  settle(chip);  // an operation left running by the last process may be done by now
  save_state(chip);
  return chip;
}

void release(ChipState* chip) {
  unmap_state(chip->stateMap, chip->writable);
  munmap(chip->array, chip->profile.sizeBytes);
  delete chip;
}

}  // namespace

ChipState* chip_attach(const std::string& stateDir, const ChipFaults& faults, std::string* error) {
  return attach_dir(stateDir, faults, true, error);
}

ChipState* chip_inspect(const std::string& stateDir, std::string* error) {
  return attach_dir(stateDir, ChipFaults{false, false}, false, error);
}

void chip_detach(ChipState* chip) {
  if (!chip) return;
  save_state(chip);
  if (chip->writable) {
    msync(chip->stateMap, STATE_FILE_BYTES, MS_ASYNC);
    msync(chip->array, chip->profile.sizeBytes, MS_ASYNC);
  }
  release(chip);
}

void chip_abandon(ChipState* chip) {
  if (chip) release(chip);
}

uint32_t chip_size(const ChipState* chip) { return chip->profile.sizeBytes; }
const uint8_t* chip_contents(const ChipState* chip) { return chip->array; }

void chip_load(ChipState* chip, uint32_t offset, const uint8_t* bytes, uint32_t length) {
  uint32_t size = chip->profile.sizeBytes;
  if (offset >= size) return;
  if (length > size - offset) length = size - offset;
  std::memcpy(chip->array + offset, bytes, length);
}

bool chipsim::chip_busy(const ChipState* chip) { return chip->stuckBusy || pending_running(chip); }

uint8_t chipsim::chip_status_register(const ChipState* chip) {
  return static_cast<uint8_t>(chip->st.status | (chip_busy(chip) ? WIP : 0) |
                              (chip->st.flags & FLAG_AAI ? STATUS_AAI : 0));
}

void chip_set_registers(ChipState* chip, int status, int config) {
  if (status >= 0) {
    chip->st.status = static_cast<uint8_t>(status) & static_cast<uint8_t>(~WIP);
    chip->st.nvStatus = chip->st.status & static_cast<uint8_t>(~WEL);
  }
  if (config >= 0) chip->st.config = chip->st.nvConfig = static_cast<uint8_t>(config);
  save_state(chip);
}

uint64_t chip_now_ns(const ChipState* chip) { return chip->st.clockNs; }

std::string chip_describe(const ChipState* chip) {
  const ChipProfile& p = chip->profile;
  const PersistentState& st = chip->st;
  uint8_t sr = chip_status_register(chip);
  char buf[256];
  std::string out;
  std::snprintf(buf, sizeof buf, "profile: %s (%s)\nsize: %" PRIu32 " bytes\n", p.name.c_str(),
                p.model ? "simulator model" : p.part.c_str(), p.sizeBytes);
  out += buf;
  std::snprintf(buf, sizeof buf, "jedec: %02X %02X %02X, %u extended ID bytes\n", p.jedecId[0],
                p.jedecId[1], p.jedecId[2], static_cast<unsigned>(p.extendedId.size()));
  out += buf;
  std::snprintf(buf, sizeof buf, "rems: %02X %02X\n", p.jedecId[0], p.remsDeviceId);
  out += p.hasRems ? buf : "rems: none\n";
  std::snprintf(buf, sizeof buf, "res: %02X\n", p.electronicSignature);
  out += p.res == ResAnswer::SIGNATURE ? buf
         : p.res == ResAnswer::AS_REMS ? "res: as rems\n"
                                       : "res: none\n";
  std::snprintf(buf, sizeof buf, "status: 0x%02X (WIP %d, WEL %d, BP %d)\n", sr, sr & WIP ? 1 : 0,
                sr & WEL ? 1 : 0, (sr >> 2) & 7);
  out += buf;
  if (p.hasConfig)
    std::snprintf(buf, sizeof buf, "config: 0x%02X\n", st.config);
  else
    std::snprintf(buf, sizeof buf, "config: none\n");
  out += buf;
  std::snprintf(buf, sizeof buf, "status3: 0x%02X\n", st.status3);
  if (p.hasStatus3) out += buf;
  std::snprintf(buf, sizeof buf, "flag status: 0x%02X\n",
                st.flagStatus | (chip_busy(chip) ? 0 : FLAG_STATUS_READY));
  if (p.flagStatus) out += buf;
  std::snprintf(buf, sizeof buf, "aai word program: next 0x%06" PRIX32 "\n", st.aaiAddress);
  if (st.flags & FLAG_AAI) out += buf;
  std::snprintf(buf, sizeof buf,
                "deep power-down: %s\nvolatile status write: %s\nquad (QPI): %s\n"
                "bank register: 0x%02X%s\nglobal block lock: %s\nclock: %" PRIu64 " ns\n",
                st.flags & FLAG_DEEP_POWER_DOWN ? "yes" : "no",
                st.flags & FLAG_WRITE_ARMED ? "armed" : "off", st.flags & FLAG_QPI ? "yes" : "no",
                st.bank, st.flags & FLAG_BANK_ARMED ? " (next WRR writes it)" : "",
                st.flags & FLAG_GLOBAL_LOCK ? "on" : "off", st.clockNs);
  out += buf;
  const PendingOp& op = st.pending;
  if (op.kind == PEND_NONE) {
    out += "pending: none\n";
  } else {
    const char* what = op.kind == PEND_PROGRAM ? "program"
                       : op.kind == PEND_ERASE ? "erase"
                                               : "register write";
    uint64_t elapsed = st.clockNs - op.startNs;
    if (op.kind == PEND_REGISTERS)
      std::snprintf(buf, sizeof buf, "pending: %s, %" PRIu64 " of %" PRIu64 " ns elapsed\n", what,
                    elapsed, op.durationNs);
    else
      std::snprintf(buf, sizeof buf,
                    "pending: %s 0x%06" PRIX32 "..0x%06" PRIX32 ", %" PRIu64 " of %" PRIu64
                    " ns elapsed\n",
                    what, op.address, op.address + op.length - 1, elapsed, op.durationNs);
    out += buf;
  }
  return out;
}
