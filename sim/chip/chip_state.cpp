// SPDX-License-Identifier: MIT
// The chip's persistent side: the state directory, creating and attaching a chip,
// and the inspection calls used by the flashsim command.
//
// State directory:
//   contents.bin  the array, exactly sizeBytes, mapped MAP_SHARED so every program
//                 or erase is in the page cache at once and survives a killed process
//   profile.txt   the effective profile as key=value lines (the settings syntax)
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

bool write_file(const std::string& path, const uint8_t* bytes, size_t n, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return fail_errno(error, "cannot write " + path);
  bool ok = std::fwrite(bytes, 1, n, f) == n;
  ok = (std::fclose(f) == 0) && ok;
  return ok ? true : fail_errno(error, "cannot write " + path);
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

// Maps a file that must be exactly `length` bytes long.
uint8_t* map_file(const std::string& path, size_t length, std::string* error) {
  int fd = open(path.c_str(), O_RDWR);
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
  void* m = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);  // the mapping keeps the file
  if (m == MAP_FAILED) {
    fail_errno(error, "cannot map " + path);
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
  out[OFF_FLAGS] =
      static_cast<uint8_t>((st.deepPowerDown ? 1 : 0) | (st.volatileWriteArmed ? 2 : 0));
  out[OFF_PEND_KIND] = st.pending.kind;
  put_le(out + OFF_PEND_ADDR, st.pending.address, 4);
  put_le(out + OFF_PEND_LEN, st.pending.length, 4);
  put_le(out + OFF_PEND_START, st.pending.startNs, 8);
  put_le(out + OFF_PEND_DUR, st.pending.durationNs, 8);
  std::memcpy(out + OFF_PEND_DATA, st.pending.data, PAGE_BYTES);
}

bool decode_state(const uint8_t* in, size_t length, PersistentState* st, std::string* error) {
  if (length < STATE_FILE_BYTES || std::memcmp(in + OFF_MAGIC, MAGIC, 4) != 0) {
    if (error) *error = "state.bin is not a chip state";
    return false;
  }
  if (get_le(in + OFF_VERSION, 4) != STATE_VERSION) {
    if (error) *error = "state.bin has an unknown version";
    return false;
  }
  if (in[OFF_PEND_KIND] > PEND_REGISTERS) {
    if (error) *error = "state.bin holds an unknown pending operation";
    return false;
  }
  st->clockNs = get_le(in + OFF_CLOCK, 8);
  st->status = in[OFF_STATUS] & static_cast<uint8_t>(~WIP);
  st->config = in[OFF_CONFIG];
  st->deepPowerDown = (in[OFF_FLAGS] & 1) != 0;
  st->volatileWriteArmed = (in[OFF_FLAGS] & 2) != 0;
  st->pending.kind = in[OFF_PEND_KIND];
  st->pending.address = static_cast<uint32_t>(get_le(in + OFF_PEND_ADDR, 4));
  st->pending.length = static_cast<uint32_t>(get_le(in + OFF_PEND_LEN, 4));
  st->pending.startNs = get_le(in + OFF_PEND_START, 8);
  st->pending.durationNs = get_le(in + OFF_PEND_DUR, 8);
  std::memcpy(st->pending.data, in + OFF_PEND_DATA, PAGE_BYTES);
  return true;
}

void save_state(ChipState* chip) { encode_state(chip->st, chip->stateMap); }

void save_clock(ChipState* chip) { put_le(chip->stateMap + OFF_CLOCK, chip->st.clockNs, 8); }

bool pending_running(const ChipState* chip) {
  const PendingOp& op = chip->st.pending;
  return op.kind != PEND_NONE && chip->st.clockNs - op.startNs < op.durationNs;
}

}  // namespace chipsim

using namespace chipsim;

bool chip_create(const std::string& stateDir, const std::string& profileName, uint8_t fill,
                 const std::string& imagePath, const std::vector<std::string>& settings,
                 std::string* error) {
  ChipProfile profile;
  if (!chip_profile_by_name(profileName, &profile)) {
    if (error) *error = "unknown chip profile '" + profileName + "'";
    return false;
  }
  PersistentState st;
  std::memset(&st, 0, sizeof st);
  if (!apply_settings(&profile, &st.status, &st.config, settings, error)) return false;
  if (!profile.hasConfigRegister) st.config = 0;

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

  std::vector<uint8_t> contents(profile.sizeBytes, fill);
  std::copy(image.begin(), image.end(), contents.begin());
  std::string text = profile_to_text(profile);
  uint8_t stateBytes[STATE_FILE_BYTES];
  encode_state(st, stateBytes);
  return write_file(path_in(stateDir, "contents.bin"), contents.data(), contents.size(), error) &&
         write_file(path_in(stateDir, "profile.txt"), reinterpret_cast<const uint8_t*>(text.data()),
                    text.size(), error) &&
         write_file(path_in(stateDir, "state.bin"), stateBytes, sizeof stateBytes, error);
}

