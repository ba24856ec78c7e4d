// SPDX-License-Identifier: MIT
// The built-in chip profiles (the parts catalogue, read once per process), the
// "key=value" settings that adjust them, and the identification tables
// (CFI-like extended ID, SFDP) derived from a profile.
#include "chip_internal.h"

namespace chipsim {
namespace {

uint8_t ceil_log2(uint64_t v) {
  uint8_t n = 0;
  while ((uint64_t{1} << n) < v && n < 63) ++n;
  return n;
}

// Sizes are multiples of 4 KiB, so whole 4 KiB units keep the product in range.
uint64_t scale_by_size(uint64_t ns, uint32_t fromBytes, uint32_t toBytes) {
  uint64_t from = fromBytes / 4096, to = toBytes / 4096;
  if (from == 0) return ns;
  if (ns <= UINT64_MAX / 4096) return ns * to / from;
  return ns / from * to;
}

struct Catalogue {
  std::vector<ChipProfile> profiles;
  std::string error;
};

const Catalogue& catalogue() {
  static const Catalogue built = [] {
    Catalogue c;
    std::vector<ChipProfile> imported;
    if (!parse_catalogue(PARTS_CATALOGUE_TEXT, "parts/catalogue.txt", &c.profiles, &c.error) ||
        !parse_catalogue(KERNEL_PARTS_TEXT, "parts/kernel.txt", &imported, &c.error))
      c.profiles.clear(), imported.clear();
    for (const ChipProfile& p : imported)
      for (const ChipProfile& q : c.profiles)
        if (p.name == q.name) c.error = "parts/kernel.txt: profile " + p.name + " appears twice";
    if (!c.error.empty()) c.profiles.clear(), imported.clear();
    c.profiles.insert(c.profiles.end(), imported.begin(), imported.end());
    return c;
  }();
  return built;
}

bool fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// The uniform block the ID-CFI area describes: D8's, else 64 KiB.
uint32_t uniform_block(const ChipProfile& p) {
  const EraseRule& d8 = p.erases[3];
  return d8.kind == EraseKind::BLOCK ? d8.blockBytes : 65536;
}

bool block_erase(const ChipProfile& p, int index, uint32_t bytes) {
  return p.erases[index].kind == EraseKind::BLOCK && p.erases[index].blockBytes == bytes;
}

}  // namespace

bool apply_settings(ChipProfile* p, const std::vector<std::string>& settings, std::string* error,
                    size_t* failed) {
  const uint32_t oldSize = p->sizeBytes;
  bool chipEraseGiven = false;
  for (const std::string& s : settings) {
    if (failed) *failed = size_t(&s - settings.data());
    size_t eq = s.find('=');
    if (eq == std::string::npos || eq == 0)
      return fail(error, "setting '" + s + "' is not key=value");
    const std::string key = s.substr(0, eq);
    const std::string value = s.substr(eq + 1);
    // The name is the catalogue row's, which profile.txt names to be read back.
    if (key == "profile") return fail(error, "setting 'profile': the profile is chosen by name");
    std::string why;
    if (!set_profile_field(p, key, split_words(value), true, &why))
      return fail(error, why == "unknown field"
                             ? "unknown setting '" + key + "'"
                             : "bad value for " + key + ": '" + value + "' (" + why + ")");
    chipEraseGiven = chipEraseGiven || key == "chip_erase_ns" || key == "time-chip";
  }
  // A resized part keeps its datasheet rate unless told otherwise.
  if (p->sizeBytes != oldSize && !chipEraseGiven && oldSize != 0)
    p->timings.chipEraseNs = scale_by_size(p->timings.chipEraseNs, oldSize, p->sizeBytes);
  if (failed) *failed = settings.size();
  std::string why;
  return finish_profile(p, &why) || fail(error, "bad settings: " + why);
}

// profile.txt: the catalogue profile the chip was made from, then every field as it was
// written down, a line each. Every line ends in a newline: one without is a file cut short,
// whose last value may have lost digits.
bool profile_from_text(const std::string& text, ChipProfile* p, std::string* error) {
  std::vector<std::string> settings;
  std::vector<int> lines;
  std::string name;
  int line = 0, nameLine = 0;
  auto at = [](int n) { return "profile.txt" + (n ? ":" + std::to_string(n) : "") + ": "; };
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string content = text.substr(start, end - start);
    if (end == std::string::npos) return fail(error, at(line + 1) + "cut short: no end of line");
    if (content.compare(0, 8, "profile=") == 0 && nameLine != 0)
      return fail(error, at(line + 1) + "a second profile= line");
    if (content.compare(0, 8, "profile=") == 0)
      name = content.substr(8), nameLine = line + 1;
    else if (!content.empty())
      settings.push_back(content), lines.push_back(line + 1);
    ++line;
  }
  if (!chip_profile_by_name(name, p))
    return fail(error, at(nameLine) + "no catalogue profile '" + name + "'");
  size_t failed = 0;
  std::string why;
  if (apply_settings(p, settings, &why, &failed)) return true;
  return fail(error, at(failed < lines.size() ? lines[failed] : 0) + why);
}

