// Internals of libflashsim.so shared between its source files.
#pragma once
#include <cstdint>
#include <string>

#include "environment.h"
#include "fault_plan.h"
#include "run_summary.h"

namespace shim {

struct Config {
  std::string stateDir;  // empty: no chip to attach (only useful with --absent)
  std::string device;
  std::string tracePath;  // empty: no trace
  bool realtime = false;
  uint32_t bufsiz = flashsim::kDefaultBufsiz;
  uint64_t overheadNs = flashsim::kDefaultOverheadNs;
  flashsim::FaultPlan faults;
  std::string configError;  // set when the environment could not be understood
};

// Read from the environment once, on first use, never from a constructor:
// the host program's allocator may not be ready while libraries load.
const Config& config();
// Null while this very thread is still reading it: a hook entered from there
// must not treat anything as the device.
const Config* config_if_ready();

// The next definitions of what the library overrides (libc, or a sanitizer's
// interceptor in front of it).
int real_open(const char* path, int flags, unsigned mode);
int real_close(int fd);
int real_ioctl(int fd, unsigned long request, void* arg);
int real_nanosleep(uint64_t ns);
uint64_t real_monotonic_ns();

// Serialises everything below; recursive, since a sleep may attach the chip.
void lock();
void unlock();
struct Guard {
  Guard() { lock(); }
  ~Guard() { unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

// Trace file, one event per line; `event` carries its own line ends.
bool tracing();
void trace_write(const std::string& event);
void hex_append(std::string* out, const uint8_t* bytes, size_t count);

// The spidev node.
bool is_device_path(const char* path);
bool is_device_fd(int fd);
int device_open(int flags);
int device_close(int fd);
int device_ioctl(int fd, unsigned long request, void* arg);

void device_shutdown();  // at exit: let go of a device left open, flush the counters

// Device time. In virtual mode every advance goes to the chip if one is
// attached; a sleep attaches it for the moment when the device is closed, so
// an erase finishes while a script sleeps between two programs. In realtime
// mode only wall time moves the chip.
enum class Advance { Bus, Sleep, ClockRead, WallTime };
void device_advance(uint64_t ns, Advance why);
void sleep_requested(uint64_t ns);  // trace and count, then advance in virtual mode
uint64_t virtual_monotonic_ns();    // what the program's monotonic clocks read
void realtime_sync();               // realtime mode: bring the chip up to wall time

bool chip_attached();
bool chip_time_advance(uint64_t ns, bool attachIfClosed);  // false when no chip moved
uint64_t& realtime_anchor();  // wall time the attached chip has been brought to

// Counters not yet added to the state's summary file.
flashsim::RunCounters& pending_counters();
void note_process_active();
void flush_counters();

}  // namespace shim
