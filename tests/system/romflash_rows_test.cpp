// SPDX-License-Identifier: MIT
// romflash on the simulated chip, one row per case: chip set-up, command line and
// planned faults, then every outcome: exit status, standard output and error,
// the whole trace in short form and, where given, chip and -w file contents.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

struct Row {
  const char* name;
  const char* chip;   // `flashsim create` words, then ADDR=BYTES loads
  const char* image;  // BYTES of the -f file ($IMG)
  const char* args;   // romflash words; $OUT the -w file, $DIR the test directory, '' an empty word
  const char* faults;  // `flashsim run` words; env:NAME=VALUE goes to the environment
  int status;
  const char* out;
  const char* err;
  const char* wire;   // the trace in short form; ~N: N entries
  const char* after;  // ADDR=BYTES chip contents, FILE=BYTES the -w file
};

// BYTES: pieces joined by '+': *N:SEED[@SKIP] pattern bytes, XX*N a repeated
// byte, 'text', or hHEX.
std::string bytes_of(const std::string& pieces) {
  std::string bytes;
  for (const auto& piece : split(pieces, '+')) {
    if (piece[0] == '*') {
      size_t colon = piece.find(':'), at = piece.find('@');
      size_t skip = at == std::string::npos ? 0 : std::stoul(piece.substr(at + 1), nullptr, 0);
      bytes += pattern_bytes(skip + std::stoul(piece.substr(1), nullptr, 0),
                             std::stoul(piece.substr(colon + 1)))
                   .substr(skip);
    } else if (piece[0] == '\'') {
      bytes += piece.substr(1, piece.size() - 2);
    } else if (piece[0] == 'h') {
      for (size_t i = 1; i + 1 < piece.size(); i += 2)
        bytes += char(std::stoul(piece.substr(i, 2), nullptr, 16));
    } else {
      bytes += std::string(std::stoul(piece.substr(3), nullptr, 0),
                           char(std::stoul(piece.substr(0, 2), nullptr, 16)));
    }
  }
  return bytes;
}

std::string usage(const std::string& name) {
  return "Usage: " + name + " [option...]\nUsage Example        :\n  Write Flash Image  :" + name +
         " -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f flash.img\n  Read Flash Image   :" + name +
         " -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w read.img\nDisplay command usage:\n  "
         "-h                 :Output help message\nSPI device update option:\n"
         "  -d [device]        :SPI Device\n  -s [speed]         :SPI Clock output ?(KHz)\n  -o "
         "[operation]     :READ_ID, RDID , WREN, RDSR, RDCR\n"
         "                     :RDSR_WEL or RDSR_WIP [timeout(msec)]\n                     :SE or "
         "SE4K or SE8K or SE32K 0x?????\?(Start Address)\n"
         "                     :PP or WRITE 0x?????\?(Start Address)\n                     :READ "
         "or FREAD or CHKSUM 0x?????\?(Start Address) 0x?????\?(Read Size)\n"
         "                     :VER 0x?????\?(Start Address)\n                     :VSRWE, WEDI, "
         "BE, DP, RES\n"
         "                     :WRR1 or WRR2 0x??\?\?(Write Register Data(1byte or 2byte))\n"
         "  -f [file]          :PP and WRITE Input ROM-IMAGE file\n  -w [file]          :READ and "
         "FREAD Output ROM-IMAGE file\n\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class Romflash : public ::testing::TestWithParam<Row> {
 protected:
  SimChip chip;
  std::string expand(std::string text, const std::string& image, const std::string& flash) {
    std::string percents;
    for (int p = 0; p <= 100; ++p)
      percents += "\r  Page Write ... -> PROGRESS = " + std::to_string(p) + "%";
    char sums[32];
    std::snprintf(sums, sizeof sums, "FILE=0x%x / ROM=0x%x", byte_sum(image), byte_sum(flash));
    text = replaced(replaced(text, "$USAGE", usage("romflash")), "$PCT", percents);
    text = replaced(text, "$SUMS", sums);
    return replaced(replaced(text, "$OUT", chip.dir.file("out")), "$DIR", chip.dir.path);
  }
};

// getopt's own diagnostic comes first; its wording belongs to the C library.
void expect_stderr(const std::string& err, const std::string& expected) {
  bool getopt = expected.compare(0, 8, "$GETOPT(") == 0;
  size_t lineEnd = getopt ? err.find('\n') + 1 : 0;
  EXPECT_TRUE(!getopt || (err.substr(0, lineEnd).find(expected.substr(8, 3)) != std::string::npos &&
                          err.compare(0, 5, "ERROR")));
  EXPECT_EQ(err.substr(lineEnd), expected.substr(getopt ? 12 : 0));
}

