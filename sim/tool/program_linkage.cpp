// SPDX-License-Identifier: MIT
// Whether a program can have libflashsim.so preloaded at all: an ELF executable
// without a program interpreter (PT_INTERP) is linked statically, and the
// dynamic linker that would load the library never runs in it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tool.h"

namespace tool {

namespace {

constexpr uint32_t PT_INTERP_TYPE = 3;

// The file the shell would run: a name with a slash as it is, else the first match on PATH.
std::string locate(const std::string& program, const std::string& path) {
  if (program.find('/') != std::string::npos) return program;
  for (size_t pos = 0, end; pos <= path.size(); pos = end + 1) {
    end = std::min(path.find(':', pos), path.size());
    std::string dir = path.substr(pos, end - pos);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (FILE* f = std::fopen(candidate.c_str(), "rb")) {
      std::fclose(f);
      return candidate;
    }
  }
  return "";
}

// Fields of either class and byte order.
uint64_t field(const uint8_t* at, int bytes, bool big) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t{at[big ? bytes - 1 - i : i]} << (8 * i);
  return value;
}

}  // namespace

bool statically_linked(const std::string& program, const std::string& path) {
  std::string file = locate(program, path);
  FILE* f = file.empty() ? nullptr : std::fopen(file.c_str(), "rb");
  if (!f) return false;
  uint8_t header[64] = {};
  bool elf = std::fread(header, 1, sizeof header, f) == sizeof header &&
             std::memcmp(header, "\177ELF", 4) == 0 && (header[4] == 1 || header[4] == 2);
  const bool wide = header[4] == 2, big = header[5] == 2;
  // ET_EXEC, or ET_DYN for a static-pie (a position-independent one names an interpreter).
  const uint64_t type = field(header + 16, 2, big);
  const bool runnable = type == 2 || type == 3;
  bool interpreter = false;
  if (elf && runnable) {
    uint64_t phoff = field(header + (wide ? 32 : 28), wide ? 8 : 4, big);
    uint64_t entrySize = field(header + (wide ? 54 : 42), 2, big);
    uint64_t count = field(header + (wide ? 56 : 44), 2, big);
    uint8_t entry[64];
    for (uint64_t i = 0; i < count && entrySize >= 4 && entrySize <= sizeof entry; ++i) {
      if (std::fseek(f, long(phoff + i * entrySize), SEEK_SET) != 0 ||
          std::fread(entry, 1, entrySize, f) != entrySize)
        break;
      interpreter = interpreter || field(entry, 4, big) == PT_INTERP_TYPE;
    }
  }
  std::fclose(f);
  return elf && runnable && !interpreter;
}

}  // namespace tool
