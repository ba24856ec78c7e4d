// The bytes a command puts on the wire, built without a device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/flash.h"

namespace {

// The segment-1 bytes of a command: the built header plus whatever the caller
// left behind it, cut to dummyBytes + txLength.
std::vector<uint8_t> sent_bytes(const FlashCommand& cmd, std::vector<uint8_t> buffer = {}) {
  buffer.resize(frame_buffer_size(&cmd, 0), 0);
  build_frame_header(&cmd, buffer.data());
  buffer.resize(cmd.dummyBytes + cmd.txLength);
  return buffer;
}

FlashCommand row(uint32_t id) {
  FlashCommand cmd{};
  EXPECT_EQ(select_command(&cmd, id), id);
  return cmd;
}

using Bytes = std::vector<uint8_t>;

TEST(Frame, SingleOpcodeCommands) {
  EXPECT_EQ(sent_bytes(row(WREN)), Bytes({0x06}));
  EXPECT_EQ(sent_bytes(row(RDSR)), Bytes({0x05}));
  EXPECT_EQ(sent_bytes(row(RDID)), Bytes({0x9F}));
}

TEST(Frame, DummyBytesFollowTheOpcodeAsZeros) {
  EXPECT_EQ(sent_bytes(row(READ_ID)), Bytes({0x90, 0x00, 0x00, 0x00}));
  EXPECT_EQ(sent_bytes(row(RES)), Bytes({0xAB, 0x00, 0x00, 0x00}));
}

TEST(Frame, AddressIsSentMostSignificantByteFirst) {
  FlashCommand erase = row(SE);
  erase.address = 0x010000;
  EXPECT_EQ(sent_bytes(erase), Bytes({0xD8, 0x01, 0x00, 0x00}));

  FlashCommand fastRead = row(FREAD);
  fastRead.address = 0x000100;
  EXPECT_EQ(sent_bytes(fastRead), Bytes({0x0B, 0x00, 0x01, 0x00, 0x00}));
}

TEST(Frame, AddressAbove24BitsKeepsItsLowThreeBytes) {
  FlashCommand erase = row(SE4K);
  erase.address = 0x7F123456;
  EXPECT_EQ(sent_bytes(erase), Bytes({0x20, 0x12, 0x34, 0x56}));
}

TEST(Frame, RegisterWritesSendTheHighByteFirstAndWrr1CutsTheLowByte) {
  FlashCommand two = row(WRR2);
  two.regData = 0x1234;
  EXPECT_EQ(sent_bytes(two), Bytes({0x01, 0x12, 0x34}));

  FlashCommand one = row(WRR1);
  one.regData = 0x1234;
  EXPECT_EQ(sent_bytes(one), Bytes({0x01, 0x12}));
  one.regData = 0x00AB;
  EXPECT_EQ(sent_bytes(one), Bytes({0x01, 0x00}));
}

TEST(Frame, PageProgramSendsTheCallersDataBehindTheHeaderUnchanged) {
  FlashCommand program = row(PP);
  program.address = 0x000100;
  Bytes buffer(260);
  for (size_t i = 4; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7);

  Bytes sent = sent_bytes(program, buffer);

  ASSERT_EQ(sent.size(), 260u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), Bytes({0x02, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Bytes(sent.begin() + 4, sent.end()), Bytes(buffer.begin() + 4, buffer.end()));
}

TEST(Frame, BufferCoversHeaderFrameAndReply) {
  FlashCommand id = row(RDID);
  EXPECT_EQ(frame_buffer_size(&id, 4), 4u);
  EXPECT_EQ(frame_buffer_size(&id, 81), 81u);
  FlashCommand version = row(VER);
  version.address = 0;
  // A two-byte reply still needs room for the five-byte frame it is read over.
  EXPECT_EQ(frame_buffer_size(&version, 2), 5u);
  FlashCommand one = row(WRR1);
  one.regData = 0x1234;
  // The builder writes both register bytes even though only one is sent.
  EXPECT_EQ(frame_buffer_size(&one, 0), 3u);
}

}  // namespace
