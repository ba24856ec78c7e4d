// SPDX-License-Identifier: MIT
// The chip model driven as the bus drives it, by scripts of steps separated by ';':
//   06                 a frame: CS# falls, the bytes go out, CS# rises (hex words,
//   02 001000 AA*256   2 digits a byte, 6 an address; XX*N repeats a byte)
//   05=03 +700us 00    a frame, then the bytes read back (00 on MOSI): expected
//                      values, ?? for any, +TIME moves the clock between two bytes
//   +45ms +5us +1ns    the clock moves on
//   @3000=FF @0:16=00  contents at an address (N bytes of one value)
//   !1000=F0 12        contents loaded directly (set-up)
//   reattach [wel|wip] the chip detached and attached again, with a fault
//   cut                power cut, then attached again
//   clock=700000       the chip's clock, ns
// Any step the interpreter cannot read fails the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "chip_model.h"
#include "process.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ChipRig {
  TempDir dir;
  ChipState* chip = nullptr;
  ~ChipRig() {
    if (chip) chip_detach(chip);
  }
  bool create(const std::string& profile, const Lines& settings, uint8_t fill) {
    std::string error;
    EXPECT_TRUE(chip_create(dir.path, profile, fill, "", settings, &error)) << error;
    return error.empty() && attach({false, false});
  }
  bool attach(ChipFaults faults) {
    if (chip) chip_detach(chip);
    std::string error;
    chip = chip_attach(dir.path, faults, &error);
    EXPECT_NE(chip, nullptr) << error;
    return chip != nullptr;
  }
};

