// SPDX-License-Identifier: MIT
// Internals of libflashsim.so shared between its source files.
#pragma once
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "environment.h"
#include "fault_plan.h"
#include "run_summary.h"

struct ChipState;

namespace shim {

struct Config {
  std::string stateDir;  // empty: no chip to attach (only useful with --absent)
  std::string device;
  std::string tracePath;  // empty: no trace
  bool realtime = false;
  uint32_t bufsiz = flashsim::DEFAULT_BUFSIZ;
  uint64_t overheadNs = flashsim::DEFAULT_OVERHEAD_NS;
  flashsim::FaultPlan faults;
  std::string configError;  // set when the environment could not be understood
};

// Read from the environment once, on first use, never from a constructor:
// the host program's allocator may not be ready while libraries load.
const Config& config();
// Null while this very thread is still reading it: a hook entered from there
// must not treat anything as the device.
const Config* config_if_ready();

#if __SIZEOF_LONG__ == 4
// glibc's struct __timespec64: 64-bit seconds, 32-bit nanoseconds padded on
// the side the byte order puts first.
struct Timespec64 {
  int64_t seconds;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  int32_t padding;
  int32_t nanoseconds;
#else
  int32_t nanoseconds;
  int32_t padding;
#endif
};
#endif

// The next definitions of what the library overrides (libc, or a sanitizer's
// interceptor in front of it), looked up once, all together, on first use
// (next_symbols.cpp). A null entry is a function the C library lacks.
struct NextSymbols {
  int (*open)(const char*, int, ...);
  int (*open64)(const char*, int, ...);
  int (*openat)(int, const char*, int, ...);
  int (*openat64)(int, const char*, int, ...);
  int (*open_2)(const char*, int);
  int (*open64_2)(const char*, int);
  int (*openat_2)(int, const char*, int);
  int (*openat64_2)(int, const char*, int);
  FILE* (*fopen)(const char*, const char*);
  FILE* (*fopen64)(const char*, const char*);
  int (*close)(int);
  int (*ioctl)(int, unsigned long, ...);
  int (*ioctl_time64)(int, unsigned long, ...);
  int (*nanosleep)(const struct timespec*, struct timespec*);
  int (*clock_nanosleep)(clockid_t, int, const struct timespec*, struct timespec*);
  int (*usleep)(useconds_t);
  unsigned (*sleep)(unsigned);
  int (*clock_gettime)(clockid_t, struct timespec*);
#if __SIZEOF_LONG__ == 4
  int (*nanosleep64)(const Timespec64*, Timespec64*);
  int (*clock_nanosleep64)(clockid_t, int, const Timespec64*, Timespec64*);
  int (*clock_gettime64)(clockid_t, Timespec64*);
#endif
};
const NextSymbols& next_symbols();

// What a call of a function the C library lacks returns: -1, errno ENOSYS.
int missing();

// The library's own calls through them; ENOSYS when the C library has none.
int real_open(const char* path, int flags, unsigned mode);
int real_close(int fd);
int real_ioctl(int fd, unsigned long request, void* arg);
int real_nanosleep(uint64_t ns);
uint64_t real_monotonic_ns();
// Returns when the real monotonic clock reaches `deadline`, overshooting by
// nanoseconds rather than a sleep's tens of microseconds.
void wait_until_monotonic_ns(uint64_t deadline);

// The program's memory as spidev reaches it: false (EFAULT) where it cannot be read or
// written (user_memory.cpp).
bool copy_from_program(void* to, const void* from, size_t n);
bool copy_to_program(void* to, const void* from, size_t n);

// Serialises everything below; recursive, since a sleep may attach the chip.
void lock();
void unlock();
void reset_lock_after_fork();
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
bool is_device_path(int dirfd, const char* path);  // any spelling of the configured path
bool is_device_fd(int fd);
int device_open(int flags);
int device_close(int fd);
int device_ioctl(int fd, unsigned long request, void* arg);

void device_shutdown();  // at exit: let go of a device left open, flush the counters

// Device time (device_clock.cpp). In virtual mode every advance goes to the chip if one is
// attached; a sleep attaches it for the moment when the device is closed, so
// an erase finishes while a script sleeps between two programs. In realtime
// mode only wall time moves the chip.
enum class Advance { BUS, SLEEP, CLOCK_READ, WALL_TIME };
void device_advance(uint64_t ns, Advance why);
void sleep_requested(uint64_t ns);  // trace and count, then advance in virtual mode
uint64_t virtual_monotonic_ns();    // what the program's monotonic clocks read
void realtime_sync();               // realtime mode: bring the chip up to wall time

// The chip the node has attached while the device is open; device time
// reaches it from here, and a sleep with the device closed attaches it for
// the moment.
bool chip_absent();  // --absent: nobody answers on the bus
bool attach_chip(std::string* error);
void detach_chip();
ChipState* attached_chip();  // null when none

// Counters not yet added to the state's summary file (process_lineage.cpp).
flashsim::RunCounters& pending_counters();
void note_process_active();
void flush_counters();

// Across fork and exec (process_lineage.cpp): the node as a program that was exec'd finds
// it again, once, when the configuration is first read; carry_node() keeps the record up
// to date after every change of the node.
void adopt_inherited_node();
void carry_node();
void forget_chip_after_fork();  // the inherited chip let go of, unwritten
int move_fd_high(int fd);       // the library's own descriptors, above those programs count on

}  // namespace shim
