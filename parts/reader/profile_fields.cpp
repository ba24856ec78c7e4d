// SPDX-License-Identifier: MIT
// The fields of a chip profile by name: how a catalogue row or a setting writes each
// one, how the effective profile is written back (profile.txt), and the checks that
// hold the fields together.
#include <cstdio>
#include <sstream>

#include "parts_reader.h"

namespace flashparts {
namespace {

struct Choice {
  const char* word;
  uint8_t value;
};

const Choice KINDS[] = {{"datasheet", 0}, {"model", 1}, {"kernel", 2}};
const Choice LOCKS[] = {{"none", uint8_t(PowerUpLock::NONE)},
                        {"bp", uint8_t(PowerUpLock::BP)},
                        {"global", uint8_t(PowerUpLock::GLOBAL)}};
const Choice WRR1S[] = {{"status", uint8_t(RegisterWrite::STATUS)},
                        {"ignored", uint8_t(RegisterWrite::IGNORED)}};
const Choice WRR2S[] = {{"config", uint8_t(RegisterWrite::CONFIG)},
                        {"status2", uint8_t(RegisterWrite::STATUS2)},
                        {"ignored", uint8_t(RegisterWrite::IGNORED)}};
const Choice OP31S[] = {{"write-config", uint8_t(RegisterWrite::CONFIG)},
                        {"write-status2", uint8_t(RegisterWrite::STATUS2)},
                        {"absent", uint8_t(RegisterWrite::IGNORED)}};
const Choice OP35S[] = {{"absent", uint8_t(Opcode35::ABSENT)},
                        {"read-config", uint8_t(Opcode35::READ_CONFIG)},
                        {"read-status2", uint8_t(Opcode35::READ_STATUS2)},
                        {"enter-qpi", uint8_t(Opcode35::ENTER_QPI)},
                        {"enter-quad", uint8_t(Opcode35::ENTER_QUAD)}};
const Choice OP50S[] = {{"absent", uint8_t(Opcode50::ABSENT)},
                        {"ewsr", uint8_t(Opcode50::EWSR)},
                        {"volatile-sr-enable", uint8_t(Opcode50::VOLATILE_SR_ENABLE)},
                        {"clear-flag-status", uint8_t(Opcode50::CLEAR_FLAG_STATUS)}};
const Choice OPB9S[] = {{"absent", uint8_t(OpcodeB9::ABSENT)},
                        {"deep-power-down", uint8_t(OpcodeB9::DEEP_POWER_DOWN)},
                        {"bank-access", uint8_t(OpcodeB9::BANK_ACCESS)}};
const Choice BANKS[] = {{"none", uint8_t(AddressBanks::NONE)},
                        {"bar", uint8_t(AddressBanks::BAR)},
                        {"ear", uint8_t(AddressBanks::EAR)}};
const Choice OPADS[] = {{"aai-word", 1}, {"absent", 0}};
const Choice OP4BS[] = {{"native", 1}, {"absent", 0}};
const Choice OPB7S[] = {{"enter-4byte", uint8_t(Enter4Byte::PLAIN)},
                        {"enter-4byte-wren", uint8_t(Enter4Byte::AFTER_WREN)},
                        {"absent", uint8_t(Enter4Byte::ABSENT)}};
const Choice BANKREGS[] = {{"brrd-brwr", uint8_t(BankRegister::BRRD_BRWR)},
                           {"ear", uint8_t(BankRegister::EAR)},
                           {"ear-wren", uint8_t(BankRegister::EAR_WREN)},
                           {"absent", uint8_t(BankRegister::ABSENT)}};
const Choice OP70S[] = {{"flag-status", 1}, {"absent", 0}};
const Choice OP15S[] = {{"read-config", uint8_t(Opcode15::READ_CONFIG)},
                        {"read-status3", uint8_t(Opcode15::READ_STATUS3)},
                        {"absent", uint8_t(Opcode15::ABSENT)}};
const Choice OP11S[] = {{"write-status3", uint8_t(RegisterWrite::STATUS3)},
                        {"absent", uint8_t(RegisterWrite::IGNORED)}};
const Choice YES_NO[] = {{"no", 0}, {"yes", 1}, {"0", 0}, {"1", 1}};

template <size_t N>
bool choose(const Choice (&choices)[N], const std::vector<std::string>& words, uint8_t* out,
            std::string* why) {
  if (words.size() == 1)
    for (const Choice& c : choices)
      if (words[0] == c.word) return *out = c.value, true;
  *why = "one of";
  for (const Choice& c : choices) *why += std::string(" ") + c.word;
  return false;
}

template <size_t N>
const char* word_of(const Choice (&choices)[N], uint8_t value) {
  for (const Choice& c : choices)
    if (c.value == value) return c.word;
  return "?";
}

template <typename Enum, size_t N>
bool choose_enum(const Choice (&choices)[N], const std::vector<std::string>& words, Enum* out,
                 std::string* why) {
  uint8_t v = 0;
  if (!choose(choices, words, &v, why)) return false;
  *out = static_cast<Enum>(v);
  return true;
}

std::string joined(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
  return s;
}

bool one_byte(const std::vector<std::string>& words, uint8_t* out, std::string* why) {
  uint64_t n = 0;
  if (words.size() != 1 || !parse_plain_number(words[0], &n) || n > 0xFF)
    return *why = "a byte value such as 0x1C", false;
  *out = static_cast<uint8_t>(n);
  return true;
}

bool one_number(const std::vector<std::string>& words, uint64_t* out, std::string* why) {
  if (words.size() == 1 && parse_plain_number(words[0], out)) return true;
  return *why = "a number", false;
}

int erase_index(const std::string& opcodeHex) {
  for (int i = 0; i < ERASE_OPCODE_COUNT; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", ERASE_OPCODES[i]);
    if (opcodeHex == hex) return i;
  }
  return -1;
}

int size_index(uint64_t bytes) {
  for (int i = 0; i < ERASE_SIZE_COUNT; ++i)
    if (ERASE_SIZES[i] == bytes) return i;
  return -1;
}

bool erase_size(const std::string& word, uint32_t* out, std::string* why) {
  uint64_t n = 0;
  if (!parse_size(word, &n) || size_index(n) < 0)
    return *why = "a block size (4K, 8K, 32K, 64K, 128K or 256K), chip, absent or a block map",
           false;
  *out = static_cast<uint32_t>(n);
  return true;
}

// absent | chip | SIZE | a map of SIZE or SIZE*COUNT words from address 0 upward.
bool erase_rule(int index, const std::vector<std::string>& words, EraseRule* rule,
                std::string* why) {
  const bool chipOpcode = ERASE_OPCODES[index] == 0x60 || ERASE_OPCODES[index] == 0xC7;
  *rule = EraseRule{EraseKind::ABSENT, 0, {}};
  if (words.size() == 1 && words[0] == "absent") return true;
  // A part whose geometry comes from its SFDP table: no block known to erase.
  if (ERASE_OPCODES[index] == 0xD8 && words.size() == 1 && words[0] == "unknown") return true;
  if (chipOpcode) {
    if (words.size() == 1 && words[0] == "chip") return rule->kind = EraseKind::CHIP, true;
    return *why = "chip or absent", false;
  }
  if (words.size() == 1 && words[0].find('*') == std::string::npos) {
    rule->kind = EraseKind::BLOCK;
    return erase_size(words[0], &rule->blockBytes, why);
  }
  rule->kind = EraseKind::MAP;
  for (const std::string& word : words) {
    size_t star = word.find('*');
    uint32_t block = 0;
    uint64_t count = 1;
    if (!erase_size(word.substr(0, star), &block, why)) return false;
    if (star != std::string::npos &&
        (!parse_plain_number(word.substr(star + 1), &count) || count == 0 || count > 16384))
      return *why = "a repeat count after '*'", false;
    rule->mapBlocks.insert(rule->mapBlocks.end(), size_t(count), block);
  }
  return true;
}

// TYPICAL [MAXIMUM]: the model takes the typical time; an unknown maximum is '?'.
bool typical_time(const std::vector<std::string>& words, uint64_t* out, std::string* why) {
  uint64_t maximum = 0;
  if (words.empty() || words.size() > 2 || !parse_duration_ns(words[0], out) ||
      (words.size() == 2 && words[1] != "?" &&
       (!parse_duration_ns(words[1], &maximum) || maximum < *out)))
    return *why = "a typical time and a maximum or ?, e.g. 0.4ms 3ms", false;
  return true;
}

using Words = std::vector<std::string>;

bool set_ext(ChipProfile* p, const std::string&, const std::vector<std::string>& words,
             std::string* why) {
  uint64_t count = 0;
  p->extendedIdIsCfi = false;
  p->extendedId.clear();
  p->extendedIdKnown = 0;
  if (words.empty() || (words.size() == 1 && words[0] == "none")) return true;
  if (words.size() == 1 && words[0] == "cfi") return p->extendedIdIsCfi = true;
  // unknown N: a length byte N whose bytes no source gives; the model answers zeros, and
  // only the length byte is known (an identification takes any N bytes after it).
  if (words.size() == 2 && (words[0] == "zeros" || words[0] == "unknown") &&
      parse_plain_number(words[1], &count) && count < 256)
    return p->extendedId.assign(size_t(count), 0),
           p->extendedIdKnown = words[0] == "unknown" ? 1 : 0, true;
  // prefix LEN BYTES...: the answer begins with the length byte and these bytes;
  // the rest of it is not known and reads as zeros.
  std::vector<uint8_t> prefix;
  if (words.size() >= 2 && words[0] == "prefix" &&
      parse_bytes(joined(Words(words.begin() + 1, words.end())), &prefix) && !prefix.empty() &&
      prefix.size() - 1 <= prefix[0])
    return p->extendedId.assign(prefix.begin() + 1, prefix.end()),
           p->extendedId.resize(prefix[0], 0), p->extendedIdKnown = prefix.size(), true;
  if (parse_bytes(joined(words), &p->extendedId) && p->extendedId.size() <= 255) return true;
  return *why = "none, cfi, zeros N, unknown N, prefix LENGTH BYTES... or 0 to 255 hex bytes", false;
}

using Setter = bool (*)(ChipProfile* p, const std::string& key, const Words& words,
                        std::string* why);

struct Field {
  const char* key;
  bool settingsOnly;  // accepted from --set and profile.txt, not from a catalogue row
  Setter set;         // null: set_named decides by the key
};

bool set_erase_time(ChipProfile* p, uint32_t bytes, uint64_t ns) {
  p->timings.eraseNs[size_index(bytes)] = ns;
  return true;
}

// Setters shared by fields of one shape.
template <typename Enum, Enum ChipProfile::*member, const auto& choices>
bool set_choice(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  return choose_enum(choices, w, &(p->*member), why);
}

template <uint64_t ChipTimings::*member>
bool set_time(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  return typical_time(w, &(p->timings.*member), why);
}

template <uint64_t ChipTimings::*member>
bool set_ns(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  return one_number(w, &(p->timings.*member), why);
}

template <bool ChipProfile::*member>
bool set_yes_no(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t v = 0;
  return choose(YES_NO, w, &v, why) && (p->*member = v == 1, true);
}

bool set_part(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  if (w.size() != 1) return *why = "one name", false;
  return p->part = w[0], true;
}

bool set_profile_name(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  if (w.size() != 1 || w[0].find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
    return *why = "one lower-case name", false;
  return p->name = w[0], true;
}

bool set_kind(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t v = 0;
  return choose(KINDS, w, &v, why) && (p->model = v == 1, p->imported = v == 2, true);
}

bool set_size(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint64_t n = 0;
  if (w.size() == 1 && w[0] == "unknown") return p->sizeBytes = 0, true;
  if (w.size() != 1 || !parse_size(w[0], &n) || n < 4096 || n > MAX_CHIP_BYTES || n % 4096 != 0)
    return *why = "a multiple of 4096, at most 256 MiB", false;
  return p->sizeBytes = uint32_t(n), true;
}

bool set_jedec(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  std::vector<uint8_t> bytes;
  if (!parse_bytes(joined(w), &bytes) || bytes.size() != 3) return *why = "three hex bytes", false;
  for (int i = 0; i < 3; ++i) p->jedecId[i] = bytes[size_t(i)];
  return true;
}

bool set_rems(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  p->hasRems = !(w.size() == 1 && w[0] == "absent");
  return !p->hasRems || one_byte(w, &p->remsDeviceId, why) || (*why += " or absent", false);
}

bool set_res(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  p->res = ResAnswer::SIGNATURE;
  if (w.size() == 1 && w[0] == "absent") return p->res = ResAnswer::ABSENT, true;
  if (w.size() == 1 && w[0] == "rems") return p->res = ResAnswer::AS_REMS, true;
  return one_byte(w, &p->electronicSignature, why) || (*why += ", absent or rems", false);
}

bool set_program(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint64_t n = 0;
  if (w.size() == 1 && w[0] == "byte")
    return p->program = ProgramMode::BYTE, p->pageBytes = 1, true;
  if (w.size() == 2 && w[0] == "page" && parse_plain_number(w[1], &n) &&
      (n == 256 || n == MAX_PAGE_BYTES))
    return p->program = ProgramMode::PAGE, p->pageBytes = uint32_t(n), true;
  return *why = "byte, page 256 or page 512", false;
}

bool set_status(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  // WIP reports an operation under way; a register value cannot hold it.
  if (!one_byte(w, &p->status, why)) return false;
  return (p->status & WIP) == 0 || (*why = "WIP (bit 0) is never stored", false);
}

bool set_config(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  p->hasConfig = !(w.size() == 1 && w[0] == "none");
  p->config = 0;
  return !p->hasConfig || one_byte(w, &p->config, why) || (*why += " or none", false);
}

template <bool ChipProfile::*member, const auto& choices>
bool set_flag_choice(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t v = 0;
  return choose(choices, w, &v, why) && (p->*member = v == 1, true);
}

bool set_status3(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  p->hasStatus3 = !(w.size() == 1 && w[0] == "none");
  p->status3 = 0;
  return !p->hasStatus3 || one_byte(w, &p->status3, why) || (*why += " or none", false);
}

// keeps | clears MASK: what a WRR with one data byte does to the second register.
bool set_wrr8(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  p->wrr8Clears = 0;
  if (w.size() == 1 && w[0] == "keeps") return true;
  if (w.size() == 2 && w[0] == "clears" && one_byte({w[1]}, &p->wrr8Clears, why)) return true;
  return *why = "keeps or clears MASK, e.g. clears 0x02", false;
}

bool set_all_erase_times(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint64_t ns = 0;
  if (!typical_time(w, &ns, why)) return false;
  for (uint64_t& each : p->timings.eraseNs) each = ns;
  return true;
}

bool set_bank(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  return one_byte(w, &p->startBank, why);
}

// The legacy switches of earlier versions map onto the traits.
bool set_config_register(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t on = 0;
  if (!choose(YES_NO, w, &on, why)) return false;
  p->hasConfig = on;
  p->opcode35 = on ? Opcode35::READ_CONFIG : Opcode35::ABSENT;
  p->wrr2 = p->opcode31 = on ? RegisterWrite::CONFIG : RegisterWrite::IGNORED;
  return true;
}

bool set_erase8k(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t on = 0;
  if (!choose(YES_NO, w, &on, why)) return false;
  p->erases[1] = EraseRule{on ? EraseKind::BLOCK : EraseKind::ABSENT, on ? 8192u : 0u, {}};
  if (on) p->erases[2] = EraseRule{EraseKind::BLOCK, 32768, {}};
  return true;
}

bool set_erase32k(ChipProfile* p, const std::string&, const Words& w, std::string* why) {
  uint8_t on = 0;
  if (!choose(YES_NO, w, &on, why)) return false;
  p->erases[2] = EraseRule{on ? EraseKind::BLOCK : EraseKind::ABSENT, on ? 32768u : 0u, {}};
  return true;
}

const Field FIELDS[] = {
    {"part", false, set_part},
    {"profile", false, set_profile_name},
    {"kind", false, set_kind},
    {"size", false, set_size},
    {"jedec", false, set_jedec},
    {"ext", false, set_ext},
    {"rems", false, set_rems},
    {"res", false, set_res},
    {"sfdp", false, set_yes_no<&ChipProfile::hasSfdp>},
    {"erase20", false, nullptr},
    {"erase40", false, nullptr},
    {"erase52", false, nullptr},
    {"eraseD8", false, nullptr},
    {"erase60", false, nullptr},
    {"eraseC7", false, nullptr},
    {"program", false, set_program},
    {"status", false, set_status},
    {"config", false, set_config},
    {"lock", false, set_choice<PowerUpLock, &ChipProfile::lock, LOCKS>},
    {"wrr1", false, set_choice<RegisterWrite, &ChipProfile::wrr1, WRR1S>},
    {"wrr2", false, set_choice<RegisterWrite, &ChipProfile::wrr2, WRR2S>},
    {"op31", false, set_choice<RegisterWrite, &ChipProfile::opcode31, OP31S>},
    {"op35", false, set_choice<Opcode35, &ChipProfile::opcode35, OP35S>},
    {"op50", false, set_choice<Opcode50, &ChipProfile::opcode50, OP50S>},
    {"opB9", false, set_choice<OpcodeB9, &ChipProfile::opcodeB9, OPB9S>},
    {"banks", false, set_choice<AddressBanks, &ChipProfile::banks, BANKS>},
    {"opAD", false, set_flag_choice<&ChipProfile::aaiWordProgram, OPADS>},
    {"op4B", false, set_flag_choice<&ChipProfile::native4Byte, OP4BS>},
    {"opB7", false, set_choice<Enter4Byte, &ChipProfile::opcodeB7, OPB7S>},
    {"bankreg", false, set_choice<BankRegister, &ChipProfile::bankRegister, BANKREGS>},
    {"op70", false, set_flag_choice<&ChipProfile::flagStatus, OP70S>},
    {"op15", false, set_choice<Opcode15, &ChipProfile::opcode15, OP15S>},
    {"op11", false, set_choice<RegisterWrite, &ChipProfile::opcode11, OP11S>},
    {"status3", false, set_status3},
    {"wrr8", false, set_wrr8},
    {"time-program", false, set_time<&ChipTimings::programNs>},
    {"time-erase", false, set_all_erase_times},
    {"time-erase-4K", false, nullptr},
    {"time-erase-8K", false, nullptr},
    {"time-erase-32K", false, nullptr},
    {"time-erase-64K", false, nullptr},
    {"time-erase-128K", false, nullptr},
    {"time-erase-256K", false, nullptr},
    {"time-chip", false, set_time<&ChipTimings::chipEraseNs>},
    {"time-register", false, set_time<&ChipTimings::registerWriteNs>},
    // The boot loader's leftovers the chip is created with.
    {"bank", true, set_bank},
    {"addr4", true, set_yes_no<&ChipProfile::startAddr4>},
    // The settings of earlier versions, still read from --set and profile.txt.
    {"page_program_ns", true, set_ns<&ChipTimings::programNs>},
    {"erase4k_ns", true, nullptr},
    {"erase8k_ns", true, nullptr},
    {"erase32k_ns", true, nullptr},
    {"erase64k_ns", true, nullptr},
    {"erase128k_ns", true, nullptr},
    {"erase256k_ns", true, nullptr},
    {"chip_erase_ns", true, set_ns<&ChipTimings::chipEraseNs>},
    {"register_write_ns", true, set_ns<&ChipTimings::registerWriteNs>},
    {"config_register", true, set_config_register},
    {"erase8k", true, set_erase8k},
    {"erase32k", true, set_erase32k},
};

// The fields whose handling depends on their name: erase opcodes and erase times.
bool set_named(ChipProfile* p, const std::string& key, const std::vector<std::string>& words,
               std::string* why) {
  uint64_t ns = 0;
  if (key.compare(0, 5, "erase") == 0 && key.size() == 7) {
    const int slot = erase_index(key.substr(5));
    return erase_rule(slot, words, &p->erases[slot], why);
  }
  if (key.compare(0, 11, "time-erase-") == 0) {
    uint64_t bytes = 0;
    parse_size(key.substr(11), &bytes);
    return typical_time(words, &ns, why) && set_erase_time(p, uint32_t(bytes), ns);
  }
  // eraseNk_ns
  uint64_t kib = std::stoull(key.substr(5));
  return one_number(words, &ns, why) && set_erase_time(p, uint32_t(kib * 1024), ns);
}

const Field* field_named(const std::string& key) {
  for (const Field& f : FIELDS)
    if (key == f.key) return &f;
  return nullptr;
}

std::string rule_text(const EraseRule& rule) {
  if (rule.kind == EraseKind::ABSENT) return "absent";
  if (rule.kind == EraseKind::CHIP) return "chip";
  if (rule.kind == EraseKind::BLOCK) return size_text(rule.blockBytes);
  std::string s;
  for (size_t i = 0; i < rule.mapBlocks.size();) {
    size_t run = 1;
    while (i + run < rule.mapBlocks.size() && rule.mapBlocks[i + run] == rule.mapBlocks[i]) ++run;
    s += (s.empty() ? "" : " ") + size_text(rule.mapBlocks[i]);
    if (run > 1) s += "*" + std::to_string(run);
    i += run;
  }
  return s;
}

std::string byte_text(uint8_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

uint64_t erase_time_ns(const ChipTimings& t, uint32_t blockBytes) {
  const int i = size_index(blockBytes);
  return i < 0 ? 0 : t.eraseNs[i];
}

bool set_profile_field(ChipProfile* p, const std::string& key,
                       const std::vector<std::string>& words, bool settingsOnly, std::string* why) {
  const Field* f = field_named(key);
  if (!f || (f->settingsOnly && !settingsOnly)) return *why = "unknown field", false;
  return f->set ? f->set(p, key, words, why) : set_named(p, key, words, why);
}

bool is_catalogue_field(const std::string& key) {
  const Field* f = field_named(key);
  return f && !f->settingsOnly;
}

std::vector<std::string> catalogue_fields() {
  std::vector<std::string> keys;
  for (const Field& f : FIELDS)
    if (!f.settingsOnly && std::string(f.key).compare(0, 10, "time-erase") != 0)
      keys.push_back(f.key);
  return keys;
}

bool finish_profile(ChipProfile* p, std::string* why) {
  for (int i = 0; i < ERASE_OPCODE_COUNT; ++i) {
    const EraseRule& rule = p->erases[i];
    uint64_t covered = 0;
    for (uint32_t block : rule.mapBlocks) covered += block;
    if (rule.kind == EraseKind::MAP && covered != p->sizeBytes)
      return *why = "erase" + byte_text(ERASE_OPCODES[i]).substr(2) + ": the block map covers " +
                    size_text(covered) + ", the size " + size_text(p->sizeBytes),
             false;
    // A block that does not divide the part would leave its last erase half outside it.
    if (rule.kind == EraseKind::BLOCK && p->sizeBytes % rule.blockBytes != 0)
      return *why = "erase" + byte_text(ERASE_OPCODES[i]).substr(2) + ": " +
                    size_text(rule.blockBytes) + " blocks do not divide the size " +
                    size_text(p->sizeBytes),
             false;
  }
  if (p->sizeBytes > BANK_BYTES && p->banks == AddressBanks::NONE)
    return *why = "size " + size_text(p->sizeBytes) + " above 16 MiB needs banks bar or ear", false;
  if (!p->hasConfig &&
      (p->opcode35 == Opcode35::READ_CONFIG || p->opcode35 == Opcode35::READ_STATUS2 ||
       p->wrr2 != RegisterWrite::IGNORED || p->opcode31 != RegisterWrite::IGNORED))
    return *why = "config none, yet op35, wrr2 or op31 reaches a second register", false;
  if (p->startBank != 0 && uint64_t(p->startBank) * BANK_BYTES >= p->sizeBytes)
    return *why = "bank " + std::to_string(p->startBank) + " lies beyond the part", false;
  if (p->startAddr4 && p->banks == AddressBanks::NONE && p->opcodeB7 == Enter4Byte::ABSENT)
    return *why = "addr4 needs a part with banks bar or ear, or with opB7", false;
  if ((p->bankRegister == BankRegister::BRRD_BRWR && p->banks != AddressBanks::BAR) ||
      ((p->bankRegister == BankRegister::EAR || p->bankRegister == BankRegister::EAR_WREN) &&
       p->banks != AddressBanks::EAR))
    return *why = "bankreg brrd-brwr needs banks bar, ear needs banks ear", false;
  if ((p->opcode15 == Opcode15::READ_CONFIG && !p->hasConfig) ||
      ((p->opcode15 == Opcode15::READ_STATUS3 || p->opcode11 == RegisterWrite::STATUS3) &&
       !p->hasStatus3))
    return *why = "op15 or op11 reaches a register the part lacks (config, status3)", false;
  if (p->wrr8Clears != 0 && !p->hasConfig)
    return *why = "wrr8 clears bits of a second register the part lacks", false;
  if (p->extendedIdIsCfi) p->extendedId = cfi_extended_id(*p);
  return true;
}

std::string profile_to_text(const ChipProfile& p) {
  std::ostringstream o;
  o << "profile=" << p.name << "\npart=" << p.part
    << "\nkind=" << word_of(KINDS, p.imported ? 2 : p.model) << "\nsize="
    << (p.sizeBytes ? std::to_string(p.sizeBytes) : std::string("unknown")) << "\njedec=";
  for (int i = 0; i < 3; ++i) o << (i ? " " : "") << byte_text(p.jedecId[i]).substr(2);
  o << "\next=";
  if (p.extendedIdIsCfi) o << "cfi";
  for (size_t i = 0; !p.extendedIdIsCfi && i < p.extendedId.size(); ++i)
    o << (i ? " " : "") << byte_text(p.extendedId[i]).substr(2);
  o << "\nrems=" << (p.hasRems ? byte_text(p.remsDeviceId) : "absent") << "\nres="
    << (p.res == ResAnswer::ABSENT    ? "absent"
        : p.res == ResAnswer::AS_REMS ? "rems"
                                      : byte_text(p.electronicSignature))
    << "\nsfdp=" << (p.hasSfdp ? "yes" : "no") << "\n";
  for (int i = 0; i < ERASE_OPCODE_COUNT; ++i)
    o << "erase" << byte_text(ERASE_OPCODES[i]).substr(2) << "=" << rule_text(p.erases[i]) << "\n";
  o << "program="
    << (p.program == ProgramMode::BYTE ? "byte" : "page " + std::to_string(p.pageBytes))
    << "\nstatus=" << byte_text(p.status)
    << "\nconfig=" << (p.hasConfig ? byte_text(p.config) : "none")
    << "\nlock=" << word_of(LOCKS, uint8_t(p.lock)) << "\nwrr1=" << word_of(WRR1S, uint8_t(p.wrr1))
    << "\nwrr2=" << word_of(WRR2S, uint8_t(p.wrr2))
    << "\nop31=" << word_of(OP31S, uint8_t(p.opcode31))
    << "\nop35=" << word_of(OP35S, uint8_t(p.opcode35))
    << "\nop50=" << word_of(OP50S, uint8_t(p.opcode50))
    << "\nopB9=" << word_of(OPB9S, uint8_t(p.opcodeB9))
    << "\nbanks=" << word_of(BANKS, uint8_t(p.banks))
    << "\nopAD=" << word_of(OPADS, p.aaiWordProgram) << "\nop4B=" << word_of(OP4BS, p.native4Byte)
    << "\nopB7=" << word_of(OPB7S, uint8_t(p.opcodeB7))
    << "\nbankreg=" << word_of(BANKREGS, uint8_t(p.bankRegister))
    << "\nop70=" << word_of(OP70S, p.flagStatus) << "\nop15=" << word_of(OP15S, uint8_t(p.opcode15))
    << "\nop11=" << word_of(OP11S, uint8_t(p.opcode11))
    << "\nstatus3=" << (p.hasStatus3 ? byte_text(p.status3) : "none")
    << "\nwrr8=" << (p.wrr8Clears ? "clears " + byte_text(p.wrr8Clears) : "keeps")
    << "\npage_program_ns=" << p.timings.programNs << "\n";
  for (int i = 0; i < ERASE_SIZE_COUNT; ++i)
    o << "erase" << ERASE_SIZES[i] / 1024 << "k_ns=" << p.timings.eraseNs[i] << "\n";
  o << "chip_erase_ns=" << p.timings.chipEraseNs
    << "\nregister_write_ns=" << p.timings.registerWriteNs << "\n";
  return o.str();
}

}  // namespace flashparts
