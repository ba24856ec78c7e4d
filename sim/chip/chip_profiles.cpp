// SPDX-License-Identifier: MIT
// The built-in chip profiles (the parts catalogue, read once per process), the
// "key=value" settings that adjust them, and the SFDP table derived from a profile.
#include "chip_internal.h"

#include <algorithm>

namespace chipsim {
namespace {

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
  std::vector<std::string> keys;  // every key once, as the summary file's counters
  int line = 0, nameLine = 0;
  auto at = [](int n) { return "profile.txt" + (n ? ":" + std::to_string(n) : "") + ": "; };
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string content = text.substr(start, end - start);
    if (end == std::string::npos) return fail(error, at(line + 1) + "cut short: no end of line");
    if (content.compare(0, 8, "profile=") == 0 && nameLine != 0)
      return fail(error, at(line + 1) + "a second profile= line");
    if (content.compare(0, 8, "profile=") == 0) name = content.substr(8), nameLine = line + 1;
    const std::string key = content.substr(0, content.find('='));
    if (!content.empty() && std::find(keys.begin(), keys.end(), key) != keys.end())
      return fail(error, at(line + 1) + "a second " + key + "= line");
    if (!content.empty() && nameLine != line + 1)
      settings.push_back(content), lines.push_back(line + 1), keys.push_back(key);
    ++line;
  }
  if (!chip_profile_by_name(name, p))
    return fail(error, at(nameLine) + "no catalogue profile '" + name + "'");
  size_t failed = 0;
  std::string why;
  if (apply_settings(p, settings, &why, &failed)) return true;
  return fail(error, at(failed < lines.size() ? lines[failed] : 0) + why);
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
