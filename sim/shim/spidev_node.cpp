// The simulated spidev node: what the kernel's spidev driver and one SPI
// controller would do with the requests, in front of the chip model.
//
// Controller choices (a real controller would have its own):
//   - mode bits CPHA, CPOL, CS_HIGH, LOOP and NO_CS are accepted; LSB_FIRST,
//     3WIRE, READY and the dual/quad/octal/word bits fail WR_MODE with EINVAL;
//   - 8 bits per word only (0 means 8, as in the kernel);
//   - clock capped at 50 MHz, a transfer's speed_hz overrides the device's;
//   - bufsiz bounds the tx total and the rx total of a message separately.
#include "chip_model.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "setup_requests.h"
#include "shim.h"

namespace shim {

namespace {

constexpr uint32_t kControllerMaxHz = 50000000;
constexpr uint32_t kSupportedModeBits = SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LOOP | SPI_NO_CS;
constexpr int kMaxOpen = 16;

struct Node {
  bool settingsLoaded = false;
  uint32_t mode = 0;
  uint8_t bits = 8;
  uint32_t speedHz = kControllerMaxHz;
  int openCount = 0;
  ChipState* chip = nullptr;
  bool selected = false;  // a message ended with cs_change and left the chip selected
  uint8_t mosiCarry = 0;  // the bit a phase-mismatched chip has not yet seen
  uint8_t misoCarry = 1;
  uint64_t messageCount = 0;
  std::vector<uint64_t> opcodeFailures;  // per fail-opcode entry: messages failed so far
  uint64_t wallSyncNs = 0;               // realtime mode: wall time the chip has reached
};

Node g_node;
// fd + 1 of every descriptor standing for the device, 0 when free; read
// without the lock by close(), which is called for every descriptor there is.
std::atomic<int> g_deviceFds[kMaxOpen];

// ---------------------------------------------------------------- settings

std::string settings_path() { return config().stateDir + "/" + flashsim::kSettingsFileName; }

// Mode and word size belong to the spi_device and outlive every open, as the
// kernel keeps them; the clock set with WR_MAX_SPEED_HZ lasts until the last
// close, when spidev falls back to the device's maximum.
void load_settings() {
  if (g_node.settingsLoaded || config().stateDir.empty()) return;
  g_node.settingsLoaded = true;
  int fd = real_open(settings_path().c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return;
  char text[128] = {};
  ssize_t got = ::read(fd, text, sizeof text - 1);
  real_close(fd);
  if (got <= 0) return;
  unsigned mode = 0, bits = 8;
  if (std::sscanf(text, "mode=0x%x bits=%u", &mode, &bits) == 2) {
    g_node.mode = mode;
    g_node.bits = static_cast<uint8_t>(bits);
  }
}

void save_settings() {
  if (config().stateDir.empty()) return;
  char text[64];
  int length = std::snprintf(text, sizeof text, "mode=0x%02X bits=%u\n", g_node.mode, g_node.bits);
  int fd = real_open(settings_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, text, static_cast<size_t>(length)) != length) {
    // The settings merely revert to their defaults next time.
  }
  real_close(fd);
}

// ---------------------------------------------------------------- chip

bool chip_absent() { return config().faults.absentLevel >= 0; }

ChipState* attach_chip(std::string* error) {
  const Config& cfg = config();
  if (cfg.stateDir.empty()) {
    *error = "no state directory (" FLASHSIM_ENV_STATE " is not set)";
    return nullptr;
  }
  ChipFaults faults{cfg.faults.welStuck, cfg.faults.wipStuck};
  return chip_attach(cfg.stateDir, faults, error);
}

void release_chip() {
  if (!g_node.chip) return;
  if (g_node.selected) chip_deselect(g_node.chip);
  g_node.selected = false;
  chip_detach(g_node.chip);
  g_node.chip = nullptr;
}

// ---------------------------------------------------------------- trace text

std::string errno_text(int number) { return flashsim::errno_name(number); }

void trace_setup(const char* name, const std::string& value, int failure) {
  if (!tracing()) return;
  std::string line = std::string("ioctl ") + name + " " + value;
  line += failure ? " fail " + errno_text(failure) + "\n" : " ok\n";
  trace_write(line);
}

std::string hex_value(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// ---------------------------------------------------------------- set-up requests

using flashsim::SetupRequest;
using Field = flashsim::SetupValue;

bool setup_fault_planned(const char* name) {
  for (const auto& planned : config().faults.failSetup)
    if (planned == name) return true;
  return false;
}

std::string field_text(const SetupRequest& req, uint32_t value) {
  return req.hex ? hex_value(value) : std::to_string(value);
}

uint32_t field_value(Field field) {
  switch (field) {
    case Field::Mode8:
      return g_node.mode & 0xFF;
    case Field::Mode32:
      return g_node.mode;
    case Field::LsbFirst:
      return (g_node.mode & SPI_LSB_FIRST) ? 1 : 0;
    case Field::Bits:
      return g_node.bits;
    case Field::Speed:
      return g_node.speedHz;
  }
  return 0;
}

// 0 when accepted, else the errno the driver returns.
int store_field(Field field, uint32_t value) {
  switch (field) {
    case Field::Mode8:
    case Field::Mode32:
      if (value & ~kSupportedModeBits) return EINVAL;
      g_node.mode = value;
      save_settings();
      return 0;
    case Field::LsbFirst:
      return value ? EINVAL : 0;
    case Field::Bits:
      if (value != 0 && value != 8) return EINVAL;
      g_node.bits = 8;
      save_settings();
      return 0;
    case Field::Speed:
      if (value == 0) return EINVAL;
      g_node.speedHz = value;
      return 0;
  }
  return EINVAL;
}

int finish(int failure) {
  if (failure == 0) return 0;
  errno = failure;
  return -1;
}

int handle_setup(const SetupRequest& req, void* arg) {
  size_t width = req.width;
  if (req.write) {
    if (!arg) {
      trace_setup(req.name, "-", EFAULT);
      return finish(EFAULT);
    }
    uint32_t value = 0;
    if (width == 4) {
      std::memcpy(&value, arg, 4);
    } else {
      value = *static_cast<const uint8_t*>(arg);
    }
    int failure = setup_fault_planned(req.name) ? config().faults.errorNumber : store_field(req.value, value);
    trace_setup(req.name, field_text(req, value), failure);
    return finish(failure);
  }
  int failure = !arg ? EFAULT : setup_fault_planned(req.name) ? config().faults.errorNumber : 0;
  if (failure) {
    trace_setup(req.name, "-", failure);
    return finish(failure);
  }
  uint32_t value = field_value(req.value);
  if (width == 4) {
    std::memcpy(arg, &value, 4);
  } else {
    *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(value);
  }
  trace_setup(req.name, field_text(req, value), 0);
  return 0;
}

// ---------------------------------------------------------------- messages

struct Segment {
  const uint8_t* tx;  // in the program's memory; null when the transfer has none
  uint8_t* rx;
  uint32_t len;
  uint32_t speedHz;
  uint16_t delayUsecs;
  uint8_t bitsPerWord;
  bool csChange;
  uint8_t txNbits;
  uint8_t rxNbits;
};

std::vector<Segment> read_segments(const void* arg, size_t count) {
  std::vector<Segment> segments(count);
  for (size_t i = 0; i < count; ++i) {
    struct spi_ioc_transfer transfer;
    std::memcpy(&transfer, static_cast<const char*>(arg) + i * sizeof transfer, sizeof transfer);
    Segment& s = segments[i];
    // The 64-bit fields carry a pointer of this process's width.
    s.tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(transfer.tx_buf));
    s.rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(transfer.rx_buf));
    s.len = transfer.len;
    s.speedHz = transfer.speed_hz;
    s.delayUsecs = transfer.delay_usecs;
    s.bitsPerWord = transfer.bits_per_word;
    s.csChange = transfer.cs_change != 0;
    s.txNbits = transfer.tx_nbits;
    s.rxNbits = transfer.rx_nbits;
  }
  return segments;
}

// The checks spidev and the SPI core make before anything is clocked.
int validate_message(const std::vector<Segment>& segments) {
  uint64_t txTotal = 0, rxTotal = 0;
  for (const Segment& s : segments) {
    if (s.tx) txTotal += s.len;
    if (s.rx) rxTotal += s.len;
    if (txTotal > config().bufsiz || rxTotal > config().bufsiz) return EMSGSIZE;
  }
  for (const Segment& s : segments) {
    if (s.bitsPerWord != 0 && s.bitsPerWord != 8) return EINVAL;
    if (s.txNbits > 1 || s.rxNbits > 1) return EINVAL;
  }
  return 0;
}

// The first byte the message would put on MOSI; -1 when it clocks nothing.
int first_mosi_byte(const std::vector<Segment>& segments) {
  for (const Segment& s : segments)
    if (s.len > 0) return s.tx ? s.tx[0] : 0;
  return -1;
}

int planned_failure(uint64_t number, const std::vector<Segment>& segments) {
  const flashsim::FaultPlan& plan = config().faults;
  bool fail = false;
  for (const auto& range : plan.failMessages)
    if (number >= range.first && number <= range.last) fail = true;
  if (plan.failEvery && number % plan.failEvery == 0) fail = true;
  int opcode = first_mosi_byte(segments);
  if (g_node.opcodeFailures.size() != plan.failOpcodes.size())
    g_node.opcodeFailures.assign(plan.failOpcodes.size(), 0);
  for (size_t i = 0; i < plan.failOpcodes.size(); ++i) {
    const flashsim::OpcodeFault& entry = plan.failOpcodes[i];
    if (opcode != entry.opcode) continue;
    if (entry.count != 0 && g_node.opcodeFailures[i] >= entry.count) continue;
    g_node.opcodeFailures[i] += 1;
    fail = true;
  }
  return fail ? plan.errorNumber : 0;
}

uint64_t segment_bus_ns(const Segment& s) {
  uint64_t hz = s.speedHz ? s.speedHz : g_node.speedHz;
  if (hz > kControllerMaxHz) hz = kControllerMaxHz;
  uint64_t bits = static_cast<uint64_t>(s.len) * 8u;
  return (bits * 1000000000u + hz - 1) / hz + static_cast<uint64_t>(s.delayUsecs) * 1000u;
}

// Whether the chip sees this message at all.
bool chip_on_bus() {
  return g_node.chip && !chip_absent() && !(g_node.mode & (SPI_CS_HIGH | SPI_NO_CS | SPI_LOOP));
}

void select_chip() {
  if (g_node.selected) return;
  chip_select(g_node.chip);
  g_node.selected = true;
  g_node.mosiCarry = 0;
  g_node.misoCarry = 1;
}

void deselect_chip() {
  if (!g_node.selected) return;
  chip_deselect(g_node.chip);
  g_node.selected = false;
}

// One byte each way. With CPHA != CPOL (modes 1 and 2) chip and controller
// sample on opposite edges: each side sees the other's bits one clock late.
uint8_t exchange(uint8_t mosi) {
  uint8_t phase = g_node.mode & (SPI_CPHA | SPI_CPOL);
  if (phase == 0 || phase == (SPI_CPHA | SPI_CPOL)) return chip_shift(g_node.chip, mosi);
  uint8_t seen = static_cast<uint8_t>((g_node.mosiCarry << 7) | (mosi >> 1));
  g_node.mosiCarry = mosi & 1;
  uint8_t out = chip_shift(g_node.chip, seen);
  uint8_t read = static_cast<uint8_t>((g_node.misoCarry << 7) | (out >> 1));
  g_node.misoCarry = out & 1;
  return read;
}

void clock_segment(const Segment& s, const std::vector<uint8_t>& txBytes, std::vector<uint8_t>* rxBytes) {
  rxBytes->assign(s.len, 0);
  if (g_node.mode & SPI_LOOP) {
    *rxBytes = txBytes;
    return;
  }
  if (!chip_on_bus()) {
    // Nobody drives MISO: it floats to the pull-up, or to what --absent says.
    int level = chip_absent() ? config().faults.absentLevel : 0xFF;
    rxBytes->assign(s.len, static_cast<uint8_t>(level));
    return;
  }
  select_chip();
  for (uint32_t i = 0; i < s.len; ++i) (*rxBytes)[i] = exchange(txBytes[i]);
}

std::string message_trace(size_t count, int failure, const std::vector<Segment>& segments,
                          const std::vector<std::vector<uint8_t>>& txBytes,
                          const std::vector<std::vector<uint8_t>>& rxBytes) {
  std::string text = "msg " + std::to_string(count) + (failure ? " fail " + errno_text(failure) : " ok") + "\n";
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    text += "  seg " + std::to_string(s.len);
    if (s.len > 0 && s.tx) {
      text += " tx";
      hex_append(&text, txBytes[i].data(), s.len);
    }
    if (s.len > 0 && s.rx && !failure) {
      text += " rx";
      hex_append(&text, rxBytes[i].data(), s.len);
    }
    if (s.csChange) text += " cs_change";
    text += "\n";
  }
  return text;
}

