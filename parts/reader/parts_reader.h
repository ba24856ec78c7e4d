// SPDX-License-Identifier: MIT
#pragma once
// The parts catalogue's reader: the part record (ChipProfile), the rules for the values a
// catalogue row or a setting writes, the catalogue parser and the flat, resolved table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What one erase opcode does on a part.
enum class EraseKind : uint8_t {
  ABSENT,  // not an instruction of the part: ignored, MISO reads FF
  BLOCK,   // the aligned block of blockBytes holding the address
  CHIP,    // the whole array
  MAP,     // the block holding the address, blocks of different sizes (mapBlocks)
};

struct EraseRule {
  EraseKind kind;
  uint32_t blockBytes;              // BLOCK
  std::vector<uint32_t> mapBlocks;  // MAP: block lengths from address 0, covering the array
};

// The erase opcodes a part may have, in the order of ChipProfile::erases.
constexpr uint8_t ERASE_OPCODES[] = {0x20, 0x40, 0x52, 0xD8, 0x60, 0xC7};
constexpr int ERASE_OPCODE_COUNT = 6;

// Block sizes an erase can have, in the order of ChipTimings::eraseNs.
constexpr uint32_t ERASE_SIZES[] = {4096, 8192, 32768, 65536, 131072, 262144};
constexpr int ERASE_SIZE_COUNT = 6;

enum class ProgramMode : uint8_t { PAGE, BYTE };  // 0x02: a wrapping page, or its first byte only
enum class PowerUpLock : uint8_t {
  NONE,    // the status register keeps what was last written to it
  BP,      // block-protect bits are volatile and come up as the profile's status
  GLOBAL,  // every block locked at power-up; only 0x98 (after WREN) unlocks
};
// What a register write reaches.
enum class RegisterWrite : uint8_t { IGNORED, STATUS, CONFIG, STATUS2, STATUS3 };
enum class Opcode35 : uint8_t { ABSENT, READ_CONFIG, READ_STATUS2, ENTER_QPI, ENTER_QUAD };
enum class Opcode50 : uint8_t { ABSENT, EWSR, VOLATILE_SR_ENABLE, CLEAR_FLAG_STATUS };
enum class OpcodeB9 : uint8_t { ABSENT, DEEP_POWER_DOWN, BANK_ACCESS };
enum class Opcode15 : uint8_t { ABSENT, READ_CONFIG, READ_STATUS3 };
// B7h enters 4-byte addresses, E9h leaves them: absent, without WREN, or only after WREN.
enum class Enter4Byte : uint8_t { ABSENT, PLAIN, AFTER_WREN };
enum class BankRegister : uint8_t {
  ABSENT,
  BRRD_BRWR,  // 16h reads the bank register, 17h writes it (bit 7 = 4-byte addresses)
  EAR,        // C8h reads the extended address register, C5h writes it
  EAR_WREN,   // the same, C5h only after WREN
};
enum class ResAnswer : uint8_t { ABSENT, SIGNATURE, AS_REMS };  // AS_REMS: AB is 90's Read-ID
enum class AddressBanks : uint8_t {
  NONE,  // 3-byte addresses reach the whole part (at most 16 MiB)
  BAR,   // bank address register: B9 (BRAC) + WRR, bit 7 = 4-byte addresses
  EAR,   // extended address register, 4-byte mode by its own opcodes
};

struct ChipTimings {                   // datasheet typical times, nanoseconds
  uint64_t programNs;                  // one 0x02: a page, or a byte on byte-program parts
  uint64_t eraseNs[ERASE_SIZE_COUNT];  // by block size, 0 where the part has none
  uint64_t chipEraseNs;
  uint64_t registerWriteNs;
};

