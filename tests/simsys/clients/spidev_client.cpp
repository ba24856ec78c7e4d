// SPDX-License-Identifier: MIT
// A tiny spidev client for the simulator's system tests: every argument is one
// step, done in order. Each step is echoed, then what came of it on the same line,
// so a step that never returns (the process was killed) stands alone on its line.
//
//   spidev_client DEVICE STEP...
//   open[=open64|openat|openat64|__open_2|__open64_2|__openat_2|__openat64_2]  close
//   wrmode=N rdmode wrmode32=N wrlsb=N wrbits=N rdbits wrspeed=N rdspeed   ioctl=REQUEST
//   msg=SEG[,SEG]...   SEG: HEX (tx) | rx:N | duplex:HEX | none:N, then +cs +hz=N +bits=N
//                      +delay=US +dual; answers "ok RET[: RX BYTES]" ([N] for more than 8)
//                      +badtx +badrx (the buffer at 0x10); none:N allocates nothing
//   badmsg=N (a MESSAGE(N) whose transfer array is at 0x10)   openpath=PATH   chdir=DIR
//   nanosleep=NS usleep=US sleep=S clocksleep=NS abssleep=NS busywait=NS
//   hugesleep (nanosleep of the largest time_t)
//   fork (a child that never touches the device, waiting to exit until) reap
//   forkmsg=SEG... (a child that sends that message on the descriptor, then exits)
//   exec (the client again, with the steps after it and the descriptor it had)
//   bufsiz (fopen of spidev's sysfs parameter)   bufsiz-open (the same through open)
//   exit=N
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

const struct {
  const char* name;
  unsigned long request;  // its size is the argument's, 1 or 4 bytes
} kSetup[] = {{"wrmode", SPI_IOC_WR_MODE},          {"rdmode", SPI_IOC_RD_MODE},
              {"wrmode32", SPI_IOC_WR_MODE32},      {"wrlsb", SPI_IOC_WR_LSB_FIRST},
              {"wrbits", SPI_IOC_WR_BITS_PER_WORD}, {"rdbits", SPI_IOC_RD_BITS_PER_WORD},
              {"wrspeed", SPI_IOC_WR_MAX_SPEED_HZ}, {"rdspeed", SPI_IOC_RD_MAX_SPEED_HZ}};

// 64 bits on every target: nanosecond spans do not fit the board's unsigned long.
uint64_t number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 0); }

void result(int returned) {
  std::printf(returned < 0 ? " fail %s\n" : " ok\n", strerrorname_np(errno));
}

// The open functions by name, reached as a program reaches them: the preloaded library
// first. The __open*_2 ones (what fortified programs call) take no mode.
int open_with(std::string how, const char* path) {
  void* f = dlsym(RTLD_DEFAULT, how.empty() ? "open" : how.c_str());
  bool at = how.find("at") != std::string::npos;
  if (how[0] == '_')
    return at ? reinterpret_cast<int (*)(int, const char*, int)>(f)(AT_FDCWD, path, O_RDWR)
              : reinterpret_cast<int (*)(const char*, int)>(f)(path, O_RDWR);
  return at ? reinterpret_cast<int (*)(int, const char*, int, ...)>(f)(AT_FDCWD, path, O_RDWR)
            : reinterpret_cast<int (*)(const char*, int, ...)>(f)(path, O_RDWR);
}

// SPI_IOC_MESSAGE(n) without its array type, which for n = 0 has no size.
unsigned long message_request(size_t n) {
  return _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, n * sizeof(spi_ioc_transfer));
}

// An address no program has mapped.
const uintptr_t kBadAddress = 0x10;

int message(int fd, const std::string& text) {
  std::vector<spi_ioc_transfer> transfers;
  std::vector<std::vector<uint8_t>> buffers;  // moving one keeps its bytes where they are
  std::istringstream segments(text);
  for (std::string segment; std::getline(segments, segment, ',');) {
    size_t colon = segment.find(':') + 1;  // 0 without a kind: tx
    std::string kind = segment.substr(0, colon),
                data = segment.substr(colon, segment.find('+') - colon);
    bool counted = kind == "rx:" || kind == "none:";
    buffers.emplace_back(kind == "rx:" ? number(data) : 0, 0xA5);
    for (size_t i = 0; !counted && i + 1 < data.size(); i += 2)
      buffers.back().push_back(std::stoul(data.substr(i, 2), nullptr, 16));
    auto mod = [&](const std::string& name) {  // the number after +NAME=, 0 without
      size_t at = segment.find("+" + name + "=");
      return at == std::string::npos ? 0 : number(segment.substr(at + name.size() + 2));
    };
    spi_ioc_transfer t{};
    t.len = kind == "none:" ? number(data) : buffers.back().size();
    t.tx_buf = counted ? 0 : reinterpret_cast<uintptr_t>(buffers.back().data());
    if (kind == "rx:" || kind == "duplex:")
      t.rx_buf = reinterpret_cast<uintptr_t>(buffers.back().data());
    if (segment.find("+badtx") != std::string::npos) t.tx_buf = kBadAddress;
    if (segment.find("+badrx") != std::string::npos) t.rx_buf = kBadAddress;
    t.cs_change = segment.find("+cs") != std::string::npos;
    t.tx_nbits = segment.find("+dual") != std::string::npos ? 2 : 0;
    t.speed_hz = mod("hz"), t.bits_per_word = mod("bits"), t.delay_usecs = mod("delay");
    transfers.push_back(t);
  }
  int returned = ioctl(fd, message_request(transfers.size()), transfers.data());
  if (returned < 0) return result(returned), returned;
  std::string rx;
  char pair[4];
  for (size_t i = 0; i < transfers.size(); ++i)
    for (uint32_t b = 0; transfers[i].rx_buf && b < transfers[i].len; ++b)
      rx.append(pair, std::snprintf(pair, sizeof pair, " %02X", buffers[i][b]));
  if (rx.size() > 8 * 3) rx = " [" + std::to_string(rx.size() / 3) + "]";  // long replies by length
  std::printf(" ok %d%s%s\n", returned, rx.empty() ? "" : ":", rx.c_str());
  return returned;
}