TEST_P(Romflash, Row) {
  const Row& row = GetParam();
  Lines create, loads, args, options, env;
  for (const auto& word : split_words(row.chip))  // ADDR=BYTES loads, the rest creates
    (std::isdigit(static_cast<unsigned char>(word[0])) && word.find('=') != std::string::npos
         ? loads
         : create)
        .push_back(word);
  ASSERT_TRUE(chip.create(create));
  for (const auto& word : loads)
    chip.load(std::stoul(word, nullptr, 0), bytes_of(word.substr(word.find('=') + 1)));
  std::string image = *row.image ? bytes_of(row.image) : "";
  write_file(chip.dir.file("image"), image);
  write_file(chip.dir.file("out"), "stale");
  uint32_t start = 0;
  for (const auto& word : split_words(row.args)) {
    std::string arg =
        word == "''" ? "" : replaced(expand(word, "", ""), "$IMG", chip.dir.file("image"));
    if (!args.empty() && (args.back() == "PP" || args.back() == "WRITE"))
      start = std::stoul(arg, nullptr, 0);
    args.push_back(arg);
  }
  for (const auto& word : split_words(row.faults))
    (word.compare(0, 4, "env:") == 0 ? env : options)
        .push_back(word.substr(word.compare(0, 4, "env:") ? 0 : 4));
  ProcessResult run = chip.run(Lines{sim_binaries().romflash} + args, options, env);
  std::string flash = image.empty() ? "" : chip.bytes(start, image.size());

  EXPECT_EQ(run.exitStatus, row.status);
  EXPECT_EQ(run.out, expand(row.out, image, flash));
  expect_stderr(run.err, expand(row.err, image, flash));
  bool counted = row.wire[0] == '~';  // ~N: the number of entries only
  EXPECT_EQ(counted ? "~" + std::to_string(split(chip.wire(false), ';').size()) : chip.wire(),
            row.wire);
  for (const auto& check : split_words(row.after)) {
    size_t eq = check.find('=');
    std::string expected = bytes_of(check.substr(eq + 1));
    bool file = check.compare(0, eq, "FILE") == 0;
    EXPECT_TRUE(expected == (file ? read_file(chip.dir.file("out"))
                                  : chip.bytes(std::stoul(check, nullptr, 0), expected.size())))
        << check;
  }
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }  // test lists name the row

