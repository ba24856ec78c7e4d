// SPDX-License-Identifier: MIT
// Numbers as the simulator's options, environment and chip settings write them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace flashsim {

// An unsigned number at the start of `text`: decimal, 0x hex or 0 octal (strtoull's base 0),
// with no sign or blank in front. *used is how many characters it took, so a caller can read a
// suffix after it. False when there is no number there or it does not fit 64 bits.
bool parse_number_prefix(const std::string& text, uint64_t* value, size_t* used);

// The whole text is one such number.
bool parse_number(const std::string& text, uint64_t* value);

}  // namespace flashsim
