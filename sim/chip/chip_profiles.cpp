// SPDX-License-Identifier: MIT
// Built-in chip profiles, the "key=value" settings that adjust them, and the
// identification tables (CFI-like extended ID, SFDP) derived from a profile.
#include "chip_internal.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace chipsim {
namespace {

constexpr uint32_t MIB = 1024 * 1024;
constexpr uint64_t CHIP_ERASE_NS_PER_16_MIB = 40000000000ull;

uint8_t ceil_log2(uint64_t v) {
  uint8_t n = 0;
  while ((uint64_t{1} << n) < v && n < 63) ++n;
  return n;
}

// The ID-CFI area a Spansion-style part returns after its 3 RDID bytes and the
// length byte: addresses 0x04..0x50, so the length byte reads 0x4D (77).
std::vector<uint8_t> cfi_extended_id(const ChipProfile& p) {
  std::vector<uint8_t> cfi(0x51, 0xFF);
  cfi[0x04] = 0x00;  // uniform sector architecture
  cfi[0x05] = 0x80;  // family
  cfi[0x06] = 0x30;
  cfi[0x07] = 0x30;
  cfi[0x10] = 'Q';
  cfi[0x11] = 'R';
  cfi[0x12] = 'Y';
  const uint8_t fixed[] = {0x02, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27, 0x36, 0x00, 0x00};
  for (size_t i = 0; i < sizeof fixed; ++i) cfi[0x13 + i] = fixed[i];
  cfi[0x1F] = 0x00;                                                   // no single-byte program time
  cfi[0x20] = ceil_log2((p.timings.pageProgramNs + 999) / 1000);      // 2^N us
  cfi[0x21] = ceil_log2((p.timings.erase64kNs + 999999) / 1000000);   // 2^N ms
  cfi[0x22] = ceil_log2((p.timings.chipEraseNs + 999999) / 1000000);  // 2^N ms
  cfi[0x23] = 0x00;
  cfi[0x24] = 0x02;
  cfi[0x25] = 0x03;
  cfi[0x26] = 0x03;
  cfi[0x27] = ceil_log2(p.sizeBytes);
  cfi[0x28] = 0x01;
  cfi[0x29] = 0x00;
  cfi[0x2A] = 0x08;  // 2^8-byte page
  cfi[0x2B] = 0x00;
  cfi[0x2C] = 0x01;  // one region of uniform 64 KiB blocks
  uint32_t blocks = (p.sizeBytes + 0xFFFF) / 0x10000 - 1;
  cfi[0x2D] = static_cast<uint8_t>(blocks);
  cfi[0x2E] = static_cast<uint8_t>(blocks >> 8);
  cfi[0x2F] = 0x00;  // 64 KiB = 256 x 256 bytes
  cfi[0x30] = 0x01;
  cfi[0x40] = 'P';
  cfi[0x41] = 'R';
  cfi[0x42] = 'I';
  cfi[0x43] = '1';
  cfi[0x44] = '3';
  return std::vector<uint8_t>(cfi.begin() + 4, cfi.end());
}

// Sizes are multiples of 4 KiB, so whole 4 KiB units keep the product in range.
uint64_t scale_by_size(uint64_t ns, uint32_t fromBytes, uint32_t toBytes) {
  uint64_t from = fromBytes / 4096, to = toBytes / 4096;
  if (from == 0) return ns;
  if (ns <= UINT64_MAX / 4096) return ns * to / from;
  return ns / from * to;
}

ChipTimings datasheet_timings(uint32_t sizeBytes) {
  ChipTimings t;
  t.pageProgramNs = 700000;
  t.erase4kNs = 45000000;
  t.erase8kNs = 60000000;
  t.erase32kNs = 120000000;
  t.erase64kNs = 150000000;
  t.chipEraseNs = scale_by_size(CHIP_ERASE_NS_PER_16_MIB, 16 * MIB, sizeBytes);
  t.registerWriteNs = 5000000;
  return t;
}

ChipProfile spansion_like(const char* name, uint32_t size, uint8_t capacity, uint8_t deviceId) {
  ChipProfile p;
  p.name = name;
  p.sizeBytes = size;
  p.jedecId[0] = 0x01;
  p.jedecId[1] = 0x20;
  p.jedecId[2] = capacity;
  p.remsDeviceId = deviceId;
  p.electronicSignature = deviceId;
  p.hasConfigRegister = true;
  p.has8kAnd32kErase = true;
  p.has32kErase = true;
  p.hasSfdp = false;
  p.timings = datasheet_timings(size);
  p.extendedId = cfi_extended_id(p);
  return p;
}

ChipProfile winbond_w25q128() {
  ChipProfile p;
  p.name = "w25q128";
  p.sizeBytes = 16 * MIB;
  p.jedecId[0] = 0xEF;
  p.jedecId[1] = 0x40;
  p.jedecId[2] = 0x18;
  p.remsDeviceId = 0x17;
  p.electronicSignature = 0x17;
  p.hasConfigRegister = true;  // status register 2, read with 0x35
  p.has8kAnd32kErase = false;
  p.has32kErase = true;
  p.hasSfdp = true;
  p.timings = datasheet_timings(p.sizeBytes);
  return p;
}

ChipProfile sst_sst25vf016b() {
  // The part QEMU's sabrelite board carries, as its flash model answers: no
  // extended ID, REMS and RES both start with the manufacturer byte (address
  // 0), status register only, 4/32/64 KiB erases. Times are the datasheet's.
  ChipProfile p;
  p.name = "sst25vf016b";
  p.sizeBytes = 2 * MIB;
  p.jedecId[0] = 0xBF;
  p.jedecId[1] = 0x25;
  p.jedecId[2] = 0x41;
  p.remsDeviceId = 0x41;
  p.electronicSignature = 0xBF;
  p.hasConfigRegister = false;
  p.has8kAnd32kErase = false;
  p.has32kErase = true;
  p.hasSfdp = false;
  p.timings = datasheet_timings(p.sizeBytes);
  p.timings.pageProgramNs = 10000;
  p.timings.erase4kNs = p.timings.erase32kNs = p.timings.erase64kNs = 25000000;
  p.timings.chipEraseNs = 50000000;
  return p;
}

std::vector<ChipProfile> builtin_profiles() {
  return {spansion_like("default", 16 * MIB, 0x18, 0x17), winbond_w25q128(),
          spansion_like("small", 1 * MIB, 0x14, 0x13), sst_sst25vf016b()};
}

std::string trim_quotes(std::string v) {
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  size_t start = 0;
  while (start < v.size() && std::isspace(static_cast<unsigned char>(v[start]))) ++start;
  v = v.substr(start);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    v = v.substr(1, v.size() - 2);
  return v;
}

bool parse_number(const std::string& text, uint64_t* out) {
  std::string v = trim_quotes(text);
  if (v.empty() || v[0] == '-' || v[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long n = std::strtoull(v.c_str(), &end, 0);
  if (errno != 0 || end == v.c_str()) return false;
  std::string suffix(end);
  uint64_t scale = 1;
  if (suffix == "K" || suffix == "k" || suffix == "KiB")
    scale = 1024;
  else if (suffix == "M" || suffix == "MiB")
    scale = MIB;
  else if (!suffix.empty())
    return false;
  if (n > UINT64_MAX / scale) return false;
  *out = n * scale;
  return true;
}

// "EF 40 18", "ef,40,18", "0xEF 0x40 0x18" or "EF4018".
bool parse_bytes(const std::string& text, std::vector<uint8_t>* out) {
  std::string v = trim_quotes(text);
  std::vector<std::string> tokens;
  std::string cur;
  for (char ch : v) {
    if (ch == ' ' || ch == ',' || ch == ':' || ch == '\t') {
      if (!cur.empty()) tokens.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  if (!cur.empty()) tokens.push_back(cur);
  if (tokens.size() == 1 && tokens[0].size() > 2 && tokens[0].size() % 2 == 0 &&
      tokens[0].compare(0, 2, "0x") != 0 && tokens[0].compare(0, 2, "0X") != 0) {
    std::string run = tokens[0];
    tokens.clear();
    for (size_t i = 0; i < run.size(); i += 2) tokens.push_back(run.substr(i, 2));
  }
  out->clear();
  for (std::string t : tokens) {
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
    if (t.empty() || t.size() > 2) return false;
    for (char ch : t)
      if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
    out->push_back(static_cast<uint8_t>(std::strtoul(t.c_str(), nullptr, 16)));
  }
  return true;
}

std::string hex_bytes(const uint8_t* bytes, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

uint64_t* timing_field(ChipTimings* t, const std::string& key) {
  if (key == "page_program_ns") return &t->pageProgramNs;
  if (key == "erase4k_ns") return &t->erase4kNs;
  if (key == "erase8k_ns") return &t->erase8kNs;
  if (key == "erase32k_ns") return &t->erase32kNs;
  if (key == "erase64k_ns") return &t->erase64kNs;
  if (key == "chip_erase_ns") return &t->chipEraseNs;
  if (key == "register_write_ns") return &t->registerWriteNs;
  return nullptr;
}

bool fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

}  // namespace

bool has_32k_erase(const ChipProfile& p) { return p.has8kAnd32kErase || p.has32kErase; }

bool apply_settings(ChipProfile* p, uint8_t* status, uint8_t* config,
                    const std::vector<std::string>& settings, std::string* error) {
  const uint32_t oldSize = p->sizeBytes;
  const bool extWasDerived = !p->extendedId.empty() && p->extendedId == cfi_extended_id(*p);
  bool extGiven = false;
  bool chipEraseGiven = false;
  for (const std::string& s : settings) {
    size_t eq = s.find('=');
    if (eq == std::string::npos || eq == 0)
      return fail(error, "setting '" + s + "' is not key=value");
    std::string key = s.substr(0, eq);
    std::string value = s.substr(eq + 1);
    const std::string bad = "bad value for " + key + ": '" + value + "'";
    uint64_t n = 0;
    std::vector<uint8_t> bytes;
    if (uint64_t* field = timing_field(&p->timings, key)) {
      if (!parse_number(value, &n)) return fail(error, bad);
      *field = n;
      chipEraseGiven = chipEraseGiven || key == "chip_erase_ns";
    } else if (key == "status" || key == "config" || key == "rems" || key == "res") {
      if (!parse_number(value, &n) || n > 0xFF) return fail(error, bad);
      uint8_t b = static_cast<uint8_t>(n);
      if (key == "status")
        *status = b & static_cast<uint8_t>(~WIP);
      else if (key == "config")
        *config = b;
      else if (key == "rems")
        p->remsDeviceId = b;
      else
        p->electronicSignature = b;
    } else if (key == "size") {
      if (!parse_number(value, &n) || n < 4096 || n > MAX_CHIP_BYTES || n % 4096 != 0)
        return fail(error, bad + " (a multiple of 4096, at most 16 MiB)");
      p->sizeBytes = static_cast<uint32_t>(n);
    } else if (key == "jedec") {
      if (!parse_bytes(value, &bytes) || bytes.size() != 3)
        return fail(error, bad + " (three hex bytes)");
      for (int i = 0; i < 3; ++i) p->jedecId[i] = bytes[i];
    } else if (key == "ext") {
      if (!parse_bytes(value, &bytes) || bytes.size() > 255)
        return fail(error, bad + " (0 to 255 hex bytes)");
      p->extendedId = bytes;
      extGiven = true;
    } else if (key == "sfdp" || key == "config_register" || key == "erase8k" || key == "erase32k") {
      if (!parse_number(value, &n) || n > 1) return fail(error, bad + " (0 or 1)");
      bool on = n == 1;
      if (key == "sfdp")
        p->hasSfdp = on;
      else if (key == "config_register")
        p->hasConfigRegister = on;
      else if (key == "erase8k")
        p->has8kAnd32kErase = on;
      else
        p->has32kErase = on;
    } else {
      return fail(error, "unknown setting '" + key + "'");
    }
  }
  if (p->has8kAnd32kErase) p->has32kErase = true;
  if (p->sizeBytes != oldSize) {
    // A resized part keeps its datasheet rate and, unless told otherwise, an ID area that matches.
    if (!chipEraseGiven && oldSize != 0)
      p->timings.chipEraseNs = scale_by_size(p->timings.chipEraseNs, oldSize, p->sizeBytes);
    if (!extGiven && extWasDerived) p->extendedId = cfi_extended_id(*p);
  }
  return true;
}

std::string profile_to_text(const ChipProfile& p) {
  std::ostringstream o;
  o << "profile=" << p.name << "\n"
    << "size=" << p.sizeBytes << "\n"
    << "jedec=" << hex_bytes(p.jedecId, 3) << "\n"
    << "ext=" << hex_bytes(p.extendedId.data(), p.extendedId.size()) << "\n";
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", p.remsDeviceId);
  o << "rems=" << buf << "\n";
  std::snprintf(buf, sizeof buf, "0x%02X", p.electronicSignature);
  o << "res=" << buf << "\n"
    << "config_register=" << (p.hasConfigRegister ? 1 : 0) << "\n"
    << "erase8k=" << (p.has8kAnd32kErase ? 1 : 0) << "\n"
    << "erase32k=" << (has_32k_erase(p) ? 1 : 0) << "\n"
    << "sfdp=" << (p.hasSfdp ? 1 : 0) << "\n"
    << "page_program_ns=" << p.timings.pageProgramNs << "\n"
    << "erase4k_ns=" << p.timings.erase4kNs << "\n"
    << "erase8k_ns=" << p.timings.erase8kNs << "\n"
    << "erase32k_ns=" << p.timings.erase32kNs << "\n"
    << "erase64k_ns=" << p.timings.erase64kNs << "\n"
    << "chip_erase_ns=" << p.timings.chipEraseNs << "\n"
    << "register_write_ns=" << p.timings.registerWriteNs << "\n";
  return o.str();
}

bool profile_from_text(const std::string& text, ChipProfile* p, std::string* error) {
  *p = ChipProfile();
  p->sizeBytes = 0;
  p->jedecId[0] = p->jedecId[1] = p->jedecId[2] = 0xFF;
  p->remsDeviceId = p->electronicSignature = 0xFF;
  p->hasConfigRegister = p->has8kAnd32kErase = p->has32kErase = p->hasSfdp = false;
  p->timings = ChipTimings();
  std::vector<std::string> settings;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.compare(0, 8, "profile=") == 0)
      p->name = line.substr(8);
    else
      settings.push_back(line);
  }
  uint8_t ignoredStatus = 0, ignoredConfig = 0;
  if (!apply_settings(p, &ignoredStatus, &ignoredConfig, settings, error)) return false;
  if (p->name.empty() || p->sizeBytes == 0)
    return fail(error, "profile file lacks profile= or size=");
  return true;
}

// A minimal JESD216 table: the header, one parameter header, and a 9-DWORD basic
// flash parameter table at 0x80 that agrees with the profile's size and erases.
std::vector<uint8_t> sfdp_image(const ChipProfile& p) {
  std::vector<uint8_t> t(0x80 + 36, 0xFF);
  const uint8_t header[16] = {'S',  'F',  'D',  'P',  0x00, 0x01, 0x00, 0xFF,
                              0x00, 0x00, 0x01, 0x09, 0x80, 0x00, 0x00, 0xFF};
  for (int i = 0; i < 16; ++i) t[i] = header[i];
  uint32_t dw[9];
  // 4 KiB erase everywhere with 0x20, page-sized writes, WEL needed for SR writes
  // through 0x50, 3-byte addresses, single-line reads only.
  dw[0] = 0xFF800000u | (0x20u << 8) | 0xE5u;
  dw[1] = p.sizeBytes * 8u - 1u;
  dw[2] = 0;
  dw[3] = 0;
  dw[4] = 0xFFFFFFEEu;
  dw[5] = 0x0000FFFFu;
  dw[6] = 0x0000FFFFu;
  uint8_t types[8] = {0};  // (size exponent, opcode) pairs, smallest first
  int n = 0;
  types[n * 2] = 12, types[n * 2 + 1] = 0x20, ++n;
  if (p.has8kAnd32kErase) types[n * 2] = 13, types[n * 2 + 1] = 0x40, ++n;
  if (has_32k_erase(p)) types[n * 2] = 15, types[n * 2 + 1] = 0x52, ++n;
  types[n * 2] = 16, types[n * 2 + 1] = 0xD8, ++n;
  dw[7] = types[0] | (uint32_t{types[1]} << 8) | (uint32_t{types[2]} << 16) |
          (uint32_t{types[3]} << 24);
  dw[8] = types[4] | (uint32_t{types[5]} << 8) | (uint32_t{types[6]} << 16) |
          (uint32_t{types[7]} << 24);
  for (int i = 0; i < 9; ++i)
    for (int b = 0; b < 4; ++b) t[0x80 + i * 4 + b] = static_cast<uint8_t>(dw[i] >> (8 * b));
  return t;
}

}  // namespace chipsim

bool chip_profile_by_name(const std::string& name, ChipProfile* out) {
  for (const ChipProfile& p : chipsim::builtin_profiles()) {
    if (p.name == name) {
      *out = p;
      return true;
    }
  }
  return false;
}

std::vector<std::string> chip_profile_names() {
  std::vector<std::string> names;
  for (const ChipProfile& p : chipsim::builtin_profiles()) names.push_back(p.name);
  return names;
}
