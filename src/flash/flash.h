// SPDX-License-Identifier: MIT
// Flash commands: their table, framing, the transfer, status polling, write enable and retries.
//
// Every command the program can send is one row of CommandTable; the rest
// of the program asks for rows and never spells an opcode or a frame length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

constexpr int STATUS_FAIL = 11;
constexpr uint32_t NO_VALUE = 0xFFFFFFFFu;  // field not set

constexpr unsigned PAGE_SHIFT = 8;     // a page is 2^8 bytes
constexpr unsigned SECTOR_SHIFT = 16;  // an erase sector is 2^16 bytes
constexpr uint32_t FLASH_PAGE_SIZE = 1u << PAGE_SHIFT;
constexpr uint32_t FLASH_SECTOR_SIZE = 1u << SECTOR_SHIFT;
constexpr uint32_t READ_AHEAD_SIZE = 0x100000;
constexpr uint32_t CHUNK_SIZE = 256;  // largest data read per command

constexpr uint8_t STATUS_WIP_MASK = 0x01;  // write in progress
constexpr uint8_t STATUS_WEL_MASK = 0x02;  // write enable latch
constexpr uint32_t WEL_TIMEOUT_MS = 300;
constexpr uint32_t WIP_TIMEOUT_MS = 4000;

// Row numbers of CommandTable: a row's id equals its index.
#define ROW(id, ...) id,
enum CommandId : uint32_t {
#include "flash/command_rows.h"
  COMMAND_COUNT  // no row: the number of rows
};
#undef ROW

struct FlashCommand {
  CommandId id;
  char name[16];
  uint8_t opcode;
  uint32_t address;  // sent as 3 bytes after the opcode unless NO_VALUE
  uint8_t dummyBytes;
  uint32_t txLength;  // frame bytes before the dummy bytes
  uint32_t rxLength;  // default reply length
  uint32_t regData;   // sent as 2 bytes, high first, unless NO_VALUE
};

extern const FlashCommand CommandTable[COMMAND_COUNT];

// Copies the row with this id into *out with address and regData unset;
// returns the row index, or 0 (out untouched) when there is no such row.
uint32_t select_command(FlashCommand* out, uint32_t id);
// The same for the first row with this name (exact, case-sensitive); the empty
// name of row 0 selects nothing.
uint32_t select_command_named(FlashCommand* out, const char* name);

// A cleared heap buffer, released on every return path; null when memory is short.
inline std::unique_ptr<uint8_t[]> zeroed_buffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]());
}

// Frame building (no I/O): the header bytes for cmd written from buf[0];
// returns how many were written.
uint32_t build_frame_header(const FlashCommand* cmd, uint8_t* buf);
// Bytes a frame buffer needs for cmd with this reply length.
uint32_t frame_buffer_size(const FlashCommand* cmd, uint32_t replyLength);

// One command as one two-segment spidev message; 0 or STATUS_FAIL. A reply
// length of 0 stands for the row's own.
int flash_transfer(const FlashCommand* cmd, uint8_t* buf, uint32_t replyLength);

// A reply read into a fresh zeroed frame buffer (spareBytes more zeros past
// it), with up to three immediate attempts. Null when memory is short, or
// after the retry-out message when every attempt failed. A reply length of 0
// stands for the row's own.
std::unique_ptr<uint8_t[]> read_reply(const FlashCommand* cmd, uint32_t replyLength,
                                      uint32_t spareBytes, const char* retryOutMessage);

// Steps that may fail and be tried again (a chunk read, a status read, a page,
// a sector) give up at the fourth failure in a row: a failure with this many
// behind it.
constexpr int FAILURES_BEFORE_GIVING_UP = 3;
inline bool out_of_retries(int failuresInARow) {
  return failuresInARow >= FAILURES_BEFORE_GIVING_UP;
}

// What read_range hands each chunk to; false stops the read.
using ChunkSink = bool (*)(void* context, const uint8_t* chunk, uint32_t length);

constexpr int RANGE_READ = 0;
constexpr int RANGE_NO_MEMORY = 1;
constexpr int RANGE_STOPPED = 2;  // retried out (after the message) or stopped by the sink

// Reads size bytes from the reader's address on, in chunks of CHUNK_SIZE, each
// handed to sink; a chunk that fails is read again, up to the retry rule.
int read_range(const FlashCommand* reader, uint32_t size, const char* retryOutMessage,
               ChunkSink sink, void* context);

// Reads the status register until (status & mask) != 0 equals waitForSet, in
// ticks of about 1 ms; 0 or STATUS_FAIL.
int poll_status(const FlashCommand* cmd, uint8_t mask, bool waitForSet, uint32_t timeoutMs);

// Write enable and the wait for its latch; the wait for the end of a write.
int enable_write();
int wait_write_done();

// Sleeps the full time even when signals interrupt it.
void sleep_for(uint32_t sec, uint32_t nsec);
