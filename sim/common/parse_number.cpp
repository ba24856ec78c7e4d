// SPDX-License-Identifier: MIT
#include "parse_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace flashsim {

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

bool parse_number(const std::string& text, uint64_t* value) {
  size_t used = 0;
  uint64_t parsed = 0;
  if (!parse_number_prefix(text, &parsed, &used) || used != text.size()) return false;
  *value = parsed;
  return true;
}

}  // namespace flashsim
