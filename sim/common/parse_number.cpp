// SPDX-License-Identifier: MIT
#include "parse_number.h"

#include "parts_reader.h"

namespace flashsim {

bool parse_number(const std::string& text, uint64_t* value) {
  size_t used = 0;
  uint64_t parsed = 0;
  if (!flashparts::parse_number_prefix(text, &parsed, &used) || used != text.size()) return false;
  *value = parsed;
  return true;
}

}  // namespace flashsim