uint64_t duration_ns(const std::string& word) {  // +45ms, +5us, +1ns
  size_t unit = word.find_first_not_of("0123456789", 1);
  uint64_t n = std::stoull(word.substr(1, unit - 1));
  std::string suffix = word.substr(unit);
  if (suffix == "s") return n * 1000000000;
  if (suffix != "ms" && suffix != "us" && suffix != "ns")
    ADD_FAILURE() << "no time unit in " << word;
  return suffix == "ms" ? n * 1000000 : suffix == "us" ? n * 1000 : n;
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
  if (words[0] == "reattach")
    return rig.attach(
        {words.size() > 1 && words[1] == "wel", words.size() > 1 && words[1] == "wip"});
  if (words[0] == "cut") return chip_power_cut(rig.chip), rig.attach({false, false});
  if (words[0].compare(0, 6, "clock=") == 0) {
    EXPECT_EQ(chip_now_ns(rig.chip), std::stoull(words[0].substr(6)));
    return true;
  }
  if (text[0] == '@' || text[0] == '!') {
    Bytes bytes;
    size_t colon = text.find(':');
    uint32_t address = std::stoul(text.substr(1), nullptr, 16);
    if (eq == std::string::npos || !hex_words(split_words(text.substr(eq + 1)), &bytes))
      return false;
    if (colon < eq) bytes.assign(std::stoul(text.substr(colon + 1)), bytes.at(0));
    if (text[0] == '!')
      return chip_load(rig.chip, address, bytes.data(), uint32_t(bytes.size())), true;
    EXPECT_EQ(
        Bytes(chip_contents(rig.chip) + address, chip_contents(rig.chip) + address + bytes.size()),
        bytes)
        << text;
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
  const char* profile;
  Lines settings;
  uint8_t fill;
  const char* steps;
};

class ChipScript : public ::testing::TestWithParam<Script> {};

TEST_P(ChipScript, Runs) {
  ChipRig rig;
  ASSERT_TRUE(rig.create(GetParam().profile, GetParam().settings, GetParam().fill));
  run_script(rig, GetParam().steps);
}

std::string script_name(const ::testing::TestParamInfo<Script>& info) { return info.param.name; }
void PrintTo(const Script& script, std::ostream* out) { *out << script.name; }

// clang-format off
const Script kBehaviour[] = {
  {"ProgramAndsDataWhenItsTimeEnds", "small", {}, 0xFF, "!1000=F0; 06; 02 001000 3C FF; 05=03; @1000=F0; +700us; 05=00; 03 001000=30 FF"},
  {"ProgramColumnWrapsInThePage", "small", {}, 0xFF, "06; 02 0001FE 11 22 33 44; +700us; 03 0001FE=11 22; 03 000100=33 44 FF; @200=FF"},
  {"LongBurstKeepsTheLast256Bytes", "small", {}, 0xFF, "06; 02 000300 AA*256 55 5A; +700us; 03 000300=55 5A AA; @3FF=AA"},
  {"ReadWrapsAtTheEndOfTheChip", "small", {}, 0xFF, "!FFFFF=12; !0=34; 0B 0FFFFF 00=12 34"},
  {"Erase4kClearsItsAlignedBlock", "default", {"size=1M"}, 0x00, "06; 20 003923; 05=03; +45ms; 05=00; @2FFF=00; @3000:4096=FF; @4000=00"},
  {"Erase8kClearsItsAlignedBlock", "default", {"size=1M"}, 0x00, "06; 40 007123; 05=03; +60ms; 05=00; @5FFF=00; @6000:8192=FF; @8000=00"},
  {"Erase32kClearsItsAlignedBlock", "default", {"size=1M"}, 0x00, "06; 52 01C123; 05=03; +120ms; 05=00; @17FFF=00; @18000:32768=FF; @20000=00"},
  {"Erase64kClearsItsAlignedBlock", "default", {"size=1M"}, 0x00, "06; D8 038123; 05=03; +150ms; 05=00; @2FFFF=00; @30000:65536=FF; @40000=00"},
  {"ChipEraseTakesTheWholeChipTime", "small", {}, 0x00, "06; C7; +2499999999ns; 05=03; +1ns; 05=00; @0=FF; @FFFFF=FF"},
  {"WrenSetsWelWrdiClearsIt", "small", {}, 0xFF, "05=00; 06; 05=02; 04; 05=00"},
  {"BusyChipAnswersOnlyStatusAndConfig", "small", {"config=0x5A"}, 0x00, "06; 20 000000; 03 000000=FF FF; 9F=FF FF; 35=5A 5A; 04; 05=03; +44999999ns; 05=03; +1ns; 05=00; 03 000000=FF FF"},
  {"StatusIsReadAgainOnEveryByte", "small", {}, 0xFF, "06; 02 000000 00; 05=03 +700us 00"},
  {"WelFaultIgnoresWren", "small", {}, 0xFF, "reattach wel; 06; 05=00"},
  {"WipFaultHangsTheOperationForThisRunOnly", "small", {}, 0xFF, "reattach wip; 06; 02 000000 00; +7ms; 05=03; @0=FF; 04; 05=03; reattach; 05=00; @0=00"},
  {"DeepPowerDownObeysOnlyRes", "small", {}, 0xFF, "B9; 05=FF; 9F=FF FF FF; 06; AB 000000=13 13; 05=00"},
  {"OneByteWrrWritesStatusBits7To2", "small", {}, 0xFF, "06; 01 FF; 05=03; +5ms; 05=FC; 35=00"},
  {"TwoByteWrrWritesStatusAndConfig", "small", {}, 0xFF, "06; 01 08 A5; +5ms; 05=08; 35=A5 A5"},
  {"VsrweMakesTheNextWrrImmediate", "small", {}, 0xFF, "50; 01 1C 40; 05=1C; 35=40; 01 00; 05=1C"},
  {"DefaultRdidCarriesTheCfiArea", "default", {}, 0xFF, "9F=01 20 18 4D 00 80 ??*10 51 52 59 ??*20 18 ??*41 FF"},
  {"W25q128RdidHasNoExtendedBytes", "w25q128", {}, 0xFF, "9F=EF 40 18 00 FF"},
  {"RemsOrderFollowsAddressBit0", "w25q128", {}, 0xFF, "90 000000=EF 17 EF 17; 90 000001=17 EF"},
  {"SfdpDescribesTheW25q128", "w25q128", {}, 0xFF, "5A 000000 00=53 46 44 50 00 01 00 FF 00 00 01 09 80 00 00 FF; 5A 000080 00=E5 20 80 FF FF FF FF 07 ??*20 0C 20 0F 52 10 D8 00 00 FF"},
  {"NoSfdpAndUnknownOpcodesReadFF", "default", {}, 0xFF, "5A 000000 00=FF FF FF FF; 4B 000000 00=FF FF; 05=00"},
  {"TimingAndIdSettings", "small", {"page_program_ns=1000", "rems=0x42", "res=0x43"}, 0xFF, "06; 02 000000 00; +999ns; 05=03; +1ns; 05=00; 90 000000=01 42; AB 000000=43"},
  {"ResizeRescalesChipEraseAndCfiSize", "small", {"size=2M"}, 0x00, "9F=01 20 14 4D ??*35 15; 06; C7; +4999999999ns; 05=03; +1ns; 05=00; @1FFFFF=FF"},
  {"ProgramLeftRunningEndsInTheNextAttach", "small", {}, 0xFF, "06; 02 000040 12 34; +300us; reattach; 05=03; @40=FF; +400us; reattach; 05=00; 03 000040=12 34 FF; clock=700000"},
  {"RegistersAndPowerDownSurviveDetach", "small", {}, 0xFF, "50; 01 08 21; 06; B9; reattach; 05=FF; AB 000000=13; 05=0A; 35=21"},
  {"PowerCutHalfwayThroughAPage", "small", {}, 0xFF, "06; 02 000200 00*256; +350us; cut; 05=00; 03 00027F=00 FF; @200:128=00; @280:128=FF"},
  {"PowerCutAQuarterIntoAnErase", "small", {}, 0x00, "06; 20 003000; +11250us; cut; 05=00; @3000:1024=FF; @3400:3072=00"},
  {"ProgramIntoTheProtectedTopIsDropped", "small", {"status=0x04"}, 0xFF, "06; 02 0FC000 00; 05=04; 06; 02 0FBF00 00; +700us; @FC000=FF; @FBF00=00"},
  {"ChipEraseWithAnyBpIsDropped", "small", {"status=0x04"}, 0x00, "06; 60; 05=04; +3s; @0=00"},
};
// Frames the chip must ignore: the array and WEL stay as they were.
const Script kIgnored[] = {
  {"ShortEraseFrame", "small", {}, 0x00, "06; 20 00 10; 05=02; +45ms; @1000=00"},
  {"EraseSizeTheProfileLacks", "w25q128", {}, 0x00, "06; 40 000000; 05=02; +60ms; @0=00"},
  {"ProgramWithoutWel", "small", {}, 0xFF, "02 000000 00; 05=00; +1ms; @0=FF"},
  {"ProgramWithoutData", "small", {}, 0xFF, "06; 02 000000; 05=02"},
  {"WrenWithATrailingByte", "small", {}, 0xFF, "06 00; 05=00"},
  {"WrrOfThreeBytes", "small", {}, 0xFF, "06; 01 1C 00 00; 05=02; +5ms; 05=02"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Behaviour, ChipScript, ::testing::ValuesIn(kBehaviour), script_name);
INSTANTIATE_TEST_SUITE_P(Ignored, ChipScript, ::testing::ValuesIn(kIgnored), script_name);

// BP = 1..7 protects the top 1/64 .. 1/2 of the array, or all of it: an erase
// touching it is dropped at once (no WIP, WEL cleared), one just below is not.
TEST(ChipProtection, EveryBpLevelDropsErasesInItsRegionOnly) {
  for (unsigned bp = 1; bp <= 7; ++bp) {
    SCOPED_TRACE(bp);
    ChipRig rig;
    ASSERT_TRUE(rig.create("small", {"status=" + std::to_string(bp << 2)}, 0x00));
    const uint32_t from = bp == 7 ? 0 : 0x100000 - (0x100000 >> (7 - bp));
    char script[160], status[4];
    std::snprintf(status, sizeof status, "%02X", bp << 2);
    std::snprintf(script, sizeof script, "06; 20 %06X; 05=%s; +45ms; @%X=00", from, status, from);
    run_script(rig, script);
    if (bp == 7) continue;
    std::snprintf(script, sizeof script, "06; 20 %06X; 05=%02X; +45ms; 05=%s; @%X=FF",
                  from - 0x1000, (bp << 2) | 3, status, from - 0x1000);
    run_script(rig, script);
  }
}

TEST(ChipStateFile, IsLittleEndianAndReadTheSameOnEveryHost) {
  ChipRig rig;
  ASSERT_TRUE(rig.create("small", {}, 0x00));
  chip_advance_ns(rig.chip, 0x0102030405060708ull);
  chip_detach(rig.chip);
  rig.chip = nullptr;
  std::string state = read_file(rig.dir.file("state.bin"));
  ASSERT_EQ(state.size(), 512u);
  EXPECT_EQ(state.substr(0, 16), std::string("RFCS\1\0\0\0\x08\x07\x06\x05\x04\x03\x02\x01", 16));
  // Written by hand: clock 100 ms, status 0x1C, config 0x33, VSRWE armed, and a
  // 4 KiB erase at 0x002000 started at 90 ms lasting 20 ms.
  std::string written(512, '\0');
  written.replace(0, 19, std::string("RFCS\1\0\0\0\x00\xE1\xF5\x05\0\0\0\0\x1C\x33\x02", 19));
  written.replace(
      20, 24,
      std::string(
          "\2\0\0\0\x00\x20\x00\x00\x00\x10\x00\x00\x80\x4A\x5D\x05\0\0\0\0\x00\x2D\x31\x01", 24));
  write_file(rig.dir.file("state.bin"), written);
  ASSERT_TRUE(rig.attach({false, false}));
  run_script(rig,
             "clock=100000000; 35=33; 05=1D; @2000=00; +10ms; 05=1C; @2000:4096=FF; @3000=00; 01 "
             "00; 05=00");
}

TEST(ChipSettings, BadSettingsAreRefusedWithAReason) {
  TempDir dir;
  const Lines bad[] = {{"jedec=EF 40"}, {"status=0x100"}, {"size=5000"},
                       {"colour=blue"}, {"ext"},          {"size=32M"}};
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
