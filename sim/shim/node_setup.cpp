// SPDX-License-Identifier: MIT
// The node's set-up requests: mode, bit order, word size and clock, and the
// settings file that keeps mode and word size between processes.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "node.h"
#include "shim.h"

namespace shim {

namespace {

using flashsim::SetupRequest;
using Field = flashsim::SetupValue;

std::string settings_path() { return config().stateDir + "/" + flashsim::SETTINGS_FILE_NAME; }

void save_settings() {
  if (config().stateDir.empty()) return;
  std::string text = flashsim::node_settings_text(SpidevNode.mode, SpidevNode.bits);
  int fd = real_open(settings_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  real_close(fd);
  // Settings that could not be kept revert to their defaults next time, not to half a file.
  if (!written) ::unlink(settings_path().c_str());
}

void trace_setup(const char* name, const std::string& value, int failure) {
  if (!tracing()) return;
  std::string line = std::string("ioctl ") + name + " " + value;
  line += failure ? " fail " + flashsim::errno_name(failure) + "\n" : " ok\n";
  trace_write(line);
}

std::string hex_value(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

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
    case Field::MODE8:
      return SpidevNode.mode & 0xFF;
    case Field::MODE32:
      return SpidevNode.mode;
    case Field::LSB_FIRST:
      return (SpidevNode.mode & SPI_LSB_FIRST) ? 1 : 0;
    case Field::BITS:
      return SpidevNode.bits;
    case Field::SPEED:
      return SpidevNode.speedHz;
  }
  return 0;
}

// 0 when accepted, else the errno the driver returns.
int store_field(Field field, uint32_t value) {
  switch (field) {
    case Field::MODE8:
    case Field::MODE32:
      if (value & ~flashsim::NODE_MODE_BITS) return EINVAL;
      SpidevNode.mode = value;
      save_settings();
      return 0;
    case Field::LSB_FIRST:
      return value ? EINVAL : 0;
    case Field::BITS:
      if (value != 0 && value != 8) return EINVAL;
      SpidevNode.bits = 8;
      save_settings();
      return 0;
    case Field::SPEED:
      if (value == 0) return EINVAL;
      SpidevNode.speedHz = value;
      return 0;
  }
  return EINVAL;
}

}  // namespace

int finish(int failure) {
  if (failure == 0) return 0;
  errno = failure;
  return -1;
}

// Mode and word size belong to the spi_device and outlive every open, as the
// kernel keeps them; the clock set with WR_MAX_SPEED_HZ lasts until the last
// close, when spidev falls back to the device's maximum.
bool load_settings(std::string* error) {
  if (SpidevNode.settingsLoaded || config().stateDir.empty()) return true;
  int fd = real_open(settings_path().c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0 && errno == ENOENT) return SpidevNode.settingsLoaded = true;  // never set: defaults
  if (fd < 0) return *error = settings_path() + ": " + std::strerror(errno), false;
  char text[128];
  ssize_t got = ::read(fd, text, sizeof text);
  int failure = errno;
  real_close(fd);
  if (got < 0) return *error = settings_path() + ": " + std::strerror(failure), false;
  unsigned bits = 8;
  if (!flashsim::parse_node_settings(settings_path(), std::string(text, got > 0 ? size_t(got) : 0),
                                     &SpidevNode.mode, &bits, error))
    return false;
  SpidevNode.bits = static_cast<uint8_t>(bits);
  return SpidevNode.settingsLoaded = true;
}

int handle_setup(const SetupRequest& req, void* arg) {
  size_t width = req.width;
  if (req.write) {
    if (!arg) {
      trace_setup(req.name, "-", EFAULT);
      return finish(EFAULT);
    }
    uint32_t value = 0;
    uint8_t byte = 0;
    if (!copy_from_program(width == 4 ? static_cast<void*>(&value) : &byte, arg, width)) {
      trace_setup(req.name, "-", EFAULT);
      return finish(EFAULT);
    }
    if (width != 4) value = byte;
    int failure =
        setup_fault_planned(req.name) ? config().faults.errorNumber : store_field(req.value, value);
    trace_setup(req.name, field_text(req, value), failure);
    return finish(failure);
  }
  int failure = !arg ? EFAULT : setup_fault_planned(req.name) ? config().faults.errorNumber : 0;
  if (failure) {
    trace_setup(req.name, "-", failure);
    return finish(failure);
  }
  uint32_t value = field_value(req.value);
  uint8_t byte = static_cast<uint8_t>(value);
  if (!copy_to_program(arg, width == 4 ? static_cast<const void*>(&value) : &byte, width)) {
    trace_setup(req.name, "-", EFAULT);
    return finish(EFAULT);
  }
  trace_setup(req.name, field_text(req, value), 0);
  return 0;
}

}  // namespace shim
