// SPDX-License-Identifier: MIT
// Numbers, sizes, times and byte lists as the catalogue and the settings write
// them: the only place a part's values are read from text.
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "parts_reader.h"

namespace flashparts {
namespace {

std::string trim_quotes(std::string v) {
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  size_t start = 0;
  while (start < v.size() && std::isspace(static_cast<unsigned char>(v[start]))) ++start;
  v = v.substr(start);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    v = v.substr(1, v.size() - 2);
  return v;
}

// A number in base 0 followed by a unit from `units` (the empty unit included when listed).
struct Unit {
  const char* name;
  uint64_t scale;
};

bool parse_scaled(const std::string& text, const Unit* units, size_t unitCount, bool fraction,
                  uint64_t* out) {
  std::string v = trim_quotes(text);
  uint64_t whole = 0;
  size_t used = 0;
  if (!parse_number_prefix(v, &whole, &used)) return false;
  const char* end = v.c_str() + used;
  std::string decimals;
  if (fraction && *end == '.') {
    for (++end; std::isdigit(static_cast<unsigned char>(*end)); ++end) decimals += *end;
    if (decimals.empty() || decimals.size() > 9) return false;
  }
  std::string suffix(end);
  for (size_t i = 0; i < unitCount; ++i) {
    if (suffix != units[i].name) continue;
    uint64_t scale = units[i].scale;
    if (whole > UINT64_MAX / scale) return false;
    uint64_t part = 0, divisor = 1;
    for (char digit : decimals) part = part * 10 + uint64_t(digit - '0'), divisor *= 10;
    if (part != 0 && scale % divisor != 0) return false;  // finer than the unit's nanosecond
    *out = whole * scale + part * (scale / divisor);
    return true;
  }
  return false;
}

}  // namespace

bool parse_number_prefix(const std::string& text, uint64_t* value, size_t* used) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str()) return false;
  *value = parsed;
  *used = static_cast<size_t>(end - text.c_str());
  return true;
}

bool parse_plain_number(const std::string& text, uint64_t* out) {
  static const Unit plain[] = {{"", 1}};
  return parse_scaled(text, plain, 1, false, out);
}

bool parse_size(const std::string& text, uint64_t* out) {
  static const Unit sizes[] = {{"", 1},       {"K", 1024}, {"k", 1024},
                               {"KiB", 1024}, {"M", MIB},  {"MiB", MIB}};
  return parse_scaled(text, sizes, sizeof sizes / sizeof sizes[0], false, out);
}

bool parse_duration_ns(const std::string& text, uint64_t* out) {
  static const Unit times[] = {{"ns", 1}, {"us", 1000}, {"ms", 1000000}, {"s", 1000000000}};
  return parse_scaled(text, times, sizeof times / sizeof times[0], true, out);
}

bool parse_bytes(const std::string& text, std::vector<uint8_t>* out) {
  std::vector<std::string> tokens;
  std::string cur;
  for (char ch : trim_quotes(text)) {
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

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::string cur;
  for (char ch : text) {
    if (std::isspace(static_cast<unsigned char>(ch))) {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  if (!cur.empty()) words.push_back(cur);
  return words;
}

std::string size_text(uint64_t bytes) {
  if (bytes != 0 && bytes % MIB == 0) return std::to_string(bytes / MIB) + "M";
  if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes / 1024) + "K";
  return std::to_string(bytes);
}

}  // namespace flashparts
