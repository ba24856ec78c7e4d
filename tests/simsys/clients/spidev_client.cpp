// SPDX-License-Identifier: MIT
// A tiny spidev client for the simulator's system tests: every argument is one
// step, done in order, and answered with one line on standard output.
//
//   spidev_client DEVICE STEP...
//   open[=open|open64|openat|openat64|__open_2|__open64_2|__openat_2|__openat64_2]  close
//   wrmode=0xNN rdmode wrmode32=0xN wrbits=N rdbits wrspeed=N rdspeed wrlsb=N
//   msg=SEG[,SEG]...   SEG: tx:HEX | rx:N | duplex:HEX | none:N, then +cs +hz=N +bits=N
//                      +delay=US +dual; prints "msg ok RET[: RX BYTES]" ([N] for more than 8)
//                      or "msg fail ERRNO"
//   ioctl=0xREQUEST    any request with a zeroed 64-byte argument
//   nanosleep=NS usleep=US sleep=S clocksleep=NS abssleep=NS busywait=NS
//   bufsiz (fopen of spidev's sysfs parameter)   bufsiz-open (the same through open)
//   exit=N  kill=SIGNAL
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
int __open_2(const char*, int);
int __open64_2(const char*, int);
int __openat_2(int, const char*, int);
int __openat64_2(int, const char*, int);
}

namespace {

const char* kSysfsBufsiz = "/sys/module/spidev/parameters/bufsiz";

std::string error_name(int number) {
  const char* name = strerrorname_np(number);
  return name ? name : std::to_string(number);
}

// 64 bits on every target: nanosecond spans of several seconds do not fit the
// board's 32-bit unsigned long.
uint64_t number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 0); }

std::vector<uint8_t> hex_bytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return bytes;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

int open_with(const std::string& variant, const char* path) {
  if (variant == "open") return open(path, O_RDWR);
  if (variant == "open64") return open64(path, O_RDWR);
  if (variant == "openat") return openat(AT_FDCWD, path, O_RDWR);
  if (variant == "openat64") return openat64(AT_FDCWD, path, O_RDWR);
  if (variant == "__open_2") return __open_2(path, O_RDWR);
  if (variant == "__open64_2") return __open64_2(path, O_RDWR);
  if (variant == "__openat_2") return __openat_2(AT_FDCWD, path, O_RDWR);
  return variant == "__openat64_2" ? __openat64_2(AT_FDCWD, path, O_RDWR) : (errno = EINVAL, -1);
}

void report(const std::string& step, int result) {
  std::printf(result < 0 ? "%s fail %s\n" : "%s ok\n", step.c_str(), error_name(errno).c_str());
}

template <typename T>
void read_back(int fd, const char* name, unsigned long request, const char* format) {
  T value = 0;
  if (ioctl(fd, request, &value) < 0)
    return (void)std::printf("%s fail %s\n", name, error_name(errno).c_str());
  std::printf("%s ", name);
  std::printf(format, static_cast<unsigned>(value));
}

void message(int fd, const std::string& segmentsText) {
  std::vector<std::string> segmentSpecs = split(segmentsText, ',');
  std::vector<spi_ioc_transfer> transfers(segmentSpecs.size());
  std::vector<std::vector<uint8_t>> txBuffers(segmentSpecs.size()), rxBuffers(segmentSpecs.size());
  std::memset(transfers.data(), 0, transfers.size() * sizeof(spi_ioc_transfer));
  for (size_t i = 0; i < segmentSpecs.size(); ++i) {
    std::vector<std::string> parts = split(segmentSpecs[i], '+');
    std::string kind = parts[0].substr(0, parts[0].find(':'));
    std::string value = parts[0].substr(parts[0].find(':') + 1);
    spi_ioc_transfer& t = transfers[i];
    if (kind == "tx" || kind == "duplex") {
      txBuffers[i] = hex_bytes(value);
      t.len = static_cast<uint32_t>(txBuffers[i].size());
      t.tx_buf = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(txBuffers[i].data()));
      if (kind == "duplex") t.rx_buf = t.tx_buf;  // full duplex into the same buffer
    } else {
      t.len = static_cast<uint32_t>(number(value));
      if (kind == "rx") {
        rxBuffers[i].assign(t.len, 0xA5);
        t.rx_buf = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(rxBuffers[i].data()));
      }
    }
    for (size_t p = 1; p < parts.size(); ++p) {
      const std::string& mod = parts[p];
      if (mod == "cs") t.cs_change = 1;
      if (mod == "dual") t.tx_nbits = 2;
      if (mod.compare(0, 3, "hz=") == 0) t.speed_hz = static_cast<uint32_t>(number(mod.substr(3)));
      if (mod.compare(0, 5, "bits=") == 0)
        t.bits_per_word = static_cast<uint8_t>(number(mod.substr(5)));
      if (mod.compare(0, 6, "delay=") == 0)
        t.delay_usecs = static_cast<uint16_t>(number(mod.substr(6)));
    }
  }
  const unsigned long requests[] = {SPI_IOC_MESSAGE(1), SPI_IOC_MESSAGE(2), SPI_IOC_MESSAGE(3),
                                    SPI_IOC_MESSAGE(4)};
  int result = ioctl(fd, requests[std::min<size_t>(transfers.size(), 4) - 1],
                     transfers.data());  // the count is in the request
  if (result < 0) return (void)std::printf("msg fail %s\n", error_name(errno).c_str());
  std::string rx;
  for (size_t i = 0; i < transfers.size(); ++i) {
    const uint8_t* bytes =
        transfers[i].rx_buf
            ? reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(transfers[i].rx_buf))
            : nullptr;
    for (uint32_t b = 0; bytes && b < transfers[i].len; ++b) {
      char pair[4];
      std::snprintf(pair, sizeof pair, " %02X", bytes[b]);
      rx += pair;
    }
  }
  if (rx.size() > 8 * 3) rx = " [" + std::to_string(rx.size() / 3) + "]";  // long replies by length
  std::printf("msg ok %d%s%s\n", result, rx.empty() ? "" : ":", rx.c_str());
}