ChipState* chip_attach(const std::string& stateDir, const ChipFaults& faults, std::string* error) {
  std::vector<uint8_t> text;
  if (!read_file(path_in(stateDir, "profile.txt"), &text, error)) return nullptr;
  ChipProfile profile;
  if (!profile_from_text(std::string(text.begin(), text.end()), &profile, error)) return nullptr;
  uint8_t* state = map_file(path_in(stateDir, "state.bin"), STATE_FILE_BYTES, error);
  if (!state) return nullptr;
  PersistentState st;
  if (!decode_state(state, STATE_FILE_BYTES, &st, error)) {
    munmap(state, STATE_FILE_BYTES);
    return nullptr;
  }
  uint8_t* array = map_file(path_in(stateDir, "contents.bin"), profile.sizeBytes, error);
  if (!array) {
    munmap(state, STATE_FILE_BYTES);
    return nullptr;
  }
  ChipState* chip = new ChipState();
  chip->dir = stateDir;
  chip->profile = profile;
  chip->faults = faults;
  chip->array = array;
  chip->stateMap = state;
  chip->st = st;
  std::memset(&chip->frame, 0, sizeof chip->frame);
  chip->sfdp = sfdp_image(profile);
  chip->stuckBusy = false;
  settle(chip);  // an operation left running by the last process may be done by now
  save_state(chip);
  return chip;
}

void chip_sync(ChipState* chip) {
  save_state(chip);
  msync(chip->stateMap, STATE_FILE_BYTES, MS_ASYNC);
  msync(chip->array, chip->profile.sizeBytes, MS_ASYNC);
}

void chip_detach(ChipState* chip) {
  if (!chip) return;
  chip_sync(chip);
  munmap(chip->stateMap, STATE_FILE_BYTES);
  munmap(chip->array, chip->profile.sizeBytes);
  delete chip;
}

const ChipProfile& chip_profile(const ChipState* chip) { return chip->profile; }
uint32_t chip_size(const ChipState* chip) { return chip->profile.sizeBytes; }
const uint8_t* chip_contents(const ChipState* chip) { return chip->array; }

void chip_load(ChipState* chip, uint32_t offset, const uint8_t* bytes, uint32_t length) {
  uint32_t size = chip->profile.sizeBytes;
  if (offset >= size) return;
  if (length > size - offset) length = size - offset;
  std::memcpy(chip->array + offset, bytes, length);
}

bool chip_busy(const ChipState* chip) { return chip->stuckBusy || pending_running(chip); }

uint8_t chip_status_register(const ChipState* chip) {
  return static_cast<uint8_t>(chip->st.status | (chip_busy(chip) ? WIP : 0));
}

uint8_t chip_config_register(const ChipState* chip) { return chip->st.config; }

void chip_set_registers(ChipState* chip, int status, int config) {
  if (status >= 0) chip->st.status = static_cast<uint8_t>(status) & static_cast<uint8_t>(~WIP);
  if (config >= 0) chip->st.config = static_cast<uint8_t>(config);
  save_state(chip);
}

bool chip_in_deep_power_down(const ChipState* chip) { return chip->st.deepPowerDown; }

bool chip_volatile_write_armed(const ChipState* chip) { return chip->st.volatileWriteArmed; }

uint64_t chip_now_ns(const ChipState* chip) { return chip->st.clockNs; }

std::string chip_describe(const ChipState* chip) {
  const ChipProfile& p = chip->profile;
  const PersistentState& st = chip->st;
  uint8_t sr = chip_status_register(chip);
  char buf[256];
  std::string out;
  std::snprintf(buf, sizeof buf, "profile: %s\nsize: %" PRIu32 " bytes\n", p.name.c_str(),
                p.sizeBytes);
  out += buf;
  std::snprintf(
      buf, sizeof buf, "jedec: %02X %02X %02X, %u extended ID bytes\nrems: %02X %02X\nres: %02X\n",
      p.jedecId[0], p.jedecId[1], p.jedecId[2], static_cast<unsigned>(p.extendedId.size()),
      p.jedecId[0], p.remsDeviceId, p.electronicSignature);
  out += buf;
  std::snprintf(buf, sizeof buf, "status: 0x%02X (WIP %d, WEL %d, BP %d)\n", sr, sr & WIP ? 1 : 0,
                sr & WEL ? 1 : 0, (sr >> 2) & 7);
  out += buf;
  if (p.hasConfigRegister)
    std::snprintf(buf, sizeof buf, "config: 0x%02X\n", st.config);
  else
    std::snprintf(buf, sizeof buf, "config: none\n");
  out += buf;
  std::snprintf(
      buf, sizeof buf, "deep power-down: %s\nvolatile status write: %s\nclock: %" PRIu64 " ns\n",
      st.deepPowerDown ? "yes" : "no", st.volatileWriteArmed ? "armed" : "off", st.clockNs);
  out += buf;
  const PendingOp& op = st.pending;
  if (op.kind == PEND_NONE) {
    out += "pending: none\n";
  } else {
    const char* what = op.kind == PEND_PROGRAM ? "page program"
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