// The ID-CFI area a Spansion-style part returns after its 3 RDID bytes and the
// length byte: addresses 0x04..0x50, so the length byte reads 0x4D (77).
std::vector<uint8_t> cfi_extended_id(const ChipProfile& p) {
  std::vector<uint8_t> cfi(0x51, 0xFF);
  const uint32_t block = uniform_block(p);
  cfi[0x04] = 0x00;  // uniform sector architecture
  cfi[0x05] = 0x80;  // family
  cfi[0x06] = 0x30;
  cfi[0x07] = 0x30;
  cfi[0x10] = 'Q';
  cfi[0x11] = 'R';
  cfi[0x12] = 'Y';
  const uint8_t fixed[] = {0x02, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27, 0x36, 0x00, 0x00};
  for (size_t i = 0; i < sizeof fixed; ++i) cfi[0x13 + i] = fixed[i];
  const uint64_t blockNs = erase_time_ns(p.timings, block);
  cfi[0x1F] = 0x00;                                                   // no single-byte program time
  cfi[0x20] = ceil_log2((p.timings.programNs + 999) / 1000);          // 2^N us
  cfi[0x21] = ceil_log2((blockNs + 999999) / 1000000);                // 2^N ms
  cfi[0x22] = ceil_log2((p.timings.chipEraseNs + 999999) / 1000000);  // 2^N ms
  cfi[0x23] = 0x00;
  cfi[0x24] = 0x02;
  cfi[0x25] = 0x03;
  cfi[0x26] = 0x03;
  cfi[0x27] = ceil_log2(p.sizeBytes);
  cfi[0x28] = 0x01;
  cfi[0x29] = 0x00;
  cfi[0x2A] = ceil_log2(p.pageBytes);  // 2^N-byte page
  cfi[0x2B] = 0x00;
  cfi[0x2C] = 0x01;  // one region of uniform blocks
  uint32_t blocks = (p.sizeBytes + block - 1) / block - 1;
  cfi[0x2D] = static_cast<uint8_t>(blocks);
  cfi[0x2E] = static_cast<uint8_t>(blocks >> 8);
  cfi[0x2F] = static_cast<uint8_t>(block / 256);  // block size in units of 256 bytes
  cfi[0x30] = static_cast<uint8_t>(block / 256 >> 8);
  cfi[0x40] = 'P';
  cfi[0x41] = 'R';
  cfi[0x42] = 'I';
  cfi[0x43] = '1';
  cfi[0x44] = '3';
  return std::vector<uint8_t>(cfi.begin() + 4, cfi.end());
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
  if (block_erase(p, 1, 8192)) types[n * 2] = 13, types[n * 2 + 1] = 0x40, ++n;
  if (block_erase(p, 2, 32768)) types[n * 2] = 15, types[n * 2 + 1] = 0x52, ++n;
  types[n * 2] = ceil_log2(uniform_block(p)), types[n * 2 + 1] = 0xD8, ++n;
  dw[7] = types[0] | (uint32_t{types[1]} << 8) | (uint32_t{types[2]} << 16) |
          (uint32_t{types[3]} << 24);
  dw[8] = types[4] | (uint32_t{types[5]} << 8) | (uint32_t{types[6]} << 16) |
          (uint32_t{types[7]} << 24);
  for (int i = 0; i < 9; ++i)
    for (int b = 0; b < 4; ++b) t[0x80 + i * 4 + b] = static_cast<uint8_t>(dw[i] >> (8 * b));
  return t;
}

}  // namespace chipsim

const std::string& chipsim::catalogue_error() { return chipsim::catalogue().error; }

bool chip_profile_by_name(const std::string& name, ChipProfile* out) {
  for (const ChipProfile& p : chipsim::catalogue().profiles) {
    if (p.name == name) {
      *out = p;
      return true;
    }
  }
  return false;
}

std::vector<ChipProfile> chip_profiles() { return chipsim::catalogue().profiles; }
