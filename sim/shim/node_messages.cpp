// SPDX-License-Identifier: MIT
// The node's messages: the transfers of one SPI_IOC_MESSAGE clocked through
// the chip, with faults, bus time, counters and the trace.
#include <linux/spi/spidev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chip_model.h"
#include "node.h"
#include "shim.h"

namespace shim {

namespace {

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

// The transfer array as spidev copies it in; false (EFAULT) when it cannot be read.
bool read_segments(const void* arg, size_t count, std::vector<Segment>* segments) {
  std::vector<struct spi_ioc_transfer> transfers(count);
  if (!copy_from_program(transfers.data(), arg, count * sizeof(struct spi_ioc_transfer)))
    return false;
  segments->resize(count);
  for (size_t i = 0; i < count; ++i) {
    const struct spi_ioc_transfer& transfer = transfers[i];
    Segment& s = (*segments)[i];
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
  return true;
}

// What spidev does with each transfer in turn before anything is clocked: the
// lengths (a total the return value can carry, and bufsiz for tx and rx each),
// then the tx bytes copied in. Transfers before a failing one keep their bytes.
int take_transfers(const std::vector<Segment>& segments,
                   std::vector<std::vector<uint8_t>>* txBytes) {
  const uint64_t intMax = 0x7FFFFFFF;
  uint64_t total = 0, txTotal = 0, rxTotal = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    total += s.len;
    if (total > intMax) return EMSGSIZE;
    if (s.rx && (rxTotal += s.len) > config().bufsiz) return EMSGSIZE;
    if (s.tx && (txTotal += s.len) > config().bufsiz) return EMSGSIZE;
    if (s.tx) (*txBytes)[i].resize(s.len);  // none: zeros go out
    if (s.tx && !copy_from_program((*txBytes)[i].data(), s.tx, s.len)) {
      (*txBytes)[i].clear();
      return EFAULT;
    }
  }
  return 0;
}

// The checks the SPI core makes when the message is handed to it.
int validate_message(const std::vector<Segment>& segments) {
  for (const Segment& s : segments) {
    if (s.bitsPerWord != 0 && s.bitsPerWord != 8) return EINVAL;
    if (s.txNbits > 1 || s.rxNbits > 1) return EINVAL;
  }
  return 0;
}

// The first byte the message would put on MOSI; -1 when it clocks nothing.
int first_mosi_byte(const std::vector<Segment>& segments,
                    const std::vector<std::vector<uint8_t>>& txBytes) {
  for (size_t i = 0; i < segments.size(); ++i)
    if (segments[i].len > 0) return txBytes[i].empty() ? 0 : txBytes[i][0];
  return -1;
}

int planned_failure(uint64_t number, const std::vector<Segment>& segments,
                    const std::vector<std::vector<uint8_t>>& txBytes) {
  const flashsim::FaultPlan& plan = config().faults;
  bool fail = false;
  for (const auto& range : plan.failMessages)
    if (number >= range.first && number <= range.last) fail = true;
  if (plan.failEvery && number % plan.failEvery == 0) fail = true;
  int opcode = first_mosi_byte(segments, txBytes);
  if (SpidevNode.opcodeFailures.size() != plan.failOpcodes.size())
    SpidevNode.opcodeFailures.assign(plan.failOpcodes.size(), 0);
  for (size_t i = 0; i < plan.failOpcodes.size(); ++i) {
    const flashsim::OpcodeFault& entry = plan.failOpcodes[i];
    if (opcode != entry.opcode) continue;
    if (entry.count != 0 && SpidevNode.opcodeFailures[i] >= entry.count) continue;
    SpidevNode.opcodeFailures[i] += 1;
    fail = true;
  }
  return fail ? plan.errorNumber : 0;
}

uint64_t segment_bus_ns(const Segment& s) {
  uint64_t hz = s.speedHz ? s.speedHz : SpidevNode.speedHz;
  if (hz > CONTROLLER_MAX_HZ) hz = CONTROLLER_MAX_HZ;
  uint64_t bits = static_cast<uint64_t>(s.len) * 8u;
  return (bits * 1000000000u + hz - 1) / hz + static_cast<uint64_t>(s.delayUsecs) * 1000u;
}

// Whether the chip sees this message at all.
bool chip_on_bus() {
  return attached_chip() && !chip_absent() &&
         !(SpidevNode.mode & (SPI_CS_HIGH | SPI_NO_CS | SPI_LOOP));
}

void select_chip() {
  if (SpidevNode.selected) return;
  chip_select(attached_chip());
  SpidevNode.selected = true;
  SpidevNode.mosiCarry = 0;
  SpidevNode.misoCarry = 1;
}

// One byte each way. With CPHA != CPOL (modes 1 and 2) chip and controller
// sample on opposite edges: each side sees the other's bits one clock late.
uint8_t exchange(uint8_t mosi) {
  uint8_t phase = SpidevNode.mode & (SPI_CPHA | SPI_CPOL);
  if (phase == 0 || phase == (SPI_CPHA | SPI_CPOL)) return chip_shift(attached_chip(), mosi);
  uint8_t seen = static_cast<uint8_t>((SpidevNode.mosiCarry << 7) | (mosi >> 1));
  SpidevNode.mosiCarry = mosi & 1;
  uint8_t out = chip_shift(attached_chip(), seen);
  uint8_t read = static_cast<uint8_t>((SpidevNode.misoCarry << 7) | (out >> 1));
  SpidevNode.misoCarry = out & 1;
  return read;
}

// Only the buffers the program gave are kept: a transfer without them may be long.
void clock_segment(const Segment& s, const std::vector<uint8_t>& txBytes,
                   std::vector<uint8_t>* rxBytes) {
  rxBytes->assign(s.rx ? s.len : 0, 0);
  auto mosi = [&](uint32_t i) { return txBytes.empty() ? uint8_t{0} : txBytes[i]; };
  if (SpidevNode.mode & SPI_LOOP) {
    for (uint32_t i = 0; s.rx && i < s.len; ++i) (*rxBytes)[i] = mosi(i);
    return;
  }
  if (!chip_on_bus()) {
    // Nobody drives MISO: it floats to the pull-up, or to what --absent says.
    int level = chip_absent() ? config().faults.absentLevel : 0xFF;
    rxBytes->assign(rxBytes->size(), static_cast<uint8_t>(level));
    return;
  }
  select_chip();
  for (uint32_t i = 0; i < s.len; ++i) {
    uint8_t miso = exchange(mosi(i));
    if (s.rx) (*rxBytes)[i] = miso;
  }
}

std::string message_trace(size_t count, int failure, const std::vector<Segment>& segments,
                          const std::vector<std::vector<uint8_t>>& txBytes,
                          const std::vector<std::vector<uint8_t>>& rxBytes) {
  std::string text = "msg " + std::to_string(count) +
                     (failure ? " fail " + flashsim::errno_name(failure) : " ok") + "\n";
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    text += "  seg " + std::to_string(s.len);
    if (s.len > 0 && s.tx && txBytes[i].size() == s.len) {
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
  if (attached_chip()) chip_power_cut(attached_chip());
  flush_counters();
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

}  // namespace

void deselect_chip() {
  if (!SpidevNode.selected) return;
  chip_deselect(attached_chip());
  SpidevNode.selected = false;
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
  uint64_t number = ++SpidevNode.messageCount;
  carry_node();
  flashsim::RunCounters& counters = pending_counters();
  counters.messages += 1;
  if (count == 0) {
    // spidev returns before the controller is involved: a selection held stays held.
    trace_write("msg 0 ok\n");
    return 0;
  }
  std::vector<Segment> segments;
  if (!read_segments(arg, count, &segments)) {
    // The transfer array cannot be read, so there are no segments to show.
    counters.failedMessages += 1;
    trace_write("msg " + std::to_string(count) + " fail EFAULT\n");
    return finish(EFAULT);
  }
  std::vector<std::vector<uint8_t>> txBytes(count), rxBytes(count);
  int failure = take_transfers(segments, &txBytes);
  if (failure == 0) failure = validate_message(segments);
  if (failure == 0) failure = planned_failure(number, segments, txBytes);
  if (failure == 0 && !chip_absent() && !attached_chip()) {
    // A descriptor inherited across fork or exec: this process attaches now.
    std::string error;
    if (!attach_chip(&error)) {
      std::fprintf(stderr, "libflashsim: cannot attach the chip: %s\n", error.c_str());
      failure = ENODEV;
    }
  }

  const Config& cfg = config();
  uint64_t startWall = 0;
  if (cfg.realtime) {
    startWall = real_monotonic_ns();
    realtime_sync();
  }
  uint64_t busNs = cfg.overheadNs;
  device_advance(cfg.overheadNs, Advance::BUS);
  long total = 0;
  if (!failure) {
    for (size_t i = 0; i < count; ++i) {
      const Segment& s = segments[i];
      clock_segment(s, txBytes[i], &rxBytes[i]);
      uint64_t ns = segment_bus_ns(s);
      busNs += ns;
      device_advance(ns, Advance::BUS);
      bool last = i + 1 == count;
      if (s.csChange && !last && attached_chip()) deselect_chip();
      total += s.len;
      if (s.tx) counters.bytesTx += s.len;
    }
    // cs_change on the last transfer keeps the chip selected into the next message.
    if (attached_chip() && !segments.back().csChange) deselect_chip();
    // As spidev copies the replies out: the chip has acted even when one cannot be delivered.
    for (size_t i = 0; i < count && !failure; ++i) {
      if (!segments[i].rx || !segments[i].len) continue;
      if (copy_to_program(segments[i].rx, rxBytes[i].data(), segments[i].len))
        counters.bytesRx += segments[i].len;
      else
        failure = EFAULT;
    }
  }
  if (failure) counters.failedMessages += 1;
  counters.busNs += busNs;
  // Traced before the wait: a program killed while it waits has had its message carried out.
  if (tracing()) trace_write(message_trace(count, failure, segments, txBytes, rxBytes));
  if (cfg.realtime) {
    wait_until_monotonic_ns(startWall + busNs);
    realtime_sync();
  }
  if (cfg.faults.powerCutAfter == number) cut_power();
  return failure ? finish(failure) : static_cast<int>(total);
}

}  // namespace shim
