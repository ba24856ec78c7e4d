// SPDX-License-Identifier: MIT
// The chip model driven as the bus drives it, by scripts of steps separated by ';':
//   06                 a frame: CS# falls, the bytes go out, CS# rises (hex words,
//   02 001000 AA*256   2 digits a byte, 6 an address; XX*N repeats a byte)
//   05=03 +700us 00    a frame, then the bytes read back (00 on MOSI): expected
//                      values, ?? for any, +TIME moves the clock between two bytes
//   +45ms +5us +1ns    the clock moves on
//   @3000=FF @0=00*16  contents at an address
//   !1000=F0 12        contents loaded directly (set-up)
//   reattach           the chip detached and attached again
//   cut                power cut, then attached again
// Any step the interpreter cannot read fails the test.
#include <gtest/gtest.h>

#include <cstdio>

#include "chip_internal.h"
#include "process.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ChipRig {
  TempDir dir;
  ChipState* chip = nullptr;
  ~ChipRig() {
    if (chip) chip_detach(chip);
  }
  // PROFILE [key=value]... [fill=0xNN]: the chip holds FF unless told otherwise.
  bool create(const std::string& words) {
    Lines settings = split_words(words);
    uint8_t fill = 0xFF;
    if (settings.back().compare(0, 5, "fill=") == 0)
      fill = uint8_t(std::stoul(settings.back().substr(5), nullptr, 16)), settings.pop_back();
    std::string error;
    EXPECT_TRUE(chip_create(dir.path, settings[0], fill, "",
                            Lines(settings.begin() + 1, settings.end()), &error))
        << error;
    return error.empty() && attach();
  }
  bool attach() {
    if (chip) chip_detach(chip);
    std::string error;
    chip = chip_attach(dir.path, {false, false}, &error);
    EXPECT_NE(chip, nullptr) << error;
    return chip != nullptr;
  }
};

uint64_t duration_ns(const std::string& word) {  // +45ms, +5us, +1ns
  uint64_t ns = 0;
  EXPECT_TRUE(chipsim::parse_duration_ns(word.substr(1), &ns)) << word;
  return ns;
}