// A helper process on the inherited descriptor: `text` a message it sends at once, or
// empty to do nothing but wait for `release` to close, then exit (running the exit
// handlers, as any program's exit does).
pid_t fork_helper(int fd, const std::string& text, int* release) {
  int gate[2] = {-1, -1};
  if (text.empty() && pipe(gate) != 0) return -1;
  std::fflush(stdout);
  pid_t child = fork();
  if (child != 0) {
    if (gate[0] >= 0) close(gate[0]);
    *release = gate[1];
    return child;
  }
  close(gate[1]);
  char byte;
  while (gate[0] >= 0 && read(gate[0], &byte, 1) > 0) {
  }
  FILE* quiet = std::freopen("/dev/null", "w", stdout);  // the parent reports
  int sent = text.empty() ? 0 : message(fd, text);
  std::exit(quiet && sent >= 0 ? 0 : 1);
}

int reap(pid_t child, int release) {
  if (release >= 0) close(release);
  int status = 0;
  if (child <= 0 || waitpid(child, &status, 0) != child) return -1;
  errno = EIO;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

uint64_t monotonic_ns() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * uint64_t{1000000000} + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  const char* bufsiz = "/sys/module/spidev/parameters/bufsiz";
  const char* inherited = std::getenv("SPIDEV_CLIENT_FD");  // from before an exec
  int fd = inherited ? std::atoi(inherited) : -1;
  pid_t helper = -1;
  int release = -1;
  for (int a = 2; a < argc; ++a) {
    std::string step = argv[a], name = step.substr(0, step.find('='));
    std::string value = step.size() > name.size() ? step.substr(name.size() + 1) : "";
    std::printf("%s", step.c_str());
    std::fflush(stdout);  // on record should the step never return
    for (const auto& setup : kSetup) {
      if (name != setup.name) continue;
      uint32_t word = number(value);
      uint8_t byte = word;
      bool narrow = _IOC_SIZE(setup.request) == 1;
      int returned = ioctl(fd, setup.request, narrow ? static_cast<void*>(&byte) : &word);
      if (returned < 0 || _IOC_DIR(setup.request) == _IOC_WRITE)
        result(returned);
      else
        std::printf(name == "rdmode" ? " 0x%02X\n" : " %u\n", narrow ? byte : word);
    }
    // A span, or for abssleep and busywait a time on the monotonic clock.
    uint64_t ns = number(value) + (name == "abssleep" || name == "busywait" ? monotonic_ns() : 0);
    struct timespec want = {time_t(ns / 1000000000), long(ns % 1000000000)};
    if (name == "open") result(fd = open_with(value, argv[1]));
    if (name == "close") result(close(fd));
    if (name == "ioctl") result(ioctl(fd, number(value), std::vector<uint8_t>(64).data()));
    if (name == "msg") message(fd, value);
    if (name == "badmsg")
      result(ioctl(fd, message_request(number(value)), reinterpret_cast<void*>(kBadAddress)));
    if (name == "openpath") result(fd = open(value.c_str(), O_RDWR));
    if (name == "chdir") result(chdir(value.c_str()));
    if (name == "hugesleep") {
      struct timespec forever = {std::numeric_limits<time_t>::max(), 999999999};
      result(nanosleep(&forever, nullptr));
    }
    if (name == "fork" || name == "forkmsg") helper = fork_helper(fd, value, &release);
    if (name == "fork") result(helper > 0 ? 0 : -1);
    if (name == "reap" || name == "forkmsg") result(reap(helper, release)), release = -1;
    if (name == "exec") {
      std::printf("\n");
      std::fflush(stdout);
      setenv("SPIDEV_CLIENT_FD", std::to_string(fd).c_str(), 1);
      std::vector<char*> rest = {argv[0], argv[1]};
      rest.insert(rest.end(), argv + a + 1, argv + argc);
      rest.push_back(nullptr);
      execv("/proc/self/exe", rest.data());
      return 127;
    }
    if (name == "nanosleep") result(nanosleep(&want, nullptr));
    if (name == "usleep") result(usleep(number(value)));
    if (name == "sleep") std::printf(" left %u\n", sleep(number(value)));
    if (name == "clocksleep" || name == "abssleep") {
      errno = clock_nanosleep(CLOCK_MONOTONIC, name == "abssleep" ? TIMER_ABSTIME : 0, &want, 0);
      result(errno ? -1 : 0);
    }
    while (name == "busywait" && monotonic_ns() < ns) {
    }
    if (name == "busywait") result(0);
    char text[32] = {};
    FILE* file = name == "bufsiz" ? std::fopen(bufsiz, "r") : nullptr;
    if (file && std::fgets(text, sizeof text, file)) std::printf(" %s", text);
    if (file) std::fclose(file);
    int sysfs = name == "bufsiz-open" ? open(bufsiz, O_RDONLY) : -1;
    if (sysfs >= 0 && read(sysfs, text, sizeof text - 1) > 0) std::printf(" %s", text);
    if (sysfs >= 0) close(sysfs);
    if (name == "exit") std::exit(number(value));
  }
  return 0;
}
