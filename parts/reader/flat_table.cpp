// SPDX-License-Identifier: MIT
// The flat table: every part resolved (no base, no marks, sizes and times as numbers,
// the ID-CFI area filled in) on one line of key=value words, for readers with no more
// than awk or `while read`; and the marks each fact of a part rests on, a line each.
#include <cstdio>

#include "parts_reader.h"

namespace flashparts {
namespace {

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
  std::string s;
  char hex[3];
  for (uint8_t b : bytes) std::snprintf(hex, sizeof hex, "%02X", b), s += hex;
  return s;
}

// absent, chip, the block in bytes, or the map's blocks in bytes from address 0, comma-separated.
std::string erase_words(const EraseRule& rule) {
  if (rule.kind == EraseKind::ABSENT) return "absent";
  if (rule.kind == EraseKind::CHIP) return "chip";
  if (rule.kind == EraseKind::BLOCK) return std::to_string(rule.blockBytes);
  std::string s;
  for (uint32_t block : rule.mapBlocks) s += (s.empty() ? "" : ",") + std::to_string(block);
  return s;
}

bool block_erased(const ChipProfile& p, uint32_t bytes) {
  for (const EraseRule& rule : p.erases)
    for (uint32_t block :
         rule.kind == EraseKind::BLOCK ? std::vector<uint32_t>{rule.blockBytes} : rule.mapBlocks)
      if (block == bytes) return true;
  return false;
}

// The words the flat table writes for one line of profile_to_text.
std::string flat_words(const ChipProfile& p, const std::string& key, std::string value) {
  if (key == "ext") {
    const char* kind = p.extendedIdIsCfi      ? "cfi"
                       : p.extendedIdKnown    ? "prefix"
                       : p.extendedId.empty() ? "none"
                                              : "bytes";
    const std::string rdid = hex_bytes({uint8_t(p.extendedId.size())}) + hex_bytes(p.extendedId);
    // A prefix: what Linux tells the part by; the rest of the answer is not known.
    return "ext=" + std::string(kind) +
           " rdid=" + (p.extendedIdKnown ? rdid.substr(0, 2 * p.extendedIdKnown) : rdid);
  }
  if (key == "size" && p.sizeBytes == 0) return "size=unknown";  // the part gives it by SFDP
  if (key.compare(0, 5, "erase") == 0 && key.size() == 7)
    for (int i = 0; i < ERASE_OPCODE_COUNT; ++i)
      if (key == "erase" + hex_bytes({ERASE_OPCODES[i]}))
        return key + "=" + erase_words(p.erases[i]);
  if (key == "program")
    return std::string("program=") + (p.program == ProgramMode::BYTE ? "byte" : "page") +
           " page=" + std::to_string(p.pageBytes);
  unsigned kib = 0;
  char unit = 0;
  if (std::sscanf(key.c_str(), "erase%uk_n%c", &kib, &unit) == 2 && !block_erased(p, kib * 1024))
    return key + "=0";  // a time for an erase the part does not have is no fact of it
  if (key == "jedec") return "jedec=" + hex_bytes({p.jedecId[0], p.jedecId[1], p.jedecId[2]});
  for (char& c : value)
    if (c == ' ') c = ',';  // a value of several words stays one word
  return key + "=" + value;
}

}  // namespace

std::string flat_table_line(const ChipProfile& p) {
  const std::string text = profile_to_text(p);
  std::string line;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string entry = text.substr(start, end - start);
    const size_t eq = entry.find('=');
    line += (line.empty() ? "" : " ") + flat_words(p, entry.substr(0, eq), entry.substr(eq + 1));
  }
  return line + "\n";
}

std::string flat_table_text(const std::vector<ChipProfile>& parts) {
  std::string text =
      "# The parts catalogue, flat: one part a line, key=value words (parts/README.md).\n";
  for (const ChipProfile& p : parts) text += flat_table_line(p);
  return text;
}

std::string marks_table_text(const std::vector<ChipProfile>& parts,
                             const std::vector<std::vector<FactMarks>>& marks) {
  std::string text = "# The parts catalogue's marks: PROFILE KEY MARK... (parts/README.md).\n";
  for (size_t i = 0; i < parts.size() && i < marks.size(); ++i)
    for (const FactMarks& fact : marks[i]) {
      if (fact.marks.empty()) continue;  // kind, profile: facts of the catalogue itself
      text += parts[i].name + " " + fact.key;
      for (const std::string& mark : fact.marks) text += " " + mark;
      text += "\n";
    }
  return text;
}

}  // namespace flashparts
