// SPDX-License-Identifier: MIT
// The number rule of every numeric word on the command line.
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "cli/cli.h"

// The board's long is 32 bits. Convert wide and clamp, so a 64-bit host gives
// the same value and the same range error as the board does.
NumberWord parse_number(const char* word, int base) {
  char* end = nullptr;
  errno = 0;
  long long wide = std::strtoll(word, &end, base);
  NumberWord result{0, errno == ERANGE, end != word};
  if (wide > INT32_MAX) {
    wide = INT32_MAX;
    result.rangeError = true;
  } else if (wide < INT32_MIN) {
    wide = INT32_MIN;
    result.rangeError = true;
  }
  result.value = static_cast<uint32_t>(static_cast<int32_t>(wide));
  return result;
}
