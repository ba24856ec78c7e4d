// SPDX-License-Identifier: MIT
// The simulated spidev node: what the kernel's spidev driver and one SPI
// controller would do with the requests, in front of the chip model.
//
// Controller choices (a real controller would have its own):
//   - mode bits CPHA, CPOL, CS_HIGH, LOOP and NO_CS are accepted; LSB_FIRST,
//     3WIRE, READY and the dual/quad/octal/word bits fail WR_MODE with EINVAL;
//   - 8 bits per word only (0 means 8, as in the kernel);
//   - clock capped at 50 MHz, a transfer's speed_hz overrides the device's;
//   - bufsiz bounds the tx total and the rx total of a message separately.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <limits.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "node.h"
#include "shim.h"

namespace shim {

Node SpidevNode;

namespace {

// fd + 1 of every descriptor standing for the device, 0 when free; read
// without the lock by close(), which is called for every descriptor there is.
std::atomic<int> DeviceFds[MAX_DEVICE_FDS];

void forget_fd(int fd) {
  for (auto& slot : DeviceFds) {
    int expected = fd + 1;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

bool remember_fd(int fd) {
  for (auto& slot : DeviceFds) {
    int expected = 0;
    if (slot.compare_exchange_strong(expected, fd + 1)) return true;
  }
  return false;
}

// The path as the kernel resolves it, lexically: the device's directory need not exist.
std::string normal_path(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t pos = 0, end; pos <= path.size(); pos = end + 1) {
    end = std::min(path.find('/', pos), path.size());
    std::string part = path.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

// The directory a relative path starts from.
std::string start_directory(int dirfd) {
  char dir[PATH_MAX];
  if (dirfd == AT_FDCWD) return ::getcwd(dir, sizeof dir) ? dir : "";
  std::string link = "/proc/self/fd/" + std::to_string(dirfd);
  ssize_t n = ::readlink(link.c_str(), dir, sizeof dir - 1);
  return n > 0 ? std::string(dir, size_t(n)) : "";
}

void let_go_of_device() {
  if (config().realtime) realtime_sync();
  if (attached_chip()) {
    deselect_chip();
    detach_chip();
  }
  SpidevNode.speedHz = CONTROLLER_MAX_HZ;
  flush_counters();
}

}  // namespace

bool is_device_path(int dirfd, const char* path) {
  if (!path) return false;
  const Config* cfg = config_if_ready();
  if (!cfg) return false;
  if (cfg->device == path) return true;
  // Only a path ending in the device's name can be another spelling of it.
  const std::string& device = cfg->device;
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  size_t slash = device.rfind('/');
  if (device[0] != '/' || device.compare(slash + 1, std::string::npos, name) != 0) return false;
  std::string full = path[0] == '/' ? path : start_directory(dirfd) + "/" + path;
  return normal_path(full) == normal_path(device);
}

bool is_device_fd(int fd) {
  // A program that was exec'd takes on its inherited descriptors when the library first looks.
  if (fd < 0 || !config_if_ready()) return false;
  for (const auto& slot : DeviceFds)
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
  if (SpidevNode.openCount == 0) {
    std::string error;
    if (!load_settings(&error)) {
      std::fprintf(stderr, "libflashsim: %s\n", error.c_str());
      trace_write(std::string("open ") + path + " fail EINVAL\n");
      return finish(EINVAL);
    }
    if (!chip_absent()) {
      if (!attach_chip(&error)) {
        std::fprintf(stderr, "libflashsim: cannot attach the chip: %s\n", error.c_str());
        trace_write(std::string("open ") + path + " fail ENODEV\n");
        return finish(ENODEV);
      }
    }
  }
  // A real descriptor keeps the number unique and makes fstat/dup/poll harmless.
  int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
  if (fd < 0 || !remember_fd(fd)) {
    int failure = fd < 0 ? errno : EMFILE;
    if (fd >= 0) real_close(fd);
    if (SpidevNode.openCount == 0) let_go_of_device();
    trace_write(std::string("open ") + path + " fail " + flashsim::errno_name(failure) + "\n");
    return finish(failure);
  }
  SpidevNode.openCount += 1;
  carry_node();
  trace_write(std::string("open ") + path + "\n");
  return fd;
}

int device_close(int fd) {
  Guard guard;
  if (!is_device_fd(fd)) return real_close(fd);
  forget_fd(fd);
  int result = real_close(fd);
  trace_write("close\n");
  SpidevNode.openCount -= 1;
  if (SpidevNode.openCount == 0) let_go_of_device();
  carry_node();
  return result;
}

int device_ioctl(int /*fd*/, unsigned long request, void* arg) {
  Guard guard;
  note_process_active();  // a descriptor inherited through fork counts its new process
  if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
      _IOC_DIR(request) == _IOC_WRITE)
    return handle_message(request, arg);
  if (const flashsim::SetupRequest* req = flashsim::setup_request_for(request))
    return handle_setup(*req, arg);
  if (tracing()) {
    char line[64];
    std::snprintf(line, sizeof line, "ioctl 0x%08lX fail ENOTTY\n", request);
    trace_write(line);
  }
  return finish(ENOTTY);
}

int open_device_fds(int* fds) {
  int count = 0;
  for (const auto& slot : DeviceFds) {
    int value = slot.load(std::memory_order_relaxed);
    if (value > 0) fds[count++] = value - 1;
  }
  for (int i = count; i < MAX_DEVICE_FDS; ++i) fds[i] = -1;
  return count;
}

void adopt_device_fds(const int* fds, int count, uint32_t speedHz) {
  Guard guard;
  for (int i = 0; i < count; ++i)
    if (!is_device_fd(fds[i]) && remember_fd(fds[i])) SpidevNode.openCount += 1;
  if (SpidevNode.openCount > 0 && speedHz != 0) SpidevNode.speedHz = speedHz;
  std::string ignored;  // a damaged settings file is reported at the next open
  if (SpidevNode.openCount > 0) load_settings(&ignored);
}

// Called at exit: a program that never closed the device still leaves the
// chip's registers and the counters behind.
void device_shutdown() {
  Guard guard;
  if (SpidevNode.openCount > 0) {
    SpidevNode.openCount = 0;
    for (auto& slot : DeviceFds) slot.store(0);
    let_go_of_device();
  }
  flush_counters();
}

}  // namespace shim
