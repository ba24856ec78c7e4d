// SPDX-License-Identifier: MIT
// romflash on the simulated chip, one row per case, each checked on every outcome.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <tuple>

#include "sim_run.h"

namespace {

// The columns of a row:
//   given   before the run: `flashsim create` words, ADDR=BYTES loads, IMG=BYTES the -f file
//           ($IMG); after " | ", `flashsim run` words (env:NAME=VALUE goes to the environment)
//   args    romflash's words, -d /dev/spi0 first unless they hold a -d or are empty; $OUT the -w
//           file (it holds 'stale' before), $DIR the test's directory, '' an empty word; " | "
//           between runs on one chip, the earlier ones expected to succeed
//   status, out, err: the last run's exit status, standard output and error; $GETOPT('x') is
//           getopt's own line about x, $USAGE the usage text, $PCT every percent line from 0 to
//           100, $SUMS the sums of a verified image (FILE=0x.. / ROM=0x.., both the image's)
//   wire    the last run's trace in short form (SimChip::wire); one that does not begin with
//           "open" is what comes between the usual set-up (at any clock) and the close;
//           "~..." the commands only (commands_sent)
//   after   ADDR=BYTES chip contents, FILE=BYTES the -w file
// BYTES: pieces joined by '+': *N:SEED pattern bytes, XX*N a repeated byte, 'text'.

struct Row {
  const char *name, *given, *args;
  int status;
  const char *out = "", *err = "", *wire = "", *after = "";  // left out when empty at the end
};

std::string bytes_of(const std::string& pieces) {
  std::string bytes;
  for (const auto& piece : split(pieces, '+')) {
    size_t star = piece.find('*');
    if (piece[0] == '\'')
      bytes += piece.substr(1, piece.size() - 2);
    else if (star == 0)
      bytes += pattern_bytes(std::stoul(piece.substr(1), nullptr, 0),
                             std::stoul(piece.substr(piece.find(':') + 1)));
    else
      bytes += std::string(std::stoul(piece.substr(star + 1), nullptr, 0),
                           char(std::stoul(piece.substr(0, star), nullptr, 16)));
  }
  return bytes;
}

std::string usage(const std::string& name) {
  return "Usage: " + name + " [option...]\nUsage Example        :\n  Write Flash Image  :" + name +
         " -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f flash.img\n  Read Flash Image   :" + name +
         " -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w read.img\nDisplay command usage:\n"
         "  -h                 :Output help message\nSPI device update option:\n  -d [device]     "
         "   :SPI Device\n  -s [speed]         :SPI Clock output ?(KHz)\n  -o [operation]     :R"
         "EAD_ID, RDID , WREN, RDSR, RDCR\n                     :RDSR_WEL or RDSR_WIP [timeout(ms"
         "ec)]\n                     :SE or SE4K or SE8K or SE32K 0x?????\?(Start Address)\n     "
         "                :PP or WRITE 0x?????\?(Start Address)\n                     :READ or FR"
         "EAD or CHKSUM 0x?????\?(Start Address) 0x?????\?(Read Size)\n                     :VER "
         "0x?????\?(Start Address)\n                     :VSRWE, WEDI, BE, DP, RES\n            "
         "         :WRR1 or WRR2 0x??\?\?(Write Register Data(1byte or 2byte))\n  -f [file]      "
         "    :PP and WRITE Input ROM-IMAGE file\n  -w [file]          :READ and FREAD Output RO"
         "M-IMAGE file\n\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The commands of a trace by opcode, in the order of their first use, each with the first and
// last address it carried and its count: "06 x257; D8 000000 x1; 02 000000-00FF00 x256". Status
// reads (05) and waits are left out: how many there are follows the chip's busy times, the rest
// is what the operation asked of the chip.
std::string commands_sent(const std::string& wire) {
  Lines order;
  std::map<std::string, std::tuple<std::string, std::string, int>> seen;  // first, last, count
  for (const auto& entry : split(wire, ';')) {
    Lines w = split_words(entry);
    if (w.empty() || w[0].size() != 2 || !std::isxdigit(w[0][0]) || w[0] == "05") continue;
    auto& [first, last, count] = seen[w[0]];
    last = w.size() > 1 && w[1].size() == 6 ? w[1] : "";
    if (!count++) order.push_back(w[0]), first = last;
  }
  std::string text = "~";
  for (const auto& op : order) {
    auto& [first, last, count] = seen[op];
    text += (text.size() > 1 ? "; " : "") + op + (first.empty() ? "" : " " + first) +
            (last == first ? "" : "-" + last) + " x" + std::to_string(count);
  }
  return text;
}

class Romflash : public ::testing::TestWithParam<Row> {
 protected:
  SimChip chip;
  std::string image;
  std::string expand(std::string text) {
    std::string percents;
    for (int p = 0; p <= 100; ++p)
      percents += "\r  Page Write ... -> PROGRESS = " + std::to_string(p) + "%";
    unsigned sum = 0;  // the image's 16-bit sum, computed here
    for (unsigned char byte : image) sum = (sum + byte) & 0xFFFF;
    char sums[32];
    std::snprintf(sums, sizeof sums, "FILE=0x%x / ROM=0x%x", sum, sum);
    text = replaced(replaced(replaced(text, "$USAGE", usage("romflash")), "$PCT", percents),
                    "$SUMS", sums);
    text = replaced(replaced(text, "$OUT", chip.dir.file("out")), "$IMG", chip.dir.file("image"));
    return replaced(text, "$DIR", chip.dir.path);
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
  Lines given = split(replaced(row.given, " | ", "|") + "|", '|'), create, loads, options, env;
  for (const auto& word : split_words(given[0])) {
    bool load = std::isdigit(static_cast<unsigned char>(word[0])) && word.find('=') < word.size();
    if (word.compare(0, 4, "IMG=") == 0)
      image = bytes_of(word.substr(4));
    else
      (load ? loads : create).push_back(word);
  }
  ASSERT_TRUE(chip.create(create));
  for (const auto& word : loads)
    chip.load(std::stoul(word, nullptr, 0), bytes_of(word.substr(word.find('=') + 1)));
  for (const auto& word : split_words(given.size() > 1 ? given[1] : ""))
    (word.compare(0, 4, "env:") ? options : env).push_back(word.substr(word.find("env:") ? 0 : 4));
  write_file(chip.dir.file("image"), image);
  write_file(chip.dir.file("out"), "stale");

  ProcessResult run{};
  for (const auto& words : split(replaced(row.args, " | ", "|") + "|", '|')) {
    EXPECT_EQ(run.exitStatus, 0) << "before " << words;
    Lines args = split_words(words);
    if (!args.empty() && std::find(args.begin(), args.end(), "-d") == args.end())
      args.insert(args.begin(), {"-d", "/dev/spi0"});
    for (auto& arg : args) arg = arg == "''" ? "" : expand(arg);
    run = chip.run(Lines{sim_binaries().romflash} + args, options, env);
  }
  EXPECT_EQ(run.exitStatus, row.status);
  EXPECT_EQ(run.out, expand(row.out));
  expect_stderr(run.err, expand(row.err));

  static const std::regex usual("^open; spi 0x03 8 [0-9]+; (.*); close$");
  EXPECT_EQ(row.wire[0] == '~'   ? commands_sent(chip.wire(false))
            : row.wire[0] == 'o' ? chip.wire()
                                 : std::regex_replace(chip.wire(), usual, "$1"),
            row.wire);
  for (const auto& check : split_words(row.after)) {
    std::string expected = bytes_of(check.substr(check.find('=') + 1));
    EXPECT_TRUE(expected == (check.compare(0, 5, "FILE=") == 0
                                 ? read_file(chip.dir.file("out"))
                                 : chip.bytes(std::stoul(check, nullptr, 0), expected.size())))
        << check;
  }
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }  // test lists name the row

#define ROWS(group, ...)                   \
  const Row group##Rows[] = {__VA_ARGS__}; \
  INSTANTIATE_TEST_SUITE_P(group, Romflash, ::testing::ValuesIn(group##Rows), row_name)

// Texts several rows share.
#define IO_ERROR "ERROR: Input/output error\n"
#define IO_ERROR3 IO_ERROR IO_ERROR IO_ERROR
#define ALWAYS_TIMES_OUT " | --fail-every 1 --errno ETIMEDOUT"
#define TIMED_OUT3 \
  "ERROR: Connection timed out\nERROR: Connection timed out\nERROR: Connection timed out\n"
#define REFUSED(name) "ERROR: Invalid option -o " name " \n$USAGE"
#define SETUP_FAILED(what) "ERROR: can't " what "ERROR: Initialize SPI device fail.\n"
#define TIMEOUT(ms) "\n  ERROR: Check RDSR TIME OUT:" ms " msec)\n"
#define TIMEOUT4(ms) TIMEOUT(ms) TIMEOUT(ms) TIMEOUT(ms) TIMEOUT(ms)
#define SET_UP_ONLY "open; spi 0x03 8 500000; close"
#define MODE_SET "open; WR_MODE 0x03; RD_MODE 0x03; "
#define BITS_SET "WR_BITS_PER_WORD 8; RD_BITS_PER_WORD 8; "

ROWS(CommandLine,  // name, given, args, status, out, err, wire, after
     {"HelpAfterOutputFile", "", "-w $OUT -h -x", 0, "", "$USAGE", "", "FILE="},
     {"NoArguments", "", "", 11, "",
      "ERROR: No device specification.\nERROR: Initialize SPI device fail.\n"},
     {"OnlyADevice", "", "-d /dev/spi0", 255, "", "romflash(1469): ERROR: Fatal Error of System!\n",
      SET_UP_ONLY},
     {"DashI", "", "-i", 1, "", "ERROR: Invalid option '?'\n$USAGE"},
     {"LowerCaseName", "", "-o read 0x0", 1, "", REFUSED("read")},
     {"EmptyName", "", "-o ''", 1, "", REFUSED("")},
     {"LongerName", "", "-o WRENX", 1, "", REFUSED("WRENX")},
     {"Wrr1WithoutValue", "", "-o WRR1", 1, "", REFUSED("WRR1")},
     {"ReadWithoutAddress", "", "-o READ", 1, "", REFUSED("READ")},
     {"AddressForgotten", "", "-o SE -d /dev/spi0", 1, "", REFUSED("SE")},
     {"NegativeOperand", "", "-o SE -5", 1, "", "$GETOPT('5')ERROR: Invalid option '5'\n$USAGE"},
     {"ReadStartAt2To31", "", "-o READ 0x80000000 -w $OUT", 1, "", REFUSED("READ"), "",
      "FILE='stale'"},
     {"AddressClamped", "", "-o SE32K 0x123456789", 0, "", "", "52 FFFFFF"},
     {"MissingImage", "", "-o WRITE 0 -f $DIR/absent.img", 11, "",
      "ERROR: cannot open \"$DIR/absent.img\":  No such file or directory\n"},
     {"UnwritableOutput", "", "-o RDSR -w $DIR/none/out", 11, "",
      "ERROR: cannot open \"$DIR/none/out\":  No such file or directory\n"},
     {"PpWithoutImage", "", "-o PP 0x0", 11, "", "romflash(1425): ERROR: No file specification.\n",
      SET_UP_ONLY},
     {"WriteWithoutImage", "", "-o WRITE 0x0", 11, "",
      "romflash(1461): ERROR: No file specification.\n", SET_UP_ONLY},
     {"DirectoryAsImage", "", "-o WRITE 0 -f $DIR", 11, "",
      "ERROR: cannot take the size of the image file: Is a directory\n", SET_UP_ONLY},
     {"OptionsAfterOperandsEvenPosixlyCorrect", " | env:POSIXLY_CORRECT=1",
      "-o SE4K 0x123456 -d /dev/spi0 -s 1000", 0, "", "",
      "open; spi 0x03 8 1000000; 20 123456; close"},
     {"ExtraWordsIgnored", "", "-o WREN 0x10 extra", 0, "", "", "06"},
     {"LaterOptionsWin", "", "-d /dev/absent -o WREN -d /dev/spi0 -s 1 -s 2 -o VSRWE", 0, "", "",
      "open; spi 0x03 8 2000; 50; close"});

ROWS(DeviceSetup,  // name, given, args, status, out, err, wire, after
     {"WordSizeIsDecimal", "", "-b 010 -o WREN", 11, "", SETUP_FAILED("set bits per word"),
      MODE_SET "WR_BITS_PER_WORD 10 fail EINVAL; close"},
     {"WordSizeZeroNotSent", "", "-b 0 -o BE", 0, "", "",
      MODE_SET "WR_MAX_SPEED_HZ 500000; RD_MAX_SPEED_HZ 500000; 60; close"},
     {"ClockOctal", "", "-s 010 -o WRDI", 0, "", "", "open; spi 0x03 8 8000; 04; close"},
     {"FailRdMode", " | --fail-setup RD_MODE", "-o WREN", 11, "", SETUP_FAILED("get spi mode"),
      "open; WR_MODE 0x03; RD_MODE - fail EIO; close"},
     {"FailRdBits", " | --fail-setup RD_BITS_PER_WORD", "-o WREN", 11, "",
      SETUP_FAILED("get bits per word"),
      MODE_SET "WR_BITS_PER_WORD 8; RD_BITS_PER_WORD - fail EIO; close"},
     {"FailWrSpeed", " | --fail-setup WR_MAX_SPEED_HZ", "-o WREN", 11, "",
      SETUP_FAILED("set max speed hz"), MODE_SET BITS_SET "WR_MAX_SPEED_HZ 500000 fail EIO; close"},
     {"FailRdSpeed", " | --fail-setup RD_MAX_SPEED_HZ", "-o WREN", 11, "",
      SETUP_FAILED("get max speed hz"),
      MODE_SET BITS_SET "WR_MAX_SPEED_HZ 500000; RD_MAX_SPEED_HZ - fail EIO; close"},
     {"DeviceCannotBeOpened", "", "-d $DIR/spi9 -o WREN", 11, "",
      "ERROR: No such file or directory, $DIR/spi9\nERROR: Initialize SPI device fail.\n"});

// -m: the OR of its letters' bits in place of the default; other characters count for nothing.
// The simulated node refuses the mode bits it does not take: LSB first and 3-wire.
#define MODE(bits) "open; spi " bits " 8 500000; 06; close"
#define MODE_REFUSED(bits) \
  11, "", SETUP_FAILED("set spi mode"), "open; WR_MODE " bits " fail EINVAL; close"
ROWS(ModeLetters,  // name, given, args, status, out, err, wire, after
     {"H", "", "-m H -o WREN", 0, "", "", MODE("0x01")},
     {"C", "", "-m C -o WREN", 0, "", "", MODE("0x04")},
     {"L", "", "-m L -o WREN", MODE_REFUSED("0x08")},
     {"Three", "", "-m 3 -o WREN", MODE_REFUSED("0x10")},
     {"LowerCaseL", "", "-m l -o WREN", 0, "", "", MODE("0x20")},
     {"RepeatsAndOthers", "", "-m HHOxyz -o WREN", 0, "", "", MODE("0x03")},
     {"NoLetterIsZero", "", "-m xyz -o WREN", 0, "", "", MODE("0x00")});

ROWS(SingleInstruction,  // name, given, args, status, out, err, wire, after
     {"Se", "", "-o SE 0x010000", 0, "", "", "D8 010000"},
     {"Se8kAbove24Bits", "", "-o SE8K 0x1002000", 0, "", "", "40 002000"},
     {"Wrr1SendsTheHighByte", "", "-o WRR1 0x1234", 0, "", "", "01 12"},
     {"Wrr2KeepsTheLow16Bits", "", "-o WRR2 0xABCDEF", 0, "", "", "01 CD EF"},
     {"FailedTransferNotRetried", " | --fail-msg 1 --errno EBUSY", "-o BE", 11, "",
      "ERROR: Device or resource busy\n", "60 !EBUSY"});

#define JEDEC "--set jedec=012018 --set ext="
#define IDS "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n\n"
#define RETRY_OUT(what) "  " what " Protocol Retryout!!\n"
ROWS(Identification,  // name, given, args, status, out, err, wire, after
     {"RdidNoExtendedBytes", JEDEC, "-o RDID", 0, IDS, "", "9F > 01 20 18 00"},
     {"RdidTwelveExtended", JEDEC "1112131415161718191A1B1C", "-o RDID", 0,
      IDS "  0x00000000: 01 20 18 0C 11 12 13 14 15 16 17 18 19 1A 1B 1C\n", "",
      "9F > 01 20 18 0C; 9F > [16]"},
     {"RdidThreeDumpLines", JEDEC "1112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D",
      "-o RDID", 0,
      IDS
      "  0x00000000: 01 20 18 1D 11 12 13 14 15 16 17 18 19 1A 1B 1C\n  0x00000010: 1D 1E 1F 20 "
      "21 22 23 24 25 26 27 28 29 2A 2B 2C\n  0x00000020: 2D\n",
      "", "9F > 01 20 18 1D; 9F > [33]"},
     {"RdidSecondReadFails", JEDEC "1112131415161718191A1B1C | --fail-msgs 2-4", "-o RDID", 11,
      "MANUF_ID: 0x01\nDEVICE_ID: 0x2018\n", IO_ERROR3 RETRY_OUT("Read Manufacture ID"),
      "9F > 01 20 18 0C; 9F !EIO x3"},
     {"ReadId", "", "-o READ_ID", 0, "MANUF_ID: 0x01\nDEVICE_ID: 0x17\n", "", "90 000000 > 01 17"},
     {"ResOnThirdAttempt", " | --fail-msgs 1-2", "-o RES", 0, "RELESE_DP: EL-SIG: 0x17\n",
      IO_ERROR IO_ERROR, "AB 000000 !EIO x2; AB 000000 > 17"},
     {"DpLineEvenOnFailure", " | --fail-msg 1", "-o DP", 11, "DEEP_POWER-DOWN: ..........\n",
      IO_ERROR, "B9 !EIO"},
     {"RdidRetryOut", ALWAYS_TIMES_OUT, "-o RDID -w $OUT", 11, "",
      TIMED_OUT3 RETRY_OUT("Read Manufacture ID"), "9F !ETIMEDOUT x3", "FILE="},
     {"ReadIdRetryOut", ALWAYS_TIMES_OUT, "-o READ_ID", 11, "",
      TIMED_OUT3 RETRY_OUT("Read Manufacture ID"), "90 000000 !ETIMEDOUT x3"},
     {"ResRetryOut", ALWAYS_TIMES_OUT, "-o RES", 11, "",
      TIMED_OUT3 RETRY_OUT("Read Electronic Signature"), "AB 000000 !ETIMEDOUT x3"});

ROWS(Registers,  // name, given, args, status, out, err, wire, after
     {"Rdsr", "--set status=0x80", "-o RDSR", 0, "STATUS_REG: 0x80\n", "", "05 > 80"},
     {"RdcrSecondByte", "--set config=0x12", "-o RDCR", 0, "CONFIG_REG: 0x12\n", "", "35 > 12 12"},
     {"RdsrRetryOut", ALWAYS_TIMES_OUT, "-o RDSR", 11, "",
      TIMED_OUT3 RETRY_OUT("Read Status Register"), "05 !ETIMEDOUT x3"},
     {"VerEndsAtZeroByte", "0x1000='V1.2'+00*1+'junk'", "-o VER 0x1000 -w $OUT", 0, "V1.2\n", "",
      "0B 001000 00 > [12]", "FILE='V1.2'+0A*1"},
     {"VerShortSize", "0x1000='ABCDEFGH'", "-o VER 0x1000 2", 0, "AB\n", "",
      "0B 001000 00 > 41 42"},
     {"VerLongSize", "0x1000='ABCDEFGHIJKLMNOPQRSTUVWXYZ'", "-o VER 0x1000 0x14", 0,
      "ABCDEFGHIJKLMNOPQRST\n", "", "0B 001000 00 > [20]"},
     {"VerRetryOut", ALWAYS_TIMES_OUT, "-o VER 0 -w $OUT", 11, "",
      TIMED_OUT3 RETRY_OUT("Flash Read Version Number"), "0B 000000 00 !ETIMEDOUT x3", "FILE="});

ROWS(StatusWait,  // name, given, args, status, out, err, wire, after
     {"OptionWordAsTimeout", "", "-o RDSR_WEL -d /dev/spi0", 11, "", TIMEOUT("0"), SET_UP_ONLY},
     {"LatchDefaultTimeout", "", "-o RDSR_WEL", 11, "", TIMEOUT("300"), "(05 > 00; +1000us) x300"},
     {"LatchAlreadySet", "--set status=0x02", "-o RDSR_WEL", 0, "", "", "05 > 02"},
     {"WipDefaultTimeout", "", "-o WREN | -o BE | -o RDSR_WIP", 11, "", TIMEOUT("4000"),
      "(05 > 03; +1000us) x4000"},
     {"FourthFailedReadEnds", " | --fail-msgs 1-4", "-o RDSR_WIP", 11, "",
      IO_ERROR3 IO_ERROR RETRY_OUT("Page Write"), "05 !EIO x4"},
     {"FailedReadsUseUpTicks", " | --fail-msgs 1-3", "-o RDSR_WEL 3", 11, "",
      IO_ERROR3 TIMEOUT("3"), "05 !EIO x3"});

ROWS(ReadChecksum,  // name, given, args, status, out, err, wire, after
     {"ReadAChunkThenTheRest", "0x1000=*300:1", "-o READ 0x1000 300 -w $OUT", 0, "", "",
      "03 001000 > [256]; 03 001100 > [44]", "FILE=*300:1"},
     {"ReadOfSizeZero", "0x1000=*512:1", "-o READ 0x1000 0 -w $OUT", 0, "", "", "03 001000 > [256]",
      "FILE=*256:1"},
     {"FastReadDummyByte", "0x200='fast'", "-w $OUT -o FREAD 0x200 4", 0, "", "",
      "0B 000200 00 > 66 61 73 74", "FILE='fast'"},
     {"ReadWithoutOutputFile", "", "-o READ 0 0x1000", 11, "", "", "03 000000 > [256]"},
     {"ReadRetryOutKeepsChunks", "0=*0x300:6 | --fail-msgs 2-5", "-o READ 0 0x300 -w $OUT", 11, "",
      IO_ERROR3 IO_ERROR RETRY_OUT("Flash Read"), "03 000000 > [256]; 03 000100 !EIO x4",
      "FILE=*256:6"},
     {"ChecksumWrapsAt16Bits", "0x20000=01*2+FE*0x230+03*2", "-o CHKSUM 0x20000 0x234 -w $OUT", 0,
      "2BA8\n", "", "0B 020000 00 > [256]; 0B 020100 00 > [256]; 0B 020200 00 > [52]",
      "FILE='2BA8'+0A*1"},
     {"ChecksumKeepsSumSoFar", " | --fail-msgs 2-5", "-o CHKSUM 0 0x300", 0, "FF00\n",
      IO_ERROR3 IO_ERROR RETRY_OUT("Get Checksum"), "0B 000000 00 > [256]; 0B 000100 00 !EIO x4"},
     {"ChecksumRetriesReset", " | --fail-msgs 1-3 --fail-msgs 5-7", "-o CHKSUM 0 0x300", 0,
      "FD00\n", IO_ERROR3 IO_ERROR3,
      "0B 000000 00 !EIO x3; 0B 000000 00 > [256]; 0B 000100 00 !EIO x3; 0B 000100 00 > [256]; "
      "0B 000200 00 > [256]"});

// PP and WRITE rows: texts of the page phase and its wire.
#define PP_0 "-s 16000 -o PP 0 -f $IMG"
#define WRITE_0 "-s 16000 -o WRITE 0 -f $IMG"
#define PAGES(n) "Page Size = 256byte / Write " n "page\n"
#define PERCENT(p) "\r  Page Write ... -> PROGRESS = " p "%"
#define CHECKED "\n  Check SUM $SUMS\n"
#define ONE_PAGE PAGES("1") PERCENT("100") CHECKED
#define THREE_PAGES PAGES("3") PERCENT("33") PERCENT("66") PERCENT("100") CHECKED
#define PAGE(address) "06; 05 > 02; 02 " address " [256]; 05 > 03; +1000us; 05 > 00; "
#define READ_BACK "+2000000us; 0B 000000 00 > [256]"
ROWS(PageProgram,  // name, given, args, status, out, err, wire, after
     {"EmptyImage", "", PP_0, 0, PAGES("0") CHECKED, "", "+2000000us"},
     {"PageAndOneByte", "IMG=*257:3", "-s 16000 -o PP 0x1000 -f $IMG", 0,
      PAGES("2") PERCENT("99") PERCENT("100") CHECKED, "",
      PAGE("001000") PAGE("001100") "+2000000us; 0B 001000 00 > [256]; 0B 001100 00 > D3",
      "0x1000=*257:3+FF*255"},
     {"ImageBeyondTheReadAhead", "IMG=*0x100001:8", PP_0, 0, PAGES("4097") "$PCT" CHECKED, "",
      "~06 x4097; 02 000000-100000 x4097; 0B 000000-100000 x4097", "0=*0x100001:8"},
     {"BlankPageNotSent", "IMG=FF*256+7F*256", PP_0, 0,
      PAGES("2") PERCENT("50") PERCENT("100") CHECKED, "",
      "06; 05 > 02 x2; " PAGE("000100") READ_BACK "; 0B 000100 00 > [256]", "0=FF*256+7F*256"},
     {"UnalignedStartWraps", "IMG=*512:6", "-s 16000 -o PP 0x80 -f $IMG", 11,
      PAGES("2") PERCENT("50") PERCENT("100") "\n  Check SUM FILE=0x258 / ROM=0x3fb6\n",
      "  Check SUM Error!!!\n", "~06 x2; 02 000080-000180 x2; 0B 000080-000180 x2", "0x80=*128:6"},
     {"LatchNeverSets", "IMG=*300:1 | --wel-stuck", PP_0, 11, PAGES("2") "\n",
      TIMEOUT4("300") "  Page Write Protocol retryout!!\n", "(06; (05 > 00; +1000us) x300) x4",
      "0=FF*16"},
     {"PollFailuresReset",
      "--set page_program_ns=5000000 IMG=*256:9 | --fail-msgs 4-6 --fail-msg 8", PP_0, 0, ONE_PAGE,
      IO_ERROR3 IO_ERROR,
      "06; 05 > 02; 02 000000 [256]; 05 !EIO x3; 05 > 03; +1000us; 05 !EIO; (05 > 03; +1000us) x4; "
      "05 > 00; " READ_BACK,
      "0=*256:9"},
     {"PageRetriesReset", "IMG=*512:7 | --fail-msgs 1-3 --fail-msgs 9-11", PP_0, 0,
      PAGES("2") PERCENT("50") PERCENT("100") CHECKED, IO_ERROR3 IO_ERROR3,
      "06 !EIO x3; " PAGE("000000") "06 !EIO x3; " PAGE("000100") READ_BACK
      "; 0B 000100 00 > [256]",
      "0=*512:7"});

#define HEADER(start, size, n)                                                  \
  "SPI Flash ROM Erase and Write: START ADRESS = " start " / File Size = " size \
  "\nSector Size = 64KB / Erase " n "sector\n"
#define SECTOR(address) "\r  Sector Erase ... -> ADDRESS = " address
#define AT_0(size, n) HEADER("0x000000", size, n) SECTOR("0x000000")
#define ERASE_0 "06; 05 > 02; D8 000000; (05 > 03; +1000us) x149; 05 > 00; "
#define NO_PAGE "06; 05 > 02; 02 000000 [256] !EIO"
#define NO_ERASE "; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x4000"
ROWS(Write,  // name, given, args, status, out, err, wire, after
     {"EmptyImage", "--fill 0x00", WRITE_0, 0,
      HEADER("0x000000", "0x000000", "0") "\n" PAGES("0") CHECKED, "", "+2000000us"},
     {"OneSector", "--fill 0x00 IMG=*0x10000:21", WRITE_0, 0,
      AT_0("0x010000", "1") "\n" PAGES("256") "$PCT" CHECKED, "",
      "~06 x257; D8 000000 x1; 02 000000-00FF00 x256; 0B 000000-00FF00 x256",
      "0=*0x10000:21+00*16"},
     {"OneByteMoreIsTwoSectors", "--fill 0x00 IMG=*0x10001:22", WRITE_0, 0,
      AT_0("0x010001", "2") SECTOR("0x010000") "\n" PAGES("257") "$PCT" CHECKED, "",
      "~06 x259; D8 000000-010000 x2; 02 000000-010000 x257; 0B 000000-010000 x257",
      "0=*0x10001:22+FF*255 0x20000=00*16"},
     {"StartNotRoundedDown", "IMG=*0x300:23", "-s 16000 -o WRITE 0x8100 -f $IMG", 0,
      HEADER("0x008100", "0x000300", "1") SECTOR("0x008100") "\n" THREE_PAGES, "",
      "~06 x4; D8 008100 x1; 02 008100-008300 x3; 0B 008100-008300 x3", "0x8100=*0x300:23"},
     {"ErasedImageSendsNoPage", "--fill 0x00 IMG=FF*0x300", WRITE_0, 0,
      AT_0("0x000300", "1") "\n" THREE_PAGES, "",
      ERASE_0 READ_BACK "; 0B 000100 00 > [256]; 0B 000200 00 > [256]",
      "0=FF*0x300+FF*0xFD00+00*16"},
     {"EraseWaitFailsLineAgain", "--fill 0x00 IMG=*256:25 | --fail-msgs 4-7", WRITE_0, 0,
      AT_0("0x000100", "1") SECTOR("0x000000") "\n" ONE_PAGE,
      IO_ERROR3 IO_ERROR RETRY_OUT("Page Write"),
      "06; 05 > 02; D8 000000; 05 !EIO x4; 06; 05 > 03; D8 000000; (05 > 03; +1000us) x149; "
      "05 > 00; " PAGE("000000") READ_BACK,
      "0=*256:25"},
     {"PageRetryOutSkipsCheck", "--fill 0x00 IMG=*0x300:27 | --fail-opcode 0x02", WRITE_0, 11,
      AT_0("0x000300", "1") "\n" PAGES("3") "\n",
      IO_ERROR3 IO_ERROR "  Page Write Protocol retryout!!\n",
      ERASE_0 NO_PAGE "; " NO_PAGE "; " NO_PAGE "; " NO_PAGE, "0=FF*0x300"},
     {"EraseThatNeverEnds", "--fill 0x00 IMG=*256:28 | --wip-stuck", WRITE_0, 11,
      AT_0("0x000100", "1") SECTOR("0x000000") SECTOR("0x000000") SECTOR("0x000000") "\n",
      TIMEOUT4("4000") "  Sector Erase Protocol retryout!!\n",
      "06; 05 > 02; D8 000000; (05 > 03; +1000us) x4000" NO_ERASE NO_ERASE NO_ERASE});

// The invocation name is cut to 255 characters before its last component is taken.
TEST(ProgramName, UsageNamesTheBaseOfTheFirst255Characters) {
  const SimBinaries& bin = sim_binaries();
  const std::string cases[][2] = {
      {std::string(254, 'x') + "/" + std::string(45, 'y'), std::string(254, 'x')},
      {"a/" + std::string(298, 'b'), std::string(253, 'b')}};  // invoked, shown
  for (const auto& c : cases) {
    Lines argv = bin.emulator + (bin.emulator.empty() ? Lines{} : Lines{"-0", c[0]}) +
                 Lines{bin.romflash, "-h"};
    ProcessResult run = run_process(argv, {}, bin.emulator.empty() ? c[0] : "");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, usage(c[1]));
  }
}

}  // namespace
