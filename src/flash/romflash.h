// The flash command layer and the process-wide state of one run.
//
// Every instruction the program can send is one row of CommandTable; the rest
// of the program asks for rows and never spells an opcode or a frame length.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int STATUS_FAIL = 11;
constexpr uint32_t NO_VALUE = 0xFFFFFFFFu;  // field not set

constexpr uint32_t COMMAND_COUNT = 25;
constexpr uint32_t FLASH_PAGE_SIZE = 256;
constexpr uint32_t FLASH_SECTOR_SIZE = 0x10000;
constexpr uint32_t READ_AHEAD_SIZE = 0x100000;
constexpr uint32_t CHUNK_SIZE = 256;  // largest data read per command

constexpr uint8_t STATUS_WIP_MASK = 0x01;  // write in progress
constexpr uint8_t STATUS_WEL_MASK = 0x02;  // write enable latch
constexpr uint32_t WEL_TIMEOUT_MS = 300;
constexpr uint32_t WIP_TIMEOUT_MS = 4000;

// Row numbers of CommandTable; a row's id equals its index.
enum CommandId : uint32_t {
  NO_COMMAND = 0,
  RDID = 1,
  READ_ID = 2,
  VSRWE = 3,
  WREN = 4,
  WRDI = 5,
  RDSR = 6,
  RDSR_WEL = 7,
  RDSR_WIP = 8,
  RDCR = 9,
  BE = 10,
  SE = 11,
  SE4K = 12,
  SE8K = 13,
  SE32K = 14,
  PP = 15,
  WRR1 = 16,
  WRR2 = 17,
  READ = 18,
  FREAD = 19,
  VER = 20,
  CHKSUM = 21,
  DP = 22,
  RES = 23,
  WRITE = 24,
};

struct FlashCommand {
  uint32_t id;
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

struct SpiSettings {
  int32_t fd;
  uint32_t speedHz;
  uint8_t mode;
  uint8_t bitsPerWord;
};

struct RunState {
  char programName[256];
  FILE* imageFile;
  const char* devicePath;
  FlashCommand command;
  uint32_t timeoutMs;
  FILE* outputFile;
};

// The one run's device settings and state, named as the rest of the program reads them.
extern struct SpiSettings SpiSettings;
extern struct RunState RunState;

// Frame building (no I/O): the header bytes for cmd written from buf[0];
// returns how many were written.
uint32_t build_frame_header(const FlashCommand* cmd, uint8_t* buf);
// Bytes a frame buffer needs for cmd with this reply length.
uint32_t frame_buffer_size(const FlashCommand* cmd, uint32_t replyLength);

// One command as one two-segment spidev message; 0 or STATUS_FAIL.
int flash_transfer(const FlashCommand* cmd, uint8_t* buf, uint32_t rxLen);

// Reads the status register until (status & mask) != 0 equals waitForSet, in
// ticks of about 1 ms; 0 or STATUS_FAIL.
int poll_status(const FlashCommand* cmd, uint8_t mask, bool waitForSet, uint32_t timeoutMs);

// Sleeps the full time even when signals interrupt it.
void sleep_for(uint32_t sec, uint32_t nsec);
