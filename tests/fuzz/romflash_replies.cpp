// SPDX-License-Identifier: MIT
// The reply side of every operation. The input is a header (the operation, its
// operand words, an image made from a few bytes) and then, message by message,
// what the bus answers: a control byte below 0x20 fails the message with that
// errno; below 0x80 the next byte fills the whole reply; from 0x80 on the reply
// is copied from the input, 0xFF past its end. When the input runs out every
// message fails. Linked with --wrap=ioctl,--wrap=nanosleep: the program's spidev
// requests end here, and its sleeps return at once and are added up.
#include <linux/spi/spidev.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "spidev/spidev.h"

// Header bytes: operation, flags (1: -f given, 2: -w given, 4: the -w file takes
// no writes), word 1 (3 bytes), word 2 (2 bytes), image size (17 bits), image
// fill, step and blank-page mask.
static constexpr size_t HEADER_SIZE = 13;
static constexpr uint64_t MS = 1000000, S = 1000 * MS;

static const struct SpiSettings INITIAL_SETTINGS = SpiSettings;
static FILE* const devNull = std::fopen("/dev/null", "w");

static struct Bus {
  const uint8_t *next, *end;  // the answers left
  uint64_t slept, answered;   // ns of sleep; messages answered
  bool verifying;             // after the pause before the read-back
  uint32_t readBackSum;
} bus;

static void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "romflash_replies: %s\n", what);
  std::abort();
}

static int answer(const spi_ioc_transfer* segments) {
  check(segments[0].rx_buf == 0 && segments[1].tx_buf == 0 && segments[0].cs_change == 0,
        "not a frame out and a reply back in one selection");
  // Read and write every byte the kernel would: ASan sees the buffers' limits.
  std::vector<uint8_t> frame(segments[0].len);
  std::memcpy(frame.data(), reinterpret_cast<const void*>(segments[0].tx_buf), frame.size());
  uint8_t* reply = reinterpret_cast<uint8_t*>(segments[1].rx_buf);
  uint32_t length = segments[1].len;
  if (bus.next == bus.end || *bus.next < 0x20) {
    errno = bus.next == bus.end ? EIO : *bus.next++;
    return -1;
  }
  if (*bus.next++ < 0x80) {
    std::memset(reply, bus.next == bus.end ? 0xFF : *bus.next++, length);
  } else {
    uint32_t supplied = std::min<uint32_t>(length, bus.end - bus.next);
    std::memcpy(reply, bus.next, supplied);
    std::memset(reply + supplied, 0xFF, length - supplied);
    bus.next += supplied;
  }
  ++bus.answered;
  if (bus.verifying && !frame.empty() && frame[0] == CommandTable[FREAD].opcode) {
    for (uint32_t i = 0; i < length; ++i) bus.readBackSum = (bus.readBackSum + reply[i]) & 0xFFFF;
  }
  return static_cast<int>(frame.size() + length);
}

static FILE* memory_file(const std::vector<uint8_t>& bytes, const char* mode) {
  int fd = memfd_create("romflash_replies", 0);
  check(fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
        "no memory file");
  return fdopen(fd, mode);
}

// The fuzzer itself makes no ioctl and does not sleep through nanosleep.
extern "C" int __wrap_ioctl(int, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  check(request == SPI_IOC_MESSAGE(2), "an operation made a request other than a message");
  return answer(static_cast<const spi_ioc_transfer*>(argument));
}

extern "C" int __wrap_nanosleep(const timespec* wanted, timespec*) {
  bus.slept += static_cast<uint64_t>(wanted->tv_sec) * S + static_cast<uint64_t>(wanted->tv_nsec);
  if (wanted->tv_sec >= 1) bus.verifying = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t h[HEADER_SIZE] = {};
  std::memcpy(h, data, std::min(size, HEADER_SIZE));
  CommandId id = static_cast<CommandId>(h[0] % COMMAND_COUNT);
  std::vector<uint8_t> image(h[7] | h[8] << 8 | (h[9] & 1) << 16);
  uint32_t imageSum = 0;
  for (uint32_t i = 0; i < image.size(); ++i) {
    image[i] = (i >> 8) & h[12] ? 0xFF : static_cast<uint8_t>(h[10] + h[11] * i);
    imageSum = (imageSum + image[i]) & 0xFFFF;
  }
  FILE* imageFile = memory_file(image, "rb");
  FILE* outputFile = memory_file({}, h[1] & 4 ? "rb" : "wb");

  RunState = {};
  SpiSettings = INITIAL_SETTINGS;
  if (id != NO_COMMAND) {
    std::string word1 = std::to_string(h[2] | h[3] << 8 | h[4] << 16);
    std::string word2 = std::to_string(h[5] | h[6] << 8);
    std::string name = CommandTable[id].name;
    char program[] = "romflash", option[] = "-o";
    char* argv[] = {program, option, &name[0], &word1[0], &word2[0], nullptr};
    optind = 0;
    const char* noImageName = nullptr;
    check(parse_options(5, argv, &noImageName) == 0, "operands refused");
  }
  RunState.imageFile = h[1] & 1 ? imageFile : nullptr;
  RunState.outputFile = h[1] & 2 ? outputFile : nullptr;

  bus = {data + std::min(size, HEADER_SIZE), data + size, 0, 0, false, 0};
  FILE *realOut = stdout, *realErr = stderr;
  stdout = stderr = devNull;
  int status = dispatch(RunState.imageFile != nullptr);
  stdout = realOut;
  stderr = realErr;
  std::fclose(imageFile);
  std::fclose(outputFile);

  check(status == 0 || status == STATUS_FAIL || (id == NO_COMMAND && status == -1),
        "a status other than 0 or 11");
  check(bus.slept <= bus.answered * MS + 2 * S, "slept longer than the answers allow");
  check((id != PP && id != WRITE) || status != 0 || (bus.verifying && bus.readBackSum == imageSum),
        "an image reported written that the read-back does not sum to");
  return 0;
}