// One part: the traits the model decides every opcode by, as the kernel's
// flash_info tables do. Built from a row of the parts catalogue (and settings).
struct ChipProfile {
  std::string name;    // profile name, lower case: "w25q128jv"
  std::string part;    // as datasheets write it: "W25Q128JV"; a model's own name
  bool model;          // one of the simulator's model chips, not a datasheet part
  bool imported;       // a part from Linux's tables: its ID and geometry, the rest generic
  uint32_t sizeBytes;  // 0: geometry unknown (the part describes itself by SFDP)
  uint8_t jedecId[3];  // RDID 0x9F: manufacturer, device byte 1, device byte 2
  std::vector<uint8_t> extendedId;  // RDID: after the 3 ID bytes comes a length byte n =
                                    // extendedId.size(), then the n bytes
  bool extendedIdIsCfi;             // extendedId is the ID-CFI area derived from the traits
  size_t extendedIdKnown;           // of the answer (length byte and extendedId), the bytes a
                                    // row states; the rest is not known (ext prefix)
  bool hasRems;                     // REMS 0x90: manufacturer and remsDeviceId
  uint8_t remsDeviceId;
  ResAnswer res;
  uint8_t electronicSignature;  // RES 0xAB with ResAnswer::SIGNATURE
  bool hasSfdp;                 // 0x5A answers a table, or reads as absent (0xFF) when false
  EraseRule erases[ERASE_OPCODE_COUNT];
  ProgramMode program;
  uint32_t pageBytes;
  uint8_t status;  // at power-up (factory value of a non-volatile register)
  bool hasConfig;  // a second register: configuration or status register 2
  uint8_t config;  // its value at power-up
  PowerUpLock lock;
  RegisterWrite wrr1;      // the first WRR data byte
  RegisterWrite wrr2;      // the second WRR data byte
  RegisterWrite opcode31;  // 0x31 c
  Opcode35 opcode35;
  Opcode50 opcode50;
  OpcodeB9 opcodeB9;
  AddressBanks banks;
  bool aaiWordProgram;  // ADh: auto-address-increment word program, 04h ends it
  bool native4Byte;     // 13h 0Ch 12h, and 21h 5Ch DCh where 20h 52h D8h erase blocks
  Enter4Byte opcodeB7;  // B7h / E9h
  BankRegister bankRegister;
  bool flagStatus;         // 70h reads the flag status register (bit 7 ready), 50h clears it
  Opcode15 opcode15;       // 15h
  RegisterWrite opcode11;  // 11h s: IGNORED or STATUS3
  bool hasStatus3;         // a third status register
  uint8_t status3;         // its value at power-up
  uint8_t wrr8Clears;      // second-register bits a WRR with one data byte clears
  uint8_t startBank;       // the address state a boot loader left when the chip was created
  bool startAddr4;
  ChipTimings timings;
};

namespace flashparts {

constexpr uint8_t WIP = 0x01;  // the status bit no power-up value holds
constexpr uint32_t MIB = 1024 * 1024;
constexpr uint32_t BANK_BYTES = 16 * MIB;       // what 3-byte addresses reach
constexpr uint32_t MAX_CHIP_BYTES = 256 * MIB;  // the largest part of the catalogues
constexpr uint32_t MAX_PAGE_BYTES = 512;

// Numbers, sizes, times and byte lists as the catalogue and the settings write them
// (part_values.cpp). An unsigned number at the start of `text`: decimal, 0x hex or 0 octal
// (strtoull's base 0), no sign or blank in front; *used is how many characters it took.
bool parse_number_prefix(const std::string& text, uint64_t* value, size_t* used);
// A plain number value (no unit): such a number, blanks and one pair of quotes around it
// allowed as for every value below. Sizes take K, KiB, M or MiB; times take ns, us, ms or s
// and a decimal fraction ("0.7ms"); byte lists are hex pairs: "EF 40 18", "EF,40,18",
// "0xEF 0x40 0x18" or "EF4018".
bool parse_plain_number(const std::string& text, uint64_t* out);
bool parse_size(const std::string& text, uint64_t* out);
bool parse_duration_ns(const std::string& text, uint64_t* out);
bool parse_bytes(const std::string& text, std::vector<uint8_t>* out);
std::vector<std::string> split_words(const std::string& text);
std::string size_text(uint64_t bytes);  // "4K", "16M", "1000"

// Profile fields by name, shared by the catalogue and the settings (profile_fields.cpp).
// A field reads its value from words; false with *why set when they do not fit.
bool set_profile_field(ChipProfile* profile, const std::string& key,
                       const std::vector<std::string>& words, bool settingsOnly, std::string* why);
bool is_catalogue_field(const std::string& key);
std::vector<std::string> catalogue_fields();  // every field a catalogue row must state
uint64_t erase_time_ns(const ChipTimings& t, uint32_t blockBytes);  // 0: no erase of that size
// Derives what follows from the other fields (the ID-CFI area) and checks the fields
// against each other; false with *why set when they disagree.
bool finish_profile(ChipProfile* profile, std::string* why);
std::string profile_to_text(const ChipProfile& profile);  // key=value lines, settings syntax

// What the ID-CFI area and SFDP derive from a profile (cfi_area.cpp).
uint8_t ceil_log2(uint64_t v);
uint32_t uniform_block(const ChipProfile& p);  // the uniform block: D8's, else 64 KiB
std::vector<uint8_t> cfi_extended_id(const ChipProfile& profile);

// The marks of one fact of a row, as written or taken through base (DS and DSf become DSs).
struct FactMarks {
  std::string key;
  std::vector<std::string> marks;
};

// The catalogue's reader (parts_catalogue.cpp), a pure function over the text: false with
// *error "ORIGIN:LINE: why" for the first line it cannot take. *marks, when given, gets
// each part's facts with their marks, in the order of *parts.
bool parse_catalogue(const std::string& text, const std::string& origin,
                     std::vector<ChipProfile>* parts, std::string* error,
                     std::vector<std::vector<FactMarks>>* marks = nullptr);

// The flat table (flat_table.cpp, format in parts/README.md): one line of key=value words
// per part, and the marks table, one line per fact: "PROFILE KEY MARK...".
std::string flat_table_line(const ChipProfile& profile);
std::string flat_table_text(const std::vector<ChipProfile>& parts);
std::string marks_table_text(const std::vector<ChipProfile>& parts,
                             const std::vector<std::vector<FactMarks>>& marks);

}  // namespace flashparts
