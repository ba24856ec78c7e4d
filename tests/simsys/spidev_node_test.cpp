// The simulated spidev node as a spidev client sees it: trace lines, set-up
// requests, message semantics, modes and the per-message size limit.
#include "sim_client.h"

namespace {

using SimTrace = SimChip;
using SimSetUp = SimChip;
using SimMessages = SimChip;
using SimModes = SimChip;
using SimBufsiz = SimChip;
using SimOpen = SimChip;

const std::string kRdid = "msg=tx:9F,rx:3";
const std::string kRdsr = "msg=tx:05,rx:1";
const std::string kWren = "msg=tx:06";

TEST_F(SimTrace, EveryEventIsOneLineInTheDocumentedForm) {
  ProcessResult run = client({"open", "wrmode=0x03", "rdmode", "wrbits=8", "rdbits", "wrspeed=16000000", "rdspeed",
                              "msg=tx:9F,rx:4", "nanosleep=1000000", "close"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(out_lines(run), (Lines{"open ok", "wrmode=0x03 ok", "rdmode 0x03", "wrbits=8 ok", "rdbits 8",
                                   "wrspeed=16000000 ok", "rdspeed 16000000", "msg ok 5: 01 20 18 4D",
                                   "nanosleep=1000000 ok", "close ok"}));
  EXPECT_EQ(trace(), (Lines{"open /dev/spi0", "ioctl WR_MODE 0x03 ok", "ioctl RD_MODE 0x03 ok",
                            "ioctl WR_BITS_PER_WORD 8 ok", "ioctl RD_BITS_PER_WORD 8 ok",
                            "ioctl WR_MAX_SPEED_HZ 16000000 ok", "ioctl RD_MAX_SPEED_HZ 16000000 ok", "msg 2 ok",
                            "  seg 1 tx 9F", "  seg 4 rx 01 20 18 4D", "sleep 1000000", "close"}));
}

TEST_F(SimTrace, SegmentsShowCsChangeZeroLengthFullDuplexAndUnknownRequests) {
  ProcessResult run =
      client({"open", "msg=tx:9F+cs,none:0,rx:2", "msg=duplex:9F000000", "ioctl=0x1234", "close"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  // After cs_change the chip starts a new instruction: opcode 00 answers nothing.
  EXPECT_EQ(out_lines(run),
            (Lines{"open ok", "msg ok 3: FF FF", "msg ok 4: FF 01 20 18", "ioctl=0x1234 fail ENOTTY", "close ok"}));
  EXPECT_EQ(trace(), (Lines{"open /dev/spi0", "msg 3 ok", "  seg 1 tx 9F cs_change", "  seg 0", "  seg 2 rx FF FF",
                            "msg 1 ok", "  seg 4 tx 9F 00 00 00 rx FF 01 20 18", "ioctl 0x00001234 fail ENOTTY",
                            "close"}));
}

TEST_F(SimSetUp, ModeAndWordSizePersistWhileTheClockRevertsAtTheLastClose) {
  ProcessResult first = client({"open", "wrmode=0x03", "wrspeed=1000000", "rdspeed", "close", "open", "rdmode",
                                "rdspeed", "close"});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_EQ(out_lines(first), (Lines{"open ok", "wrmode=0x03 ok", "wrspeed=1000000 ok", "rdspeed 1000000",
                                     "close ok", "open ok", "rdmode 0x03", "rdspeed 50000000", "close ok"}));

  ProcessResult second = client({"open", "rdmode", "rdbits", "rdspeed"});
  EXPECT_EQ(out_lines(second), (Lines{"open ok", "rdmode 0x03", "rdbits 8", "rdspeed 50000000"}));

  create_chip({});  // a new chip on a new node starts from the defaults
  ProcessResult fresh = client({"open", "rdmode"});
  EXPECT_EQ(out_lines(fresh), (Lines{"open ok", "rdmode 0x00"}));
}

TEST_F(SimSetUp, TheControllerRejectsWhatItCannotDoAndKeepsTheOldSettings) {
  struct Case {
    std::string step;
    std::string traceLine;
  } rejected[] = {
      {"wrmode=0x08", "ioctl WR_MODE 0x08 fail EINVAL"},          // LSB first
      {"wrmode=0x10", "ioctl WR_MODE 0x10 fail EINVAL"},          // 3-wire
      {"wrmode=0x80", "ioctl WR_MODE 0x80 fail EINVAL"},          // ready
      {"wrmode32=0x100", "ioctl WR_MODE32 0x100 fail EINVAL"},    // dual transmit
      {"wrlsb=1", "ioctl WR_LSB_FIRST 1 fail EINVAL"},
      {"wrbits=16", "ioctl WR_BITS_PER_WORD 16 fail EINVAL"},
      {"wrspeed=0", "ioctl WR_MAX_SPEED_HZ 0 fail EINVAL"},
  };
  for (const auto& c : rejected) {
    ProcessResult run = client({"open", "wrmode=0x01", c.step, "rdmode", "rdbits", "rdspeed"});
    EXPECT_EQ(out_lines(run), (Lines{"open ok", "wrmode=0x01 ok", c.step + " fail EINVAL", "rdmode 0x01",
                                     "rdbits 8", "rdspeed 50000000"}));
    EXPECT_EQ(trace().at(2), c.traceLine);
  }
  for (const char* accepted : {"0x00", "0x02", "0x03", "0x04", "0x20", "0x40"}) {
    ProcessResult run = client({"open", std::string("wrmode=") + accepted, "rdmode"});
    EXPECT_EQ(out_lines(run), (Lines{"open ok", std::string("wrmode=") + accepted + " ok",
                                     std::string("rdmode ") + accepted}));
  }
  ProcessResult zeroBits = client({"open", "wrbits=0", "rdbits", "msg=tx:9F+bits=16,rx:1", "msg=tx:9F+dual,rx:1"});
  EXPECT_EQ(out_lines(zeroBits), (Lines{"open ok", "wrbits=0 ok", "rdbits 8", "msg fail EINVAL", "msg fail EINVAL"}));
}

TEST_F(SimMessages, ChipSelectSpansTheMessageUnlessCsChangeReleasesIt) {
  // One select for all three transfers: the chip sees "06 05 00", not a WREN.
  ProcessResult joined = client({"open", "msg=tx:06,tx:05,rx:1", kRdsr});
  EXPECT_EQ(out_lines(joined), (Lines{"open ok", "msg ok 3: FF", "msg ok 2: 00"}));

  ProcessResult split = client({"open", "msg=tx:06+cs,tx:05,rx:1"});
  EXPECT_EQ(out_lines(split), (Lines{"open ok", "msg ok 3: 02"}));

  // cs_change on the last transfer keeps the chip selected into the next message.
  ProcessResult held = client({"open", "msg=tx:05+cs", "msg=rx:1", "msg=tx:05", "msg=rx:1"});
  EXPECT_EQ(out_lines(held), (Lines{"open ok", "msg ok 1", "msg ok 1: 02", "msg ok 1", "msg ok 1: FF"}));
}

TEST_F(SimMessages, ReturnIsTheByteCountAndATransferWithoutTxShiftsZeros) {
  // Page program whose data comes from a transfer with no tx buffer at all.
  ProcessResult run = client({"open", kWren, "msg=tx:02000100,none:4", "nanosleep=5000000", "msg=tx:0B00010000,rx:6"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(out_lines(run), (Lines{"open ok", "msg ok 1", "msg ok 8", "nanosleep=5000000 ok",
                                   "msg ok 11: 00 00 00 00 FF FF"}));
  EXPECT_EQ(chip_bytes(0x100, 6), std::string("\0\0\0\0\xFF\xFF", 6));
}

TEST_F(SimModes, ModesZeroAndThreeReadTheChipOnesWithMismatchedPhaseReadItShifted) {
  create_chip({"--set", "status=0x1C"});
  for (const char* mode : {"0x00", "0x03"}) {
    ProcessResult run = client({"open", std::string("wrmode=") + mode, kRdid, kRdsr});
    EXPECT_EQ(out_lines(run), (Lines{"open ok", std::string("wrmode=") + mode + " ok", "msg ok 4: 01 20 18",
                                     "msg ok 2: 1C"}));
  }
  for (const char* mode : {"0x01", "0x02"}) {
    // The chip takes 0A for 05 and every reply comes one bit late, behind the idle-high line.
    ProcessResult run = client({"open", std::string("wrmode=") + mode, "msg=tx:0A,rx:1", kRdsr});
    EXPECT_EQ(out_lines(run), (Lines{"open ok", std::string("wrmode=") + mode + " ok", "msg ok 2: 8E",
                                     "msg ok 2: FF"}));
  }
}

TEST_F(SimModes, ChipSelectHighNoCsAndLoopbackKeepTheChipOffTheBus) {
  for (const char* mode : {"0x04", "0x40"}) {
    ProcessResult run = client({"open", std::string("wrmode=") + mode, kRdid, kWren, "wrmode=0x00", kRdsr});
    EXPECT_EQ(out_lines(run), (Lines{"open ok", std::string("wrmode=") + mode + " ok", "msg ok 4: FF FF FF",
                                     "msg ok 1", "wrmode=0x00 ok", "msg ok 2: 00"}));
  }
  ProcessResult loop = client({"open", "wrmode=0x20", "msg=duplex:9F123456", kRdid, kWren, "wrmode=0x00", kRdsr});
  EXPECT_EQ(out_lines(loop), (Lines{"open ok", "wrmode=0x20 ok", "msg ok 4: 9F 12 34 56", "msg ok 4: 00 00 00",
                                    "msg ok 1", "wrmode=0x00 ok", "msg ok 2: 00"}));
}

TEST_F(SimBufsiz, TxAndRxTotalsAreEachBoundedByBufsiz) {
  ProcessResult small = client({"bufsiz", "bufsiz-open", "open", "msg=tx:03000000,rx:64", "msg=tx:03000000,rx:65",
                                "msg=tx:" + std::string(130, 'F'), "msg=tx:03000000,rx:30,rx:34"},
                               {"--bufsiz", "64"});
  ASSERT_EQ(small.exitStatus, 0) << small.err;
  Lines out = out_lines(small);
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[0], "bufsiz 64");
  EXPECT_EQ(out[1], "bufsiz-open 64");
  EXPECT_EQ(out[3].substr(0, 11), "msg ok 68: ");  // 68 bytes in one message, 64 each way at most
  EXPECT_EQ(out[4], "msg fail EMSGSIZE");
  EXPECT_EQ(out[5], "msg fail EMSGSIZE");
  EXPECT_EQ(out[6].substr(0, 11), "msg ok 68: ");
  Lines lines = trace();
  auto failed = std::find(lines.begin(), lines.end(), "msg 2 fail EMSGSIZE");
  ASSERT_NE(failed, lines.end());
  EXPECT_EQ(*(failed + 1), "  seg 4 tx 03 00 00 00");
  EXPECT_EQ(*(failed + 2), "  seg 65");

  ProcessResult standard = client({"bufsiz", "open", "msg=tx:03000000,rx:4096", "msg=tx:03000000,rx:4097"});
  Lines std4096 = out_lines(standard);
  ASSERT_EQ(std4096.size(), 4u);
  EXPECT_EQ(std4096[0], "bufsiz 4096");
  EXPECT_EQ(std4096[2].substr(0, 13), "msg ok 4100: ");
  EXPECT_EQ(std4096[3], "msg fail EMSGSIZE");
}

TEST_F(SimOpen, EveryOpenVariantReachesTheDeviceAndOtherPathsPassThrough) {
  for (const char* variant : {"open", "open64", "openat", "openat64", "__open_2", "__open64_2", "__openat_2",
                              "__openat64_2"}) {
    ProcessResult run = client({std::string("open=") + variant, kRdid, "close"});
    EXPECT_EQ(out_lines(run), (Lines{std::string("open=") + variant + " ok", "msg ok 4: 01 20 18", "close ok"}))
        << variant;
    EXPECT_EQ(trace().front(), "open /dev/spi0") << variant;
  }
  // With another device path configured, /dev/spi0 is the host's again (absent here).
  ProcessResult moved = client({"open"}, {"--device", "/dev/spidev1.0"});
  EXPECT_EQ(out_lines(moved), Lines{"open fail ENOENT"});
  EXPECT_EQ(trace(), Lines{});
  ProcessResult there = run({spidev_client_path(), "/dev/spidev1.0", "open", kRdid}, {"--device", "/dev/spidev1.0"});
  EXPECT_EQ(out_lines(there), (Lines{"open ok", "msg ok 4: 01 20 18"}));
  EXPECT_EQ(trace().front(), "open /dev/spidev1.0");
}

}  // namespace
