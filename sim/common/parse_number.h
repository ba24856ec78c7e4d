// SPDX-License-Identifier: MIT
// Numbers as the simulator's options and environment write them.
#pragma once
#include <cstdint>
#include <string>

namespace flashsim {

// The whole text is one unsigned number: decimal, 0x hex or 0 octal (strtoull's base 0), with
// no sign or blank around it; false when it is not or does not fit 64 bits. Catalogue and
// settings values, which may be quoted, are read by flashparts::parse_plain_number.
bool parse_number(const std::string& text, uint64_t* value);

}  // namespace flashsim