[[noreturn]] void cut_power() {
  if (g_node.chip) chip_power_cut(g_node.chip);
  flush_counters();
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

int handle_message(unsigned long request, void* arg) {
  size_t size = _IOC_SIZE(request);
  if (size % sizeof(struct spi_ioc_transfer) != 0) {
    if (tracing()) {
      char line[64];
      std::snprintf(line, sizeof line, "ioctl 0x%08lX fail EINVAL\n", request);
      trace_write(line);
    }
    return finish(EINVAL);
  }
  size_t count = size / sizeof(struct spi_ioc_transfer);
  uint64_t number = ++g_node.messageCount;
  flashsim::RunCounters& counters = pending_counters();
  counters.messages += 1;
  if (count > 0 && !arg) {
    // The transfer array cannot be read, so there are no segments to show.
    counters.failedMessages += 1;
    trace_write("msg " + std::to_string(count) + " fail EFAULT\n");
    return finish(EFAULT);
  }
  std::vector<Segment> segments = read_segments(arg, count);
  int failure = validate_message(segments);
  if (failure == 0) failure = planned_failure(number, segments);

  std::vector<std::vector<uint8_t>> txBytes(count), rxBytes(count);
  for (size_t i = 0; i < count; ++i) {
    const Segment& s = segments[i];
    // Copied first: rx may be the very buffer tx points to.
    if (s.tx)
      txBytes[i].assign(s.tx, s.tx + s.len);
    else if (!failure)
      txBytes[i].assign(s.len, 0);  // no tx buffer: zeros go out
  }

  const Config& cfg = config();
  uint64_t startWall = 0;
  if (cfg.realtime) {
    startWall = real_monotonic_ns();
    realtime_sync();
  }
  uint64_t busNs = cfg.overheadNs;
  device_advance(cfg.overheadNs, Advance::Bus);
  long total = 0;
  if (!failure) {
    for (size_t i = 0; i < count; ++i) {
      const Segment& s = segments[i];
      clock_segment(s, txBytes[i], &rxBytes[i]);
      uint64_t ns = segment_bus_ns(s);
      busNs += ns;
      device_advance(ns, Advance::Bus);
      bool last = i + 1 == count;
      if (s.csChange && !last && g_node.chip) deselect_chip();
      total += s.len;
      if (s.tx) counters.bytesTx += s.len;
      if (s.rx) counters.bytesRx += s.len;
    }
    // cs_change on the last transfer keeps the chip selected into the next message.
    if (g_node.chip && (count == 0 || !segments.back().csChange)) deselect_chip();
    for (size_t i = 0; i < count; ++i)
      if (segments[i].rx && segments[i].len) std::memcpy(segments[i].rx, rxBytes[i].data(), segments[i].len);
  } else {
    counters.failedMessages += 1;
  }
  counters.busNs += busNs;
  if (cfg.realtime) {
    uint64_t spent = real_monotonic_ns() - startWall;
    if (busNs > spent) real_nanosleep(busNs - spent);
    realtime_sync();
  }
  if (tracing()) trace_write(message_trace(count, failure, segments, txBytes, rxBytes));
  if (cfg.faults.powerCutAfter == number) cut_power();
  return failure ? finish(failure) : static_cast<int>(total);
}

void forget_fd(int fd) {
  for (auto& slot : g_deviceFds) {
    int expected = fd + 1;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

bool remember_fd(int fd) {
  for (auto& slot : g_deviceFds) {
    int expected = 0;
    if (slot.compare_exchange_strong(expected, fd + 1)) return true;
  }
  return false;
}

void let_go_of_device() {
  if (config().realtime) realtime_sync();
  release_chip();
  g_node.speedHz = kControllerMaxHz;
  flush_counters();
}

}  // namespace

// ---------------------------------------------------------------- entry points

bool is_device_path(const char* path) {
  if (!path) return false;
  const Config* cfg = config_if_ready();
  return cfg && cfg->device == path;
}

bool is_device_fd(int fd) {
  if (fd < 0) return false;
  for (const auto& slot : g_deviceFds)
    if (slot.load(std::memory_order_relaxed) == fd + 1) return true;
  return false;
}

int device_open(int flags) {
  Guard guard;
  const Config& cfg = config();
  const char* path = cfg.device.c_str();
  if (!cfg.configError.empty()) {
    std::fprintf(stderr, "libflashsim: %s\n", cfg.configError.c_str());
    trace_write(std::string("open ") + path + " fail EINVAL\n");
    return finish(EINVAL);
  }
  note_process_active();
  if (g_node.openCount == 0) {
    load_settings();
    if (!chip_absent()) {
      std::string error;
      g_node.chip = attach_chip(&error);
      if (!g_node.chip) {
        std::fprintf(stderr, "libflashsim: cannot attach the chip: %s\n", error.c_str());
        trace_write(std::string("open ") + path + " fail ENODEV\n");
        return finish(ENODEV);
      }
    }
    g_node.wallSyncNs = real_monotonic_ns();
  }
  // A real descriptor keeps the number unique and makes fstat/dup/poll harmless.
  int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
  if (fd < 0 || !remember_fd(fd)) {
    int failure = fd < 0 ? errno : EMFILE;
    if (fd >= 0) real_close(fd);
    if (g_node.openCount == 0) let_go_of_device();
    trace_write(std::string("open ") + path + " fail " + errno_text(failure) + "\n");
    return finish(failure);
  }
  g_node.openCount += 1;
  trace_write(std::string("open ") + path + "\n");
  return fd;
}

int device_close(int fd) {
  Guard guard;
  if (!is_device_fd(fd)) return real_close(fd);
  forget_fd(fd);
  int result = real_close(fd);
  trace_write("close\n");
  g_node.openCount -= 1;
  if (g_node.openCount == 0) let_go_of_device();
  return result;
}

int device_ioctl(int /*fd*/, unsigned long request, void* arg) {
  Guard guard;
  if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE)
    return handle_message(request, arg);
  if (const SetupRequest* req = flashsim::setup_request_for(request)) return handle_setup(*req, arg);
  if (tracing()) {
    char line[64];
    std::snprintf(line, sizeof line, "ioctl 0x%08lX fail ENOTTY\n", request);
    trace_write(line);
  }
  return finish(ENOTTY);
}

// Called at exit: a program that never closed the device still leaves the
// chip's registers and the counters behind.
void device_shutdown() {
  Guard guard;
  if (g_node.openCount > 0) {
    g_node.openCount = 0;
    for (auto& slot : g_deviceFds) slot.store(0);
    let_go_of_device();
  }
  flush_counters();
}

bool chip_attached() { return g_node.chip != nullptr; }

bool chip_time_advance(uint64_t ns, bool attachIfClosed) {
  if (g_node.chip) {
    chip_advance_ns(g_node.chip, ns);
    return true;
  }
  if (!attachIfClosed || chip_absent() || config().stateDir.empty()) return false;
  std::string error;
  ChipState* chip = attach_chip(&error);
  if (!chip) return false;
  chip_advance_ns(chip, ns);
  chip_detach(chip);
  return true;
}

uint64_t& realtime_anchor() { return g_node.wallSyncNs; }

}  // namespace shim