struct timespec span(uint64_t ns) {
  struct timespec t;
  t.tv_sec = static_cast<time_t>(ns / 1000000000u);
  t.tv_nsec = static_cast<long>(ns % 1000000000u);
  return t;
}

uint64_t monotonic_ns() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: spidev_client DEVICE STEP...\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines survive a kill
  const char* device = argv[1];
  int fd = -1;
  for (int a = 2; a < argc; ++a) {
    std::string step = argv[a];
    size_t eq = step.find('=');
    std::string name = step.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : step.substr(eq + 1);
    if (name == "open") {
      fd = open_with(value.empty() ? "open" : value, device);
      report(step, fd);
    } else if (name == "close") {
      report(step, close(fd));
      fd = -1;
    } else if (name == "wrmode" || name == "wrlsb" || name == "wrbits") {
      uint8_t byte = static_cast<uint8_t>(number(value));
      report(step, ioctl(fd,
                         name == "wrmode"  ? SPI_IOC_WR_MODE
                         : name == "wrlsb" ? SPI_IOC_WR_LSB_FIRST
                                           : SPI_IOC_WR_BITS_PER_WORD,
                         &byte));
    } else if (name == "rdmode") {
      read_back<uint8_t>(fd, "rdmode", SPI_IOC_RD_MODE, "0x%02X\n");
    } else if (name == "wrmode32" || name == "wrspeed") {
      uint32_t word = static_cast<uint32_t>(number(value));
      report(step,
             ioctl(fd, name == "wrspeed" ? SPI_IOC_WR_MAX_SPEED_HZ : SPI_IOC_WR_MODE32, &word));
    } else if (name == "rdbits") {
      read_back<uint8_t>(fd, "rdbits", SPI_IOC_RD_BITS_PER_WORD, "%u\n");
    } else if (name == "rdspeed") {
      read_back<uint32_t>(fd, "rdspeed", SPI_IOC_RD_MAX_SPEED_HZ, "%u\n");
    } else if (name == "msg") {
      message(fd, value);
    } else if (name == "ioctl") {
      uint8_t scratch[64] = {};
      report(step, ioctl(fd, number(value), scratch));
    } else if (name == "nanosleep") {
      struct timespec want = span(number(value));
      report(step, nanosleep(&want, nullptr));
    } else if (name == "usleep") {
      report(step, usleep(static_cast<useconds_t>(number(value))));
    } else if (name == "sleep") {
      std::printf("%s left %u\n", step.c_str(), sleep(static_cast<unsigned>(number(value))));
    } else if (name == "clocksleep" || name == "abssleep") {
      struct timespec want = span(number(value) + (name == "abssleep" ? monotonic_ns() : 0));
      errno =
          clock_nanosleep(CLOCK_MONOTONIC, name == "abssleep" ? TIMER_ABSTIME : 0, &want, nullptr);
      report(step, errno ? -1 : 0);
    } else if (name == "busywait") {
      uint64_t end = monotonic_ns() + number(value);
      while (monotonic_ns() < end) {
      }
      std::printf("%s ok\n", step.c_str());
    } else if (name == "bufsiz") {
      FILE* file = std::fopen(kSysfsBufsiz, "r");
      unsigned size = 0;
      bool read = file && std::fscanf(file, "%u", &size) == 1;
      std::printf(read ? "bufsiz %u\n" : "bufsiz fail\n", size);
      if (file) std::fclose(file);
    } else if (name == "bufsiz-open") {
      int sysfs = open(kSysfsBufsiz, O_RDONLY);
      char text[32] = {};
      bool read = sysfs >= 0 && ::read(sysfs, text, sizeof text - 1) > 0;
      std::printf(read ? "bufsiz-open %s" : "bufsiz-open fail\n", text);
      if (sysfs >= 0) close(sysfs);
    } else if (name == "exit") {
      std::exit(static_cast<int>(number(value)));
    } else if (name == "kill") {
      std::fflush(stdout);
      raise(static_cast<int>(number(value)));
    } else {
      std::printf("%s unknown step\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