#define ROWS(group, ...)                   \
  const Row group##Rows[] = {__VA_ARGS__}; \
  INSTANTIATE_TEST_SUITE_P(group, Romflash, ::testing::ValuesIn(group##Rows), row_name)

// clang-format off
ROWS(CommandLine,
  {"Help", "", "", "-h -x", "", 0, "", "$USAGE", "", ""},
  {"NoArguments", "", "", "", "", 11, "", "ERROR: No device specification.\nERROR: Initialize SPI device fail.\n", "", ""},
  {"OnlyADevice", "", "", "-d /dev/spi0", "", 255, "", "romflash(1469): ERROR: Fatal Error of System!\n", "open; spi 0x03 8 500000; close", ""},
  {"OutputFileCreatedBeforeHelp", "", "", "-w $OUT -h", "", 0, "", "$USAGE", "", "FILE="},
  {"UnknownLetter", "", "", "-d /dev/spi0 -x -o WREN", "", 1, "", "$GETOPT('x')ERROR: Invalid option 'x'\n$USAGE", "", ""},
  {"DashI", "", "", "-d /dev/spi0 -i", "", 1, "", "ERROR: Invalid option '?'\n$USAGE", "", ""},
  {"OptionWithoutArgument", "", "", "-o WREN -d", "", 1, "", "$GETOPT('d')ERROR: Invalid option 'd'\n$USAGE", "", ""},
  {"LowerCaseName", "", "", "-d /dev/spi0 -o read 0x0", "", 1, "", "ERROR: Invalid option -o read \n$USAGE", "", ""},
  {"EmptyName", "", "", "-d /dev/spi0 -o ''", "", 1, "", "ERROR: Invalid option -o  \n$USAGE", "", ""},
  {"LongerName", "", "", "-d /dev/spi0 -o WRENX", "", 1, "", "ERROR: Invalid option -o WRENX \n$USAGE", "", ""},
  {"SeWithoutAddress", "", "", "-d /dev/spi0 -o SE", "", 1, "", "ERROR: Invalid option -o SE \n$USAGE", "", ""},
  {"Se4kWithoutAddress", "", "", "-d /dev/spi0 -o SE4K", "", 1, "", "ERROR: Invalid option -o SE4K \n$USAGE", "", ""},
  {"PpWithoutAddress", "", "", "-d /dev/spi0 -o PP", "", 1, "", "ERROR: Invalid option -o PP \n$USAGE", "", ""},
  {"WriteWithoutAddress", "", "", "-d /dev/spi0 -o WRITE", "", 1, "", "ERROR: Invalid option -o WRITE \n$USAGE", "", ""},
  {"Wrr1WithoutValue", "", "", "-d /dev/spi0 -o WRR1", "", 1, "", "ERROR: Invalid option -o WRR1 \n$USAGE", "", ""},
  {"Wrr2WithoutValue", "", "", "-d /dev/spi0 -o WRR2", "", 1, "", "ERROR: Invalid option -o WRR2 \n$USAGE", "", ""},
  {"ReadWithoutAddress", "", "", "-d /dev/spi0 -o READ", "", 1, "", "ERROR: Invalid option -o READ \n$USAGE", "", ""},
  {"VerWithoutAddress", "", "", "-d /dev/spi0 -o VER", "", 1, "", "ERROR: Invalid option -o VER \n$USAGE", "", ""},
  {"ChksumWithoutAddress", "", "", "-d /dev/spi0 -o CHKSUM", "", 1, "", "ERROR: Invalid option -o CHKSUM \n$USAGE", "", ""},
  {"AddressForgottenBeforeAnOption", "", "", "-o SE -d /dev/spi0", "", 1, "", "ERROR: Invalid option -o SE \n$USAGE", "", ""},
  {"NegativeOperand", "", "", "-d /dev/spi0 -o SE -5", "", 1, "", "$GETOPT('5')ERROR: Invalid option '5'\n$USAGE", "", ""},
  {"ReadStartAt2To31", "", "", "-d /dev/spi0 -o READ 0x80000000 -w $OUT", "", 1, "", "ERROR: Invalid option -o READ \n$USAGE", "", "FILE='stale'"},
  {"ReadStartAt2To31Decimal", "", "", "-d /dev/spi0 -o READ 2147483648 -w $OUT", "", 1, "", "ERROR: Invalid option -o READ \n$USAGE", "", ""},
  {"ReadStartBeyond32Bits", "", "", "-d /dev/spi0 -o READ 0x123456789 -w $OUT", "", 1, "", "ERROR: Invalid option -o READ \n$USAGE", "", ""},
  {"EraseAddressBeyond32BitsClamped", "", "", "-d /dev/spi0 -o SE 0x123456789", "", 0, "", "", "open; spi 0x03 8 500000; D8 FFFFFF; close", ""},
  {"MissingImage", "", "", "-o WRITE 0 -f $DIR/absent.img", "", 11, "", "ERROR: cannot open \"$DIR/absent.img\":  No such file or directory\n", "", ""},
  {"UnwritableOutput", "", "", "-d /dev/spi0 -o RDSR -w $DIR/none/out", "", 11, "", "ERROR: cannot open \"$DIR/none/out\":  No such file or directory\n", "", ""},
  {"PpWithoutImage", "", "", "-d /dev/spi0 -o PP 0x0", "", 11, "", "romflash(1425): ERROR: No file specification.\n", "open; spi 0x03 8 500000; close", ""},
  {"WriteWithoutImage", "", "", "-d /dev/spi0 -o WRITE 0x0", "", 11, "", "romflash(1461): ERROR: No file specification.\n", "open; spi 0x03 8 500000; close", ""},
  {"DirectoryAsImage", "", "", "-d /dev/spi0 -o WRITE 0 -f $DIR", "", 11, "", "ERROR: cannot take the size of the image file: Is a directory\n", "open; spi 0x03 8 500000; close", ""},
  {"OptionsAfterOperands", "", "", "-o SE4K 0x1000 -d /dev/spi0 -s 1000", "", 0, "", "", "open; spi 0x03 8 1000000; 20 001000; close", ""},
  {"PosixlyCorrectStillPermutes", "", "", "-o SE4K 0x1000 -d /dev/spi0", "env:POSIXLY_CORRECT=1", 0, "", "", "open; spi 0x03 8 500000; 20 001000; close", ""},
  {"WordsAfterOperandlessCommand", "", "", "-d /dev/spi0 -o WREN 0x10 extra", "", 0, "", "", "open; spi 0x03 8 500000; 06; close", ""},
  {"LaterOptionsWin", "", "", "-d /dev/absent -o WRDI -d /dev/spi0 -s 1 -s 2 -o WREN", "", 0, "", "", "open; spi 0x03 8 2000; 06; close", ""});

ROWS(DeviceSetup,
  {"ModeOH", "", "", "-d /dev/spi0 -m OH -o WREN", "", 0, "", "", "open; spi 0x03 8 500000; 06; close", ""},
  {"ModeRepeatedLetters", "", "", "-d /dev/spi0 -m HHO -o WREN", "", 0, "", "", "open; spi 0x03 8 500000; 06; close", ""},
  {"ModeForeignLetters", "", "", "-d /dev/spi0 -m xyz -o WREN", "", 0, "", "", "open; spi 0x00 8 500000; 06; close", ""},
  {"ModeChipSelectHigh", "", "", "-d /dev/spi0 -m C -o WREN", "", 0, "", "", "open; spi 0x04 8 500000; 06; close", ""},
  {"ModeThreeWire", "", "", "-d /dev/spi0 -m 3 -o WREN", "", 11, "", "ERROR: can't set spi modeERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x10 fail EINVAL; close", ""},
  {"ModeLoopLsb", "", "", "-d /dev/spi0 -m lL -o WREN", "", 11, "", "ERROR: can't set spi modeERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x28 fail EINVAL; close", ""},
  {"ModeAllLetters", "", "", "-d /dev/spi0 -m HOCL3l -o WREN", "", 11, "", "ERROR: can't set spi modeERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x3F fail EINVAL; close", ""},
  {"WordSizeIsDecimal", "", "", "-d /dev/spi0 -b 010 -o WREN", "", 11, "", "ERROR: can't set bits per wordERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE 0x03; WR_BITS_PER_WORD 10 fail EINVAL; close", ""},
  {"WordSizeZeroNotSent", "", "", "-d /dev/spi0 -b 0 -o WREN", "", 0, "", "", "open; WR_MODE 0x03; RD_MODE 0x03; WR_MAX_SPEED_HZ 500000; RD_MAX_SPEED_HZ 500000; 06; close", ""},
  {"ClockDecimal", "", "", "-d /dev/spi0 -s 16000 -o WREN", "", 0, "", "", "open; spi 0x03 8 16000000; 06; close", ""},
  {"ClockOctal", "", "", "-d /dev/spi0 -s 010 -o WREN", "", 0, "", "", "open; spi 0x03 8 8000; 06; close", ""},
  {"ClockHex", "", "", "-d /dev/spi0 -s 0x10 -o WREN", "", 0, "", "", "open; spi 0x03 8 16000; 06; close", ""},
  {"FailWrMode", "", "", "-d /dev/spi0 -o WREN", "--fail-setup WR_MODE", 11, "", "ERROR: can't set spi modeERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03 fail EIO; close", ""},
  {"FailRdMode", "", "", "-d /dev/spi0 -o WREN", "--fail-setup RD_MODE", 11, "", "ERROR: can't get spi modeERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE - fail EIO; close", ""},
  {"FailWrBits", "", "", "-d /dev/spi0 -o WREN", "--fail-setup WR_BITS_PER_WORD", 11, "", "ERROR: can't set bits per wordERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE 0x03; WR_BITS_PER_WORD 8 fail EIO; close", ""},
  {"FailRdBits", "", "", "-d /dev/spi0 -o WREN", "--fail-setup RD_BITS_PER_WORD", 11, "", "ERROR: can't get bits per wordERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE 0x03; WR_BITS_PER_WORD 8; RD_BITS_PER_WORD - fail EIO; close", ""},
  {"FailWrSpeed", "", "", "-d /dev/spi0 -o WREN", "--fail-setup WR_MAX_SPEED_HZ", 11, "", "ERROR: can't set max speed hzERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE 0x03; WR_BITS_PER_WORD 8; RD_BITS_PER_WORD 8; WR_MAX_SPEED_HZ 500000 fail EIO; close", ""},
  {"FailRdSpeed", "", "", "-d /dev/spi0 -o WREN", "--fail-setup RD_MAX_SPEED_HZ", 11, "", "ERROR: can't get max speed hzERROR: Initialize SPI device fail.\n", "open; WR_MODE 0x03; RD_MODE 0x03; WR_BITS_PER_WORD 8; RD_BITS_PER_WORD 8; WR_MAX_SPEED_HZ 500000; RD_MAX_SPEED_HZ - fail EIO; close", ""},
  {"DeviceCannotBeOpened", "", "", "-d $DIR/spi9 -o WREN", "", 11, "", "ERROR: No such file or directory, $DIR/spi9\nERROR: Initialize SPI device fail.\n", "", ""},
  {"FailedTransfer", "", "", "-d /dev/spi0 -o WREN", "--fail-msg 1 --errno EIO", 11, "", "ERROR: Input/output error\n", "open; spi 0x03 8 500000; 06 !EIO; close", ""});

ROWS(SingleInstruction,
  {"Vsrwe", "", "", "-d /dev/spi0 -o VSRWE", "", 0, "", "", "open; spi 0x03 8 500000; 50; close", ""},
  {"Wrdi", "", "", "-d /dev/spi0 -o WRDI", "", 0, "", "", "open; spi 0x03 8 500000; 04; close", ""},
  {"Be", "", "", "-d /dev/spi0 -o BE", "", 0, "", "", "open; spi 0x03 8 500000; 60; close", ""},
  {"Se", "", "", "-d /dev/spi0 -o SE 0x010000", "", 0, "", "", "open; spi 0x03 8 500000; D8 010000; close", ""},
  {"Se4k", "", "", "-d /dev/spi0 -o SE4K 0x123456", "", 0, "", "", "open; spi 0x03 8 500000; 20 123456; close", ""},
  {"Se8k", "", "", "-d /dev/spi0 -o SE8K 0x2000", "", 0, "", "", "open; spi 0x03 8 500000; 40 002000; close", ""},
  {"Se32kAbove24Bits", "", "", "-d /dev/spi0 -o SE32K 0x1008000", "", 0, "", "", "open; spi 0x03 8 500000; 52 008000; close", ""},
  {"Wrr1SendsTheHighByte", "", "", "-d /dev/spi0 -o WRR1 0x1234", "", 0, "", "", "open; spi 0x03 8 500000; 01 12; close", ""},
  {"Wrr1OfASmallValue", "", "", "-d /dev/spi0 -o WRR1 2", "", 0, "", "", "open; spi 0x03 8 500000; 01 00; close", ""},
  {"Wrr2", "", "", "-d /dev/spi0 -o WRR2 0x1234", "", 0, "", "", "open; spi 0x03 8 500000; 01 12 34; close", ""},
  {"Wrr2KeepsTheLow16Bits", "", "", "-d /dev/spi0 -o WRR2 0xABCDEF", "", 0, "", "", "open; spi 0x03 8 500000; 01 CD EF; close", ""},
  {"EraseWithoutWriteEnableIgnored", "0x3000=5A*16", "", "-d /dev/spi0 -o SE4K 0x3000", "", 0, "", "", "open; spi 0x03 8 500000; 20 003000; close", "0x3000=5A*16"},
  {"FailedTransferNotRetried", "", "", "-d /dev/spi0 -o BE", "--fail-msg 1 --errno EBUSY", 11, "", "ERROR: Device or resource busy\n", "open; spi 0x03 8 500000; 60 !EBUSY; close", ""});

ROWS(Identification,
  {"RdidWithoutExtendedBytes", "--set jedec=012018 --set ext=", "", "-d /dev/spi0 -o RDID", "", 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n\n", "", "open; spi 0x03 8 500000; 9F > 01 20 18 00; close", ""},
  {"RdidTwelveExtendedBytes", "--set jedec=012018 --set ext=1112131415161718191A1B1C", "", "-d /dev/spi0 -o RDID", "", 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n\n  0x00000000: 01 20 18 0C 11 12 13 14 15 16 17 18 19 1A 1B 1C\n", "", "open; spi 0x03 8 500000; 9F > 01 20 18 0C; 9F > [16]; close", ""},
  {"RdidThirteenExtendedBytes", "--set jedec=012018 --set ext=1112131415161718191A1B1C1D", "", "-d /dev/spi0 -o RDID", "", 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n\n  0x00000000: 01 20 18 0D 11 12 13 14 15 16 17 18 19 1A 1B 1C\n  0x00000010: 1D\n", "", "open; spi 0x03 8 500000; 9F > 01 20 18 0D; 9F > [17]; close", ""},
  {"RdidSecondExchangeFails", "--set jedec=012018 --set ext=1112131415161718191A1B1C", "", "-d /dev/spi0 -o RDID", "--fail-msgs 2-4", 11, "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Read Manufacture ID Protocol Retryout!!\n", "open; spi 0x03 8 500000; 9F > 01 20 18 0C; 9F !EIO x3; close", ""},
  {"ReadId", "", "", "-d /dev/spi0 -o READ_ID", "", 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x17\n", "", "open; spi 0x03 8 500000; 90 000000 > 01 17; close", ""},
  {"Res", "", "", "-d /dev/spi0 -o RES", "", 0, "RELESE_DP: EL-SIG: 0x17\n", "", "open; spi 0x03 8 500000; AB 000000 > 17; close", ""},
  {"ResOnThirdAttempt", "", "", "-d /dev/spi0 -o RES", "--fail-msgs 1-2", 0, "RELESE_DP: EL-SIG: 0x17\n", "ERROR: Input/output error\nERROR: Input/output error\n", "open; spi 0x03 8 500000; AB 000000 !EIO x2; AB 000000 > 17; close", ""},
  {"Dp", "", "", "-d /dev/spi0 -o DP", "", 0, "DEEP_POWER-DOWN: ..........\n", "", "open; spi 0x03 8 500000; B9; close", ""},
  {"DpLinePrintedWhenTheTransferFails", "", "", "-d /dev/spi0 -o DP", "--fail-msg 1", 11, "DEEP_POWER-DOWN: ..........\n", "ERROR: Input/output error\n", "open; spi 0x03 8 500000; B9 !EIO; close", ""},
  {"AbsentChipAllOnes", "", "", "-d /dev/spi0 -o READ_ID", "--absent ff", 0, "MANUF_ID: 0xFF\nDEVICE_ID: 0xFF\n", "", "open; spi 0x03 8 500000; 90 000000 > FF FF; close", ""},
  {"AbsentChipAllZeros", "", "", "-d /dev/spi0 -o RDID", "--absent 00", 0, "MANUF_ID: 0x00\nDEVICE_ID: 0x0000\n\n", "", "open; spi 0x03 8 500000; 9F > 00 00 00 00; close", ""});

ROWS(Registers,
  {"Rdsr", "--set status=0x80 --set config=0x12", "", "-d /dev/spi0 -o RDSR", "", 0, "STATUS_REG: 0x80\n", "", "open; spi 0x03 8 500000; 05 > 80; close", ""},
  {"RdcrPrintsTheSecondByte", "--set status=0x80 --set config=0x12", "", "-d /dev/spi0 -o RDCR", "", 0, "CONFIG_REG: 0x12\n", "", "open; spi 0x03 8 500000; 35 > 12 12; close", ""},
  {"VerEndsAtZeroByte", "0x1000=h56312E32006A756E6B", "", "-d /dev/spi0 -o VER 0x1000", "", 0, "V1.2\n", "", "open; spi 0x03 8 500000; 0B 001000 00 > [12]; close", ""},
  {"VerWithoutZeroByte", "0x20='ROMFLASH-2026-12-06'", "", "-d /dev/spi0 -o VER 0x20", "", 0, "ROMFLASH-202\n", "", "open; spi 0x03 8 500000; 0B 000020 00 > [12]; close", ""},
  {"VerLeadingZeroByte", "0x40=h00414243", "", "-d /dev/spi0 -o VER 0x40 -w $OUT", "", 0, "\n", "", "open; spi 0x03 8 500000; 0B 000040 00 > [12]; close", "FILE=h0A"},
  {"VerIntoTheOutputFile", "0x1000='v2.0-rc1'+h00", "", "-d /dev/spi0 -w $OUT -o VER 0x1000", "", 0, "v2.0-rc1\n", "", "open; spi 0x03 8 500000; 0B 001000 00 > [12]; close", "FILE='v2.0-rc1'+h0A"},
  {"VerShortSize", "0x1000='ABCDEFGH'", "", "-d /dev/spi0 -o VER 0x1000 2", "", 0, "AB\n", "", "open; spi 0x03 8 500000; 0B 001000 00 > 41 42; close", ""},
  {"VerLongSize", "0x1000='ABCDEFGHIJKLMNOPQRSTUVWXYZ'", "", "-d /dev/spi0 -o VER 0x1000 0x14", "", 0, "ABCDEFGHIJKLMNOPQRST\n", "", "open; spi 0x03 8 500000; 0B 001000 00 > [20]; close", ""},
  {"RdidRetryOut", "", "", "-d /dev/spi0 -o RDID -w $OUT", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Read Manufacture ID Protocol Retryout!!\n", "open; spi 0x03 8 500000; 9F !ETIMEDOUT x3; close", "FILE="},
  {"ReadIdRetryOut", "", "", "-d /dev/spi0 -o READ_ID", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Read Manufacture ID Protocol Retryout!!\n", "open; spi 0x03 8 500000; 90 000000 !ETIMEDOUT x3; close", ""},
  {"RdsrRetryOut", "", "", "-d /dev/spi0 -o RDSR", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Read Status Register Protocol Retryout!!\n", "open; spi 0x03 8 500000; 05 !ETIMEDOUT x3; close", ""},
  {"RdcrRetryOut", "", "", "-d /dev/spi0 -o RDCR", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Read Status Register Protocol Retryout!!\n", "open; spi 0x03 8 500000; 35 !ETIMEDOUT x3; close", ""},
  {"ResRetryOut", "", "", "-d /dev/spi0 -o RES", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Read Electronic Signature Protocol Retryout!!\n", "open; spi 0x03 8 500000; AB 000000 !ETIMEDOUT x3; close", ""},
  {"VerRetryOut", "", "", "-d /dev/spi0 -o VER 0 -w $OUT", "--fail-every 1 --errno ETIMEDOUT", 11, "", "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n  Flash Read Version Number Protocol Retryout!!\n", "open; spi 0x03 8 500000; 0B 000000 00 !ETIMEDOUT x3; close", "FILE="});

ROWS(StatusWait,
  {"IdleChipOneReadNoSleep", "", "", "-d /dev/spi0 -o RDSR_WIP", "", 0, "", "", "open; spi 0x03 8 500000; 05 > 00; close", ""},
  {"ZeroTimeout", "", "", "-d /dev/spi0 -o RDSR_WEL 0", "", 11, "", "\n  ERROR: Check RDSR TIME OUT:0 msec)\n", "open; spi 0x03 8 500000; close", ""},
  {"OptionAfterTheNameIsNoTimeout", "", "", "-o RDSR_WEL -d /dev/spi0", "", 11, "", "\n  ERROR: Check RDSR TIME OUT:0 msec)\n", "open; spi 0x03 8 500000; close", ""},
  {"LatchNeverSetsOneReadAndSleepPerTick", "", "", "-d /dev/spi0 -o RDSR_WEL 5", "--wel-stuck", 11, "", "\n  ERROR: Check RDSR TIME OUT:5 msec)\n", "open; spi 0x03 8 500000; (05 > 00; +1000us) x5; close", ""},
  {"LatchDefaultTimeout", "", "", "-d /dev/spi0 -o RDSR_WEL", "", 11, "", "\n  ERROR: Check RDSR TIME OUT:300 msec)\n", "open; spi 0x03 8 500000; (05 > 00; +1000us) x300; close", ""},
  {"LatchAlreadySet", "--set status=0x02", "", "-d /dev/spi0 -o RDSR_WEL", "", 0, "", "", "open; spi 0x03 8 500000; 05 > 02; close", ""},
  {"ThreeFailedReadsThenAGoodOne", "", "", "-d /dev/spi0 -o RDSR_WIP", "--fail-msgs 1-3", 0, "", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n", "open; spi 0x03 8 500000; 05 !EIO x3; 05 > 00; close", ""},
  {"FourthFailedReadEndsTheWait", "", "", "-d /dev/spi0 -o RDSR_WIP", "--fail-msgs 1-4", 11, "", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Page Write Protocol Retryout!!\n", "open; spi 0x03 8 500000; 05 !EIO x4; close", ""},
  {"FailedReadsUseUpTicks", "", "", "-d /dev/spi0 -o RDSR_WEL 3", "--fail-msgs 1-3", 11, "", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n\n  ERROR: Check RDSR TIME OUT:3 msec)\n", "open; spi 0x03 8 500000; 05 !EIO x3; close", ""});

ROWS(ReadChecksum,
  {"ReadAChunkThenTheRest", "0x1000=*300:1", "", "-d /dev/spi0 -o READ 0x1000 300 -w $OUT", "", 0, "", "", "open; spi 0x03 8 500000; 03 001000 > [256]; 03 001100 > [44]; close", "FILE=*300:1"},
  {"ReadWithoutSize", "0x1000=*512:1", "", "-d /dev/spi0 -o READ 0x1000 -w $OUT", "", 0, "", "", "open; spi 0x03 8 500000; 03 001000 > [256]; close", "FILE=*256:1"},
  {"ReadOfSizeZero", "0x1000=*512:1", "", "-d /dev/spi0 -o READ 0x1000 0 -w $OUT", "", 0, "", "", "open; spi 0x03 8 500000; 03 001000 > [256]; close", "FILE=*256:1"},
  {"FastReadDummyByte", "0x200='fast'", "", "-d /dev/spi0 -w $OUT -o FREAD 0x200 4", "", 0, "", "", "open; spi 0x03 8 500000; 0B 000200 00 > 66 61 73 74; close", "FILE='fast'"},
  {"ReadWithoutOutputFile", "", "", "-d /dev/spi0 -o READ 0 0x1000", "", 11, "", "", "open; spi 0x03 8 500000; 03 000000 > [256]; close", ""},
  {"FastReadWithoutOutputFile", "", "", "-d /dev/spi0 -o FREAD 0 0x1000", "", 11, "", "", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; close", ""},
  {"ReadWithoutOutputFileFailing", "", "", "-d /dev/spi0 -o READ 0", "--fail-every 1", 11, "", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Flash Read Protocol Retryout!!\n", "open; spi 0x03 8 500000; 03 000000 !EIO x4; close", ""},
  {"ReadWrapsPastTheTop", "0xFFFF00=*256:3 0=*256:4", "", "-d /dev/spi0 -o READ 0xFFFF00 0x200 -w $OUT", "", 0, "", "", "open; spi 0x03 8 500000; 03 FFFF00 > [256]; 03 000000 > [256]; close", "FILE=*256:3+*256:4"},
  {"FourthFailureKeepsEarlierChunks", "0=*0x300:6", "", "-d /dev/spi0 -o READ 0 0x300 -w $OUT", "--fail-msgs 2-5", 11, "", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Flash Read Protocol Retryout!!\n", "open; spi 0x03 8 500000; 03 000000 > [256]; 03 000100 !EIO x4; close", "FILE=*256:6"},
  {"ChecksumOf256ErasedBytes", "", "", "-d /dev/spi0 -o CHKSUM 0 256", "", 0, "FF00\n", "", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; close", ""},
  {"ChecksumOf257ErasedBytes", "", "", "-d /dev/spi0 -o CHKSUM 0 257", "", 0, "FFFF\n", "", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; 0B 000100 00 > FF; close", ""},
  {"ChecksumWrapsAt16Bits", "", "", "-d /dev/spi0 -o CHKSUM 0 258", "", 0, "00FE\n", "", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; 0B 000100 00 > FF FF; close", ""},
  {"ChecksumOfAPattern", "0x20000=h0102+FE*0x230+h0304", "", "-d /dev/spi0 -o CHKSUM 0x20000 0x234", "", 0, "2BAA\n", "", "open; spi 0x03 8 500000; 0B 020000 00 > [256]; 0B 020100 00 > [256]; 0B 020200 00 > [52]; close", ""},
  {"ChecksumIntoTheOutputFile", "", "", "-d /dev/spi0 -o CHKSUM 0 0x100 -w $OUT", "", 0, "FF00\n", "", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; close", "FILE='FF00'+h0A"},
  {"ChecksumRetryOutAtTheFirstPiece", "", "", "-d /dev/spi0 -o CHKSUM 0 0x300", "--fail-msgs 1-4", 0, "0000\n", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Get Checksum Protocol Retryout!!\n", "open; spi 0x03 8 500000; 0B 000000 00 !EIO x4; close", ""},
  {"ChecksumRetryOutKeepsTheSumSoFar", "", "", "-d /dev/spi0 -o CHKSUM 0 0x300", "--fail-msgs 2-5", 0, "FF00\n", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n  Get Checksum Protocol Retryout!!\n", "open; spi 0x03 8 500000; 0B 000000 00 > [256]; 0B 000100 00 !EIO x4; close", ""},
  {"ChecksumFailureCountRestartsAfterAPiece", "", "", "-d /dev/spi0 -o CHKSUM 0 0x300", "--fail-msgs 1-3 --fail-msgs 5-7", 0, "FD00\n", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n", "open; spi 0x03 8 500000; 0B 000000 00 !EIO x3; 0B 000000 00 > [256]; 0B 000100 00 !EIO x3; 0B 000100 00 > [256]; 0B 000200 00 > [256]; close", ""});

#define PP_ARGS "-d /dev/spi0 -s 16000 -o PP "
#define ERR4 "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n"
ROWS(PageProgram,
  {"EmptyImage", "", "", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 0page\n\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; +2000000us; close", ""},
  {"OneByteIsAFilledPage", "", "h5A", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM FILE=0x5a / ROM=0x5a\n", "", "open; spi 0x03 8 16000000; 06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > 5A; close", "0=h5AFF"},
  {"ExactPage", "", "*256:2", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; 06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; close", "0=*256:2+FF*1"},
  {"PageAndOneByte", "", "*257:3", PP_ARGS "0x1000 -f $IMG", "", 0, "Page Size = 256byte / Write 2page\n\r  Page Write ... -> PROGRESS = 99%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; 06; 05 > 02; 02 001000 [256]; 05 > 03; +1000us; 05 > 00; 06; 05 > 02; 02 001100 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 001000 00 > [256]; 0B 001100 00 > D3; close", "0x1000=*257:3+FF*255"},
  {"ProgressWhenThePercentGrows", "", "*768:1", PP_ARGS "0x100000 -f $IMG", "", 0, "Page Size = 256byte / Write 3page\n\r  Page Write ... -> PROGRESS = 33%\r  Page Write ... -> PROGRESS = 66%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "~25", "0x100000=*768:1"},
  {"FirstPageShowsZeroPercent", "", "*100000:4", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 391page\n$PCT\n  Check SUM $SUMS\n", "", "~2741", "0=*100000:4"},
  {"ImageBeyondTheReadAhead", "", "*0x100001:8", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 4097page\n$PCT\n  Check SUM $SUMS\n", "", "~28683", "0=*0x100001:8"},
  {"BlankPageWaitsButSendsNothing", "", "FF*256+*256:5", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 2page\n\r  Page Write ... -> PROGRESS = 50%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; 06; 05 > 02 x2; 06; 05 > 02; 02 000100 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; 0B 000100 00 > [256]; close", "0=FF*256+*256:5"},
  {"UnalignedStartWrapsInThePage", "", "*512:6", PP_ARGS "0x80 -f $IMG", "", 11, "Page Size = 256byte / Write 2page\n\r  Page Write ... -> PROGRESS = 50%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "  Check SUM Error!!!\n", "~18", "0=*128:6@128+*128:6+*128:6@384+*128:6@256"},
  {"LatchNeverSets", "", "*300:1", PP_ARGS "0 -f $IMG", "--wel-stuck", 11, "Page Size = 256byte / Write 2page\n\n", "\n  ERROR: Check RDSR TIME OUT:300 msec)\n\n  ERROR: Check RDSR TIME OUT:300 msec)\n\n  ERROR: Check RDSR TIME OUT:300 msec)\n\n  ERROR: Check RDSR TIME OUT:300 msec)\n  Page Write Protocol retryout!!\n", "open; spi 0x03 8 16000000; (06; (05 > 00; +1000us) x300) x4; close", "0=FF*16"},
  {"ProtectedPagesFailTheChecksum", "--set status=0x1C", "*256:10", PP_ARGS "0 -f $IMG", "", 11, "Page Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "  Check SUM Error!!!\n", "open; spi 0x03 8 16000000; 06; 05 > 1E; 02 000000 [256]; 05 > 1C; +2000000us; 0B 000000 00 > [256]; close", "0=FF*256"},
  {"PageOf7FBytesIsSent", "", "7F*256", PP_ARGS "0 -f $IMG", "", 0, "Page Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; 06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; close", "0=7F*256+FF*1"},
  {"FailureCountRestartsAfterAPage", "", "*512:7", PP_ARGS "0 -f $IMG", "--fail-msgs 1-3 --fail-msgs 9-11", 0, "Page Size = 256byte / Write 2page\n\r  Page Write ... -> PROGRESS = 50%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "ERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\nERROR: Input/output error\n", "open; spi 0x03 8 16000000; 06 !EIO x3; 06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; 06 !EIO x3; 06; 05 > 02; 02 000100 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; 0B 000100 00 > [256]; close", "0=*512:7"});

#define WRITE_ARGS "-d /dev/spi0 -s 16000 -o WRITE "
#define HEADER(start, size, n) "SPI Flash ROM Erase and Write: START ADRESS = " start " / File Size = " size "\nSector Size = 64KB / Erase " n "sector\n"
#define SECTOR(address) "\r  Sector Erase ... -> ADDRESS = " address
#define ERASE0 "06; 05 > 02; D8 000000; (05 > 03; +1000us) x149; 05 > 00; "
ROWS(Write,
  {"EmptyImage", "--fill 0x00", "", WRITE_ARGS "0 -f $IMG", "", 0, HEADER("0x000000", "0x000000", "0") "\nPage Size = 256byte / Write 0page\n\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; +2000000us; close", ""},
  {"OneSector", "--fill 0x00", "*0x10000:21", WRITE_ARGS "0 -f $IMG", "", 0, HEADER("0x000000", "0x010000", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 256page\n$PCT\n  Check SUM $SUMS\n", "", "~2098", "0=*0x10000:21+00*16"},
  {"OneByteMoreIsTwoSectors", "--fill 0x00", "*0x10001:22", WRITE_ARGS "0 -f $IMG", "", 0, HEADER("0x000000", "0x010001", "2") SECTOR("0x000000") SECTOR("0x010000") "\nPage Size = 256byte / Write 257page\n$PCT\n  Check SUM $SUMS\n", "", "~2407", "0=*0x10001:22+FF*255 0x20000=00*16"},
  {"StartInsideASectorNotRoundedDown", "", "*0x300:23", WRITE_ARGS "0x8100 -f $IMG", "", 0, HEADER("0x008100", "0x000300", "1") SECTOR("0x008100") "\nPage Size = 256byte / Write 3page\n\r  Page Write ... -> PROGRESS = 33%\r  Page Write ... -> PROGRESS = 66%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "~327", "0x8100=*0x300:23"},
  {"ErasedImageSendsOnlyErasesAndReads", "--fill 0x00", "FF*0x300", WRITE_ARGS "0 -f $IMG", "", 0, HEADER("0x000000", "0x000300", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 3page\n\r  Page Write ... -> PROGRESS = 33%\r  Page Write ... -> PROGRESS = 66%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; " ERASE0 "+2000000us; 0B 000000 00 > [256]; 0B 000100 00 > [256]; 0B 000200 00 > [256]; close", "0=FF*0x300+FF*0xFD00+00*16"},
  {"ErasedLastPartialPageSendsNothing", "--fill 0x00", "*256:31+FF*1", WRITE_ARGS "0 -f $IMG", "", 0, HEADER("0x000000", "0x000101", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 2page\n\r  Page Write ... -> PROGRESS = 99%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "", "open; spi 0x03 8 16000000; " ERASE0 "06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; 0B 000100 00 > FF; close", "0=*256:31+FF*0xFF00+00*16"},
  {"FailedEraseTransferRetriedBeforeItsLine", "--fill 0x00", "*256:24", WRITE_ARGS "0 -f $IMG", "--fail-opcode 0xD8:1", 0, HEADER("0x000000", "0x000100", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "ERROR: Input/output error\n", "open; spi 0x03 8 16000000; 06; 05 > 02; D8 000000 !EIO; " ERASE0 "06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; close", "0=*256:24+FF*256"},
  {"EraseWhoseWaitFailsIsShownAgain", "--fill 0x00", "*256:25", WRITE_ARGS "0 -f $IMG", "--fail-msgs 4-7", 0, HEADER("0x000000", "0x000100", "1") SECTOR("0x000000") SECTOR("0x000000") "\nPage Size = 256byte / Write 1page\n\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", ERR4 "  Page Write Protocol Retryout!!\n", "open; spi 0x03 8 16000000; 06; 05 > 02; D8 000000; 05 !EIO x4; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x149; 05 > 00; 06; 05 > 02; 02 000000 [256]; 05 > 03; +1000us; 05 > 00; +2000000us; 0B 000000 00 > [256]; close", "0=*256:25"},
  {"FourthFailureAtAPageSkipsVerification", "--fill 0x00", "*0x300:27", WRITE_ARGS "0 -f $IMG", "--fail-opcode 0x02", 11, HEADER("0x000000", "0x000300", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 3page\n\n", ERR4 "  Page Write Protocol retryout!!\n", "open; spi 0x03 8 16000000; " ERASE0 "06; 05 > 02; 02 000000 [256] !EIO; 06; 05 > 02; 02 000000 [256] !EIO; 06; 05 > 02; 02 000000 [256] !EIO; 06; 05 > 02; 02 000000 [256] !EIO; close", "0=FF*0x300"},
  {"EraseThatNeverEnds", "--fill 0x00", "*256:28", WRITE_ARGS "0 -f $IMG", "--wip-stuck", 11, HEADER("0x000000", "0x000100", "1") SECTOR("0x000000") SECTOR("0x000000") SECTOR("0x000000") SECTOR("0x000000") "\n", "\n  ERROR: Check RDSR TIME OUT:4000 msec)\n\n  ERROR: Check RDSR TIME OUT:4000 msec)\n\n  ERROR: Check RDSR TIME OUT:4000 msec)\n\n  ERROR: Check RDSR TIME OUT:4000 msec)\n  Sector Erase Protocol retryout!!\n", "open; spi 0x03 8 16000000; 06; 05 > 02; D8 000000; (05 > 03; +1000us) x4000; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x4000; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x4000; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x4000; close", ""},
  {"ProtectedSectorsKeepTheOldContents", "--fill 0x00 --set status=0x1C", "*0x1000:29", WRITE_ARGS "0 -f $IMG", "", 11, HEADER("0x000000", "0x001000", "1") SECTOR("0x000000") "\nPage Size = 256byte / Write 16page\n\r  Page Write ... -> PROGRESS = 6%\r  Page Write ... -> PROGRESS = 12%\r  Page Write ... -> PROGRESS = 18%\r  Page Write ... -> PROGRESS = 25%\r  Page Write ... -> PROGRESS = 31%\r  Page Write ... -> PROGRESS = 37%\r  Page Write ... -> PROGRESS = 43%\r  Page Write ... -> PROGRESS = 50%\r  Page Write ... -> PROGRESS = 56%\r  Page Write ... -> PROGRESS = 62%\r  Page Write ... -> PROGRESS = 68%\r  Page Write ... -> PROGRESS = 75%\r  Page Write ... -> PROGRESS = 81%\r  Page Write ... -> PROGRESS = 87%\r  Page Write ... -> PROGRESS = 93%\r  Page Write ... -> PROGRESS = 100%\n  Check SUM $SUMS\n", "  Check SUM Error!!!\n", "~88", "0=00*0x1000"});
// clang-format on

}  // namespace