// Hex words into bytes; false on anything else.
bool hex_words(const Lines& words, Bytes* out) {
  for (const auto& word : words) {
    size_t star = word.find('*');
    std::string digits = word.substr(0, star);
    if (digits.empty() || digits.size() % 2 ||
        digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
      return false;
    size_t times = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
    for (size_t t = 0; t < times; ++t)
      for (size_t i = 0; i < digits.size(); i += 2)
        out->push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

bool frame(ChipRig& rig, const std::string& tx, const std::string& rx) {
  Bytes out;
  if (!hex_words(split_words(tx), &out)) return false;
  chip_select(rig.chip);
  for (uint8_t byte : out) chip_shift(rig.chip, byte);
  std::string seen, wanted;
  for (const auto& word : split_words(rx)) {
    if (word[0] == '+') {
      chip_advance_ns(rig.chip, duration_ns(word));
      continue;
    }
    size_t star = word.find('*');
    for (size_t t = 0, times = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
         t < times; ++t) {
      char got[4];
      std::snprintf(got, sizeof got, " %02X", chip_shift(rig.chip, 0x00));
      seen += word.compare(0, 2, "??") == 0 ? " ??" : got;
      wanted += " " + word.substr(0, 2);
    }
  }
  chip_deselect(rig.chip);
  EXPECT_EQ(seen, wanted) << tx;
  return true;
}

bool step(ChipRig& rig, const std::string& text) {
  Lines words = split_words(text);
  if (words.empty()) return false;
  size_t eq = text.find('=');
  if (words[0][0] == '+')
    return words.size() == 1 && (chip_advance_ns(rig.chip, duration_ns(words[0])), true);
  if (text == "reattach") return rig.attach();
  if (text == "cut") return chip_power_cut(rig.chip), rig.attach();
  if (text[0] == '@' || text[0] == '!') {
    Bytes bytes;
    uint32_t address = std::stoul(text.substr(1), nullptr, 16);
    if (eq == std::string::npos || !hex_words(split_words(text.substr(eq + 1)), &bytes))
      return false;
    if (text[0] == '!')
      return chip_load(rig.chip, address, bytes.data(), uint32_t(bytes.size())), true;
    const uint8_t* at = chip_contents(rig.chip) + address;
    EXPECT_EQ(Bytes(at, at + bytes.size()), bytes) << text;
    return true;
  }
  return frame(rig, text.substr(0, eq), eq == std::string::npos ? "" : text.substr(eq + 1));
}

void run_script(ChipRig& rig, const std::string& script) {
  for (auto text : split(script, ';')) {
    text.erase(0, text.find_first_not_of(' '));
    SCOPED_TRACE(text);
    if (!step(rig, text)) ADD_FAILURE() << "cannot read the step '" << text << "'";
  }
}

struct Script {
  const char* name;
  const char* chip;  // as ChipRig::create takes it
  const char* steps;
};

class ChipScript : public ::testing::TestWithParam<Script> {};

TEST_P(ChipScript, Runs) {
  ChipRig rig;
  ASSERT_TRUE(rig.create(GetParam().chip));
  run_script(rig, GetParam().steps);
}

std::string script_name(const ::testing::TestParamInfo<Script>& info) { return info.param.name; }
void PrintTo(const Script& script, std::ostream* out) { *out << script.name; }

// Columns: name, chip, steps.
const Script kBehaviour[] = {
    {"ProgramColumnWrapsInThePage", "small",
     "06; 02 0001FE 11 22 33 44; +700us; 03 0001FE=11 22; 03 000100=33 44 FF; @200=FF"},
    {"LongBurstKeepsTheLast256Bytes", "small",
     "06; 02 000300 AA*256 55 5A; +700us; 03 000300=55 5A AA; @3FF=AA"},
    {"ReadWrapsAtTheEndOfTheChip", "small", "!FFFFF=12; !0=34; 0B 0FFFFF 00=12 34"},
    {"ErasesClearTheirAlignedBlock", "default size=1M fill=0x00",
     "06; 20 003923; 05=03; +45ms; 05=00; @2FFF=00; @3000=FF*4096; @4000=00; 06; 40 007123; 05=03; "
     "+60ms; 05=00; @5FFF=00; @6000=FF*8192; @8000=00; 06; 52 01C123; 05=03; +120ms; 05=00; "
     "@17FFF=00; @18000=FF*32768; @20000=00; 06; D8 038123; 05=03; +150ms; 05=00; @2FFFF=00; "
     "@30000=FF*65536; @40000=00"},
    {"BusyChipAnswersOnlyStatusAndConfig", "small config=0x5A fill=0x00",
     "06; 20 000000; 03 000000=FF FF; 9F=FF FF; 35=5A 5A; 04; 05=03; +44999999ns; 05=03; +1ns; "
     "05=00; 03 000000=FF FF"},
    {"StatusIsReadAgainOnEveryByte", "small", "06; 02 000000 00; 05=03 +700us 00"},
    {"DeepPowerDownObeysOnlyRes", "small", "B9; 05=FF; 9F=FF FF FF; 06; AB 000000=13 13; 05=00"},
    {"OneByteWrrWritesStatusBits7To2", "small", "06; 01 FF; 05=03; +5ms; 05=FC; 35=00"},
    {"TwoByteWrrWritesStatusAndConfig", "small", "06; 01 08 A5; +5ms; 05=08; 35=A5 A5"},
    {"VsrweMakesTheNextWrrImmediate", "small", "50; 01 1C 40; 05=1C; 35=40; 01 00; 05=1C"},
    {"DefaultRdidCarriesTheCfiArea", "default",
     "9F=01 20 18 4D 00 80 ??*10 51 52 59 ??*20 18 ??*41 FF"},
    {"W25q128RdidHasNoExtendedBytes", "w25q128", "9F=EF 40 18 00 FF"},
    {"SfdpDescribesTheW25q128", "w25q128",
     "5A 000000 00=53 46 44 50 00 01 00 FF 00 00 01 09 80 00 00 FF; 5A 000080 00=E5 20 80 FF FF "
     "FF FF 07 ??*20 0C 20 0F 52 10 D8 00 00 FF"},
    {"NoSfdpAndUnknownOpcodesReadFF", "default",
     "5A 000000 00=FF FF FF FF; 4B 000000 00=FF FF; 05=00"},
    {"ChipEraseTakesTheTimeScaledToTheSize", "small size=2M fill=0x00",
     "9F=01 20 14 4D ??*35 15; 06; C7; +4999999999ns; 05=03; +1ns; 05=00; @0=FF; @1FFFFF=FF"},
    {"RegistersAndPowerDownSurviveDetach", "small",
     "50; 01 08 21; 06; B9; reattach; 05=FF; AB 000000=13; 05=0A; 35=21"},
    {"PowerCutHalfwayThroughAPage", "small",
     "06; 02 000200 00*256; +350us; cut; 05=00; 03 00027F=00 FF; @200=00*128; @280=FF*128"},
    {"PowerCutAQuarterIntoAnErase", "small fill=0x00",
     "06; 20 003000; +11250us; cut; 05=00; @3000=FF*1024; @3400=00*3072"},
    {"ProgramIntoTheProtectedTopIsDropped", "small status=0x04",
     "06; 02 0FC000 00; 05=04; 06; 02 0FBF00 00; +700us; @FC000=FF; @FBF00=00"},
    {"ChipEraseWithAnyBpIsDropped", "small status=0x04 fill=0x00", "06; 60; 05=04; +3s; @0=00"},
    // Frames the chip must ignore: the array and WEL stay as they were.
    {"WrenOrWrrWithATrailingByte", "small", "06 00; 05=00; 06; 01 1C 00 00; 05=02; +5ms; 05=02"},
};
// The traits of real parts, as their datasheets (or the sources the parts notes name)
// describe them.
const Script kParts[] = {
    // SST25VF016B: BP bits come up set (every block protected); EWSR (50) or WREN
    // arms WRSR; 02 programs one byte; RES is the Read-ID of 90, address bit 0 picking
    // the byte. (B9, 35 and 40, which it lacks: the parts table's DP, RDCR and SE8K.)
    {"Sst25ProgramsOneByteOnceUnprotected", "sst25vf016b",
     "05=1C; 06; 02 000000 00; 05=1C; @0=FF; 50; 01 00; 05=00; 06; 02 000000 11 22 33; 05=03; "
     "+7us; 03 000000=11 FF FF; cut; 05=1C"},
    {"Sst25AnswersReadIdToAb", "sst25vf016b", "AB 000000=BF 41 BF; AB 000001=41 BF"},
    // SST26VF: every block locked at power-up, silently, until WREN + 98; WRSR cannot
    // unlock; D8 erases 8, 32 or 64 KiB by address; no 60, 52, 90 or AB.
    {"Sst26LockedUntilGlobalUnlock", "sst26vf016b fill=0x00",
     "06; 01 00 00; +5ms; 06; 20 000000; 05=00; +18ms; @0=00; 98; 06; 98; 05=00; reattach; 06; "
     "20 000000; 05=03; +18ms; @0=FF*4096; cut; 06; 20 001000; +18ms; @1000=00"},
    {"Sst26D8BlockDependsOnTheAddress", "sst26vf016b fill=0x00",
     "06; 98; 06; D8 001000; +18ms; @0=FF*8192; @2000=00; 06; D8 00A000; +18ms; @7FFF=00; "
     "@8000=FF*32768; @10000=00; 06; D8 123456; +18ms; @120000=FF*65536; @130000=00; 06; "
     "D8 1F4000; +18ms; @1F0000=FF*32768; @1F8000=00; 06; D8 1FA123; +18ms; @1F9FFF=00; "
     "@1FA000=FF*8192; @1FC000=00"},
    {"Sst26LacksBulkEraseAndIdReads", "sst26vf016b fill=0x00",
     "06; 98; 06; 60; 52 000000; 05=02; +1s; @0=00; 90 000000=FF FF; AB 000000=FF; 35=08"},
    // W25Q128JV: 50 makes the next WRR volatile, gone at power-off; 35 reads SR2 (QE set).
    {"W25qVolatileStatusLastsUntilPowerOff", "w25q128jv",
     "35=02; 50; 01 04; 05=04; reattach; cut; 05=00; 06; 01 08 02; +10ms; cut; 05=08; 35=02"},
    // MX25L12835F and IS25LP128: 35 enters QPI; N25Q/MT25Q: quad protocol. Single-wire
    // commands then go unanswered until power-off.
    {"MxRdcrEntersQpiUntilPowerOff", "mx25l12835f",
     "35=FF FF; 9F=FF FF FF; AB 000000=FF; reattach; 05=FF; cut; 9F=C2 20 18"},
    {"N25qEntersQuadAnd50ClearsFlags", "n25q128a fill=0x00",
     "50; 01 1C; 05=00; 06; 60; 52 000000; 05=02; 35=FF; 05=FF; cut; 9F=20 BA 18 10 00"},
    // S25FL512S: a 512-byte page; B9 is BRAC, after which WRR writes the bank address register (bit 7: 4-byte
    // addresses), 0 again at power-up.
    {"S25fl512sIdAndPageOf512Bytes", "s25fl512s",
     "9F=01 02 20 4D 00 80; 90 000001=19 01; 06; 02 0000FE 11 22 33 44; +340us; "
     "03 0000FE=11 22 33 44"},
    {"S25fl512sBracSelectsTheBank", "s25fl512s",
     "!3000000=AB; !0=CD; B9; 05=00; reattach; 01 03; 03 000000=AB; reattach; 03 000000=AB; cut; "
     "03 000000=CD"},
    {"S25fl512sExtaddMisparses3ByteFrames", "s25fl512s",
     "!1234=5A; !123400=77; B9; 01 80; 03 00001234=5A; 03 001234=FF 77; 06; D8 001234; 05=02"},
    {"BootLoaderBankAtCreate", "s25fl256s bank=1",
     "!1000000=AB; !0=CD; 03 000000=AB; cut; 03 000000=CD"},
    {"BootLoader4ByteModeAtCreate", "mx25l25645g addr4=1",
     "9F=C2 20 19; !1234=5A; 03 00001234=5A; cut; 03 001234=5A"},
    // GD25Q128C: 31 writes SR2 after WREN, for good, in the register-write time; 35 reads it.
    {"Gd25q31WritesSr2", "gd25q128c",
     "31 02; 35=00; 06; 31 02; 05=03; +5ms; 05=00; 35=02; cut; 35=02"},
    // SST25: AD programs a word a frame, the address only in the first; inside the sequence
    // status bit 6 is set, WEL stays, and only AD, 04 and 05 are obeyed; 04 ends it, and so
    // does a power cut, which keeps the words done and leaves the rest erased.
    {"Sst25AaiWordProgramEndsOnWrdi", "sst25vf016b",
     "50; 01 00; 06; AD 000101 11 22; 05=43; +7us; 05=42; 9F=FF FF; 06; 02 000200 77; AD 33 44; "
     "+7us; 04; 05=00; 03 000100=11 22 33 44 FF; @200=FF; AD 55 66; +7us; @104=FF"},
    {"Sst25AaiCutKeepsTheWordsDone", "sst25vf016b",
     "50; 01 00; 06; AD 000100 11 22; +7us; AD 33 44; +7us; AD 55 66; +3us; cut; 05=1C; "
     "03 000100=11 22 33 44 FF FF"},
    // MX25L25645G: B7 and E9 switch the address length without WREN; 13 always takes four
    // bytes; C5 writes the bank 3-byte addresses reach, C8 reads it; power-up clears both.
    {"MxB7E9AndEarReachTheBanks", "mx25l25645g",
     "!1234=5A; !1001234=AB; B7; 03 00001234=5A; 03 01001234=AB; E9; 03 001234=5A; C5 01; C8=01; "
     "03 001234=AB; 13 00001234=5A; B7; cut; C8=00; 03 001234=5A"},
    // S25FL512S: 17 (BRWR) writes the bank register that 16 (BRRD) reads, bit 7 the
    // 4-byte addresses; the native 4-byte opcodes, but no 21 where there are no 4 KiB sectors.
    {"S25fl512sBankRegisterAndNative4ByteOpcodes", "s25fl512s fill=0x00",
     "!2001234=AB; 16=00; 17 02; 16=02 02; 03 001234=AB; 17 83; 16=83; 03 02001234=AB; cut; 16=00; "
     "06; DC 03040000; 05=03; +520ms; @3040000=FF*262144; 06; 12 03040010 11 22; +340us; "
     "13 03040010=11 22 FF; 0C 03040010 00=11 22; 06; 21 03040000; 05=02"},
    // A WRR with one data byte: on S25FL-S it clears QUAD in CR1, on W25Q SR2 stays.
    {"S25flOneByteWrrClearsQuad", "s25fl512s config=0x02",
     "35=02; 06; 01 00 02; +5ms; 35=02; 06; 01 00; +5ms; 35=00"},
    {"W25qOneByteWrrKeepsSr2AndSr3IsWritten", "w25q128jv",
     "06; 01 00; +10ms; 35=02; 15=00; 06; 11 60; 05=03; +10ms; 15=60; 50; 11 20; 15=20; cut; "
     "15=60"},
    // Micron: the flag status register's bit 7 is ready; a refused erase sets its error
    // bits until 50 clears them. MT25QL128ABA enters 4-byte mode only after WREN.
    {"N25qFlagStatusAfterAProgram", "n25q128a",
     "06; 02 000000 11; 70=00 00; +700us; 70=80; @0=11; 06; 01 1C; +5ms; 06; D8 000000; 70=A2; "
     "50; 70=80"},
    {"Mt25qB7NeedsWren", "mt25ql128aba",
     "!1234=5A; B7; 03 001234=5A; 06; B7; 05=00; 03 00001234=5A"},
};
INSTANTIATE_TEST_SUITE_P(Behaviour, ChipScript, ::testing::ValuesIn(kBehaviour), script_name);
INSTANTIATE_TEST_SUITE_P(Parts, ChipScript, ::testing::ValuesIn(kParts), script_name);

// BP = 1..7 protects the top 1/64 .. 1/2 of the array, or all of it: an erase
// touching it is dropped at once (no WIP, WEL cleared), one just below is not.
TEST(ChipProtection, EveryBpLevelDropsErasesInItsRegionOnly) {
  for (unsigned bp = 1; bp <= 7; ++bp) {
    SCOPED_TRACE(bp);
    ChipRig rig;
    ASSERT_TRUE(rig.create("small status=" + std::to_string(bp << 2) + " fill=0x00"));
    const uint32_t from = bp == 7 ? 0 : 0x100000 - (0x100000 >> (7 - bp));
    char script[160];
    std::snprintf(script, sizeof script, "06; 20 %06X; 05=%02X; +45ms; @%X=00", from, bp << 2,
                  from);
    run_script(rig, script);
    if (bp == 7) continue;
    std::snprintf(script, sizeof script, "06; 20 %06X; 05=%02X; +45ms; 05=%02X; @%X=FF",
                  from - 0x1000, (bp << 2) | 3, bp << 2, from - 0x1000);
    run_script(rig, script);
  }
}

TEST(ChipStateFile, IsLittleEndianAndReadTheSameOnEveryHost) {
  ChipRig rig;
  ASSERT_TRUE(rig.create("small fill=0x00"));
  chip_advance_ns(rig.chip, 0x0102030405060708ull);
  chip_detach(rig.chip);
  rig.chip = nullptr;
  std::string state = read_file(rig.dir.file("state.bin"));
  ASSERT_EQ(state.size(), 1024u);
  EXPECT_EQ(state.substr(0, 16), std::string("RFCS\3\0\0\0\x08\x07\x06\x05\x04\x03\x02\x01", 16));
  // A version 1 state, written by hand: clock 100 ms, status 0x1C, config 0x33, VSRWE
  // armed, and a 4 KiB erase at 0x002000 started at 90 ms lasting 20 ms.
  const char v1[] =
      "RFCS\1\0\0\0\x00\xE1\xF5\x05\0\0\0\0\x1C\x33\x02\0\2\0\0\0\x00\x20\x00\x00"
      "\x00\x10\x00\x00\x80\x4A\x5D\x05\0\0\0\0\x00\x2D\x31\x01";
  std::string written(v1, sizeof v1 - 1);
  written.resize(512);
  write_file(rig.dir.file("state.bin"), written);
  ASSERT_TRUE(rig.attach());
  EXPECT_EQ(chip_now_ns(rig.chip), 100000000u);
  run_script(
      rig,
      "35=33; 05=1D; @2000=00; +10ms; 05=1C; @2000=FF*4096; @3000=00; 01 00; 05=00; cut; 05=1C");
}

TEST(ChipSettings, BadSettingsAreRefusedWithAReason) {
  TempDir dir;
  const Lines bad[] = {{"jedec=EF 40"}, {"status=0x100"}, {"size=5000"}, {"colour=blue"},
                       {"ext"},         {"size=32M"},     {"bank=1"},    {"lock=maybe"}};
  for (const auto& settings : bad) {
    std::string error;
    EXPECT_FALSE(chip_create(dir.path, "default", 0xFF, "", settings, &error)) << settings[0];
    EXPECT_NE(error.find(settings[0].substr(0, settings[0].find('='))), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(chip_create(dir.path, "no-such-part", 0xFF, "", {}, &error));
  EXPECT_NE(error.find("no-such-part"), std::string::npos) << error;
}

}  // namespace
