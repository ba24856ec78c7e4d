// SPDX-License-Identifier: MIT
// The functions libflashsim.so puts in front of the C library. Each is
// declared under a private C++ name with an assembler label: the C headers may
// redirect `open` to `open64` or wrap it for fortification, and the exported
// symbol must be exactly the one a program calls.
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "shim.h"

#define FLASHSIM_EXPORT(symbol) __asm__(symbol) __attribute__((visibility("default")))

extern "C" {
int flashsim_open(const char* path, int flags, ...) FLASHSIM_EXPORT("open");
int flashsim_open64(const char* path, int flags, ...) FLASHSIM_EXPORT("open64");
int flashsim_openat(int dirfd, const char* path, int flags, ...) FLASHSIM_EXPORT("openat");
int flashsim_openat64(int dirfd, const char* path, int flags, ...) FLASHSIM_EXPORT("openat64");
int flashsim_open_2(const char* path, int flags) FLASHSIM_EXPORT("__open_2");
int flashsim_open64_2(const char* path, int flags) FLASHSIM_EXPORT("__open64_2");
int flashsim_openat_2(int dirfd, const char* path, int flags) FLASHSIM_EXPORT("__openat_2");
int flashsim_openat64_2(int dirfd, const char* path, int flags) FLASHSIM_EXPORT("__openat64_2");
FILE* flashsim_fopen(const char* path, const char* mode) FLASHSIM_EXPORT("fopen");
FILE* flashsim_fopen64(const char* path, const char* mode) FLASHSIM_EXPORT("fopen64");
int flashsim_close(int fd) FLASHSIM_EXPORT("close");
int flashsim_ioctl(int fd, unsigned long request, ...) FLASHSIM_EXPORT("ioctl");
int flashsim_ioctl_time64(int fd, unsigned long request, ...) FLASHSIM_EXPORT("__ioctl_time64");
int flashsim_nanosleep(const struct timespec* want, struct timespec* left)
    FLASHSIM_EXPORT("nanosleep");
int flashsim_clock_nanosleep(clockid_t clock, int flags, const struct timespec* want,
                             struct timespec* left) FLASHSIM_EXPORT("clock_nanosleep");
int flashsim_usleep(useconds_t usec) FLASHSIM_EXPORT("usleep");
unsigned flashsim_sleep(unsigned seconds) FLASHSIM_EXPORT("sleep");
int flashsim_clock_gettime(clockid_t clock, struct timespec* now) FLASHSIM_EXPORT("clock_gettime");
}

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using Open2Function = int (*)(const char*, int);
using FopenFunction = FILE* (*)(const char*, const char*);

const shim::NextSymbols& next() { return shim::next_symbols(); }

bool takes_mode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

// spidev's message size limit, as flashrom reads it; answered with the
// configured bufsiz whether or not the host has the module.
bool is_bufsiz_file(const char* path) {
  return path && std::strcmp(path, flashsim::BUFSIZ_SYSFS_PATH) == 0 && shim::config_if_ready();
}

std::string bufsiz_text() { return std::to_string(shim::config().bufsiz) + "\n"; }

int open_bufsiz_file(int flags) {
  int fd = memfd_create("spidev-bufsiz", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
  if (fd < 0) return -1;
  std::string text = bufsiz_text();
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    shim::real_close(fd);
    errno = EIO;
    return -1;
  }
  return fd;
}

// What every open variant checks before handing the call on; -2 when the
// path is not ours.
int claim_path(int dirfd, const char* path, int flags) {
  if (!path) return -2;
  if (shim::is_device_path(dirfd, path)) return shim::device_open(flags);
  if (is_bufsiz_file(path) && (flags & O_ACCMODE) == O_RDONLY) return open_bufsiz_file(flags);
  return -2;
}

FILE* claim_stream(const char* path, const char* mode) {
  if (!is_bufsiz_file(path) || !mode || mode[0] != 'r' || std::strchr(mode, '+')) return nullptr;
  // fmemopen reads from the buffer it is given: one per process is plenty.
  static char text[24];
  std::string value = bufsiz_text();
  std::snprintf(text, sizeof text, "%s", value.c_str());
  return fmemopen(text, std::strlen(text), "r");
}

// Saturating: a span past 584 years is as long as any.
uint64_t to_ns(int64_t seconds, long nanoseconds) {
  const uint64_t most = UINT64_MAX / 1000000000u - 1;
  if (static_cast<uint64_t>(seconds) > most) return UINT64_MAX;
  return static_cast<uint64_t>(seconds) * 1000000000u + static_cast<uint64_t>(nanoseconds);
}

// Both kinds of timespec a program may hand in: its own and, on 32-bit targets,
// glibc's 64-bit one.
bool valid_time(const struct timespec* t) {
  return t && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < 1000000000L;
}
uint64_t span_ns(const struct timespec& t) { return to_ns(t.tv_sec, t.tv_nsec); }
void set_time(struct timespec* t, uint64_t ns) {
  t->tv_sec = static_cast<time_t>(ns / 1000000000u);
  t->tv_nsec = static_cast<long>(ns % 1000000000u);
}
#if __SIZEOF_LONG__ == 4
using shim::Timespec64;
bool valid_time(const Timespec64* t) {
  return t && t->seconds >= 0 && t->nanoseconds >= 0 && t->nanoseconds < 1000000000L;
}
uint64_t span_ns(const Timespec64& t) { return to_ns(t.seconds, t.nanoseconds); }
void set_time(Timespec64* t, uint64_t ns) {
  t->seconds = static_cast<int64_t>(ns / 1000000000u);
  t->padding = 0;
  t->nanoseconds = static_cast<int32_t>(ns % 1000000000u);
}
#endif

bool virtual_clock(clockid_t clock) {
  if (shim::config().realtime) return false;
  return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
         clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME;
}

// Nanoseconds until an absolute deadline on `clock`.
uint64_t until(clockid_t clock, uint64_t deadline) {
  uint64_t now = 0;
  if (virtual_clock(clock)) {
    now = shim::virtual_monotonic_ns();
  } else {
    auto real = next().clock_gettime;
    struct timespec current;
    if (real && real(clock, &current) == 0) now = to_ns(current.tv_sec, current.tv_nsec);
  }
  return deadline > now ? deadline - now : 0;
}

// Every sleep: traced and counted; in virtual mode device time moves and the
// call returns at once, in realtime mode `sleep` really sleeps and the chip
// catches up with the wall clock after it.
template <typename Sleep>
auto sleep_ns(uint64_t ns, Sleep sleep) -> decltype(sleep()) {
  shim::sleep_requested(ns);
  if (!shim::config().realtime) return 0;
  auto result = sleep();
  shim::realtime_sync();
  return result;
}

// nanosleep for either timespec. An invalid request goes to the C library,
// which reports it.
template <typename Timespec>
int sleep_for(int (*real)(const Timespec*, Timespec*), const Timespec* want, Timespec* left) {
  auto sleep = [&] { return real ? real(want, left) : shim::missing(); };
  return valid_time(want) ? sleep_ns(span_ns(*want), sleep) : sleep();
}

// clock_nanosleep for either timespec; it returns the error rather than setting errno.
template <typename Timespec>
int sleep_on_clock(int (*real)(clockid_t, int, const Timespec*, Timespec*), clockid_t clock,
                   int flags, const Timespec* want, Timespec* left) {
  auto sleep = [&] { return real ? real(clock, flags, want, left) : ENOSYS; };
  if (!valid_time(want)) return sleep();
  uint64_t ns = span_ns(*want);
  return sleep_ns(flags & TIMER_ABSTIME ? until(clock, ns) : ns, sleep);
}

// clock_gettime for either timespec: device time on the monotonic clocks.
template <typename Timespec>
int read_clock(int (*real)(clockid_t, Timespec*), clockid_t clock, Timespec* now) {
  if (now && virtual_clock(clock)) {
    set_time(now, shim::virtual_monotonic_ns());
    return 0;
  }
  return real ? real(clock, now) : shim::missing();
}

}  // namespace

// ---------------------------------------------------------------- opening

// The mode argument is there only when the flags create a file.
#define FLASHSIM_READ_MODE(flags, mode) \
  unsigned mode = 0;                    \
  if (takes_mode(flags)) {              \
    va_list modeArgs;                   \
    va_start(modeArgs, flags);          \
    mode = va_arg(modeArgs, unsigned);  \
    va_end(modeArgs);                   \
  }

namespace {

// Claims the path for the simulator, or hands the call on unchanged to the
// C library's function of that name.
template <typename Real, typename... Rest>
int claim_or_pass(Real real, int dirfd, const char* path, int flags, Rest... rest) {
  int claimed = claim_path(dirfd, path, flags);
  if (claimed != -2) return claimed;
  if (!real) return shim::missing();
  if constexpr (std::is_same_v<Real, OpenFunction> || std::is_same_v<Real, Open2Function>) {
    return real(path, flags, rest...);
  } else {
    return real(dirfd, path, flags, rest...);
  }
}

FILE* claim_stream_or_pass(FopenFunction real, const char* path, const char* mode) {
  if (FILE* claimed = claim_stream(path, mode)) return claimed;
  if (!real) {
    errno = ENOSYS;
    return nullptr;
  }
  return real(path, mode);
}

}  // namespace

int flashsim_open(const char* path, int flags, ...) {
  FLASHSIM_READ_MODE(flags, mode)
  return claim_or_pass(next().open, AT_FDCWD, path, flags, mode);
}

int flashsim_open64(const char* path, int flags, ...) {
  FLASHSIM_READ_MODE(flags, mode)
  return claim_or_pass(next().open64, AT_FDCWD, path, flags, mode);
}

int flashsim_openat(int dirfd, const char* path, int flags, ...) {
  FLASHSIM_READ_MODE(flags, mode)
  return claim_or_pass(next().openat, dirfd, path, flags, mode);
}

int flashsim_openat64(int dirfd, const char* path, int flags, ...) {
  FLASHSIM_READ_MODE(flags, mode)
  return claim_or_pass(next().openat64, dirfd, path, flags, mode);
}

int flashsim_open_2(const char* path, int flags) {
  return claim_or_pass(next().open_2, AT_FDCWD, path, flags);
}

int flashsim_open64_2(const char* path, int flags) {
  return claim_or_pass(next().open64_2, AT_FDCWD, path, flags);
}

int flashsim_openat_2(int dirfd, const char* path, int flags) {
  return claim_or_pass(next().openat_2, dirfd, path, flags);
}

int flashsim_openat64_2(int dirfd, const char* path, int flags) {
  return claim_or_pass(next().openat64_2, dirfd, path, flags);
}

FILE* flashsim_fopen(const char* path, const char* mode) {
  return claim_stream_or_pass(next().fopen, path, mode);
}

FILE* flashsim_fopen64(const char* path, const char* mode) {
  return claim_stream_or_pass(next().fopen64, path, mode);
}

// ---------------------------------------------------------------- the descriptor

int flashsim_close(int fd) {
  if (shim::is_device_fd(fd)) return shim::device_close(fd);
  return shim::real_close(fd);
}

// ioctl's third argument: a pointer, for every request the node answers.
#define FLASHSIM_READ_ARG(last, arg)  \
  va_list argList;                    \
  va_start(argList, last);            \
  void* arg = va_arg(argList, void*); \
  va_end(argList);

namespace {

int device_or_pass(int (*real)(int, unsigned long, ...), int fd, unsigned long request, void* arg) {
  if (shim::is_device_fd(fd)) return shim::device_ioctl(fd, request, arg);
  return real ? real(fd, request, arg) : shim::real_ioctl(fd, request, arg);
}

}  // namespace

int flashsim_ioctl(int fd, unsigned long request, ...) {
  FLASHSIM_READ_ARG(request, arg)
  return device_or_pass(next().ioctl, fd, request, arg);
}

// What a 32-bit program built with 64-bit time_t calls instead of ioctl.
int flashsim_ioctl_time64(int fd, unsigned long request, ...) {
  FLASHSIM_READ_ARG(request, arg)
  return device_or_pass(next().ioctl_time64, fd, request, arg);
}

// ---------------------------------------------------------------- time

int flashsim_nanosleep(const struct timespec* want, struct timespec* left) {
  return sleep_for(next().nanosleep, want, left);
}

int flashsim_clock_nanosleep(clockid_t clock, int flags, const struct timespec* want,
                             struct timespec* left) {
  return sleep_on_clock(next().clock_nanosleep, clock, flags, want, left);
}

// glibc's usleep and sleep reach nanosleep inside the library, past any
// interposer, so they are answered here too.
int flashsim_usleep(useconds_t usec) {
  auto real = next().usleep;
  return sleep_ns(usec * uint64_t{1000}, [&] { return real ? real(usec) : shim::missing(); });
}

unsigned flashsim_sleep(unsigned seconds) {
  auto real = next().sleep;
  return sleep_ns(seconds * uint64_t{1000000000}, [&] { return real ? real(seconds) : 0u; });
}

int flashsim_clock_gettime(clockid_t clock, struct timespec* now) {
  return read_clock(next().clock_gettime, clock, now);
}

// ---------------------------------------------------------------- 64-bit time on 32-bit targets

#if __SIZEOF_LONG__ == 4
extern "C" {
int flashsim_nanosleep64(const Timespec64* want, Timespec64* left) FLASHSIM_EXPORT("__nanosleep64");
int flashsim_clock_nanosleep64(clockid_t clock, int flags, const Timespec64* want, Timespec64* left)
    FLASHSIM_EXPORT("__clock_nanosleep_time64");
int flashsim_clock_gettime64(clockid_t clock, Timespec64* now) FLASHSIM_EXPORT("__clock_gettime64");
}

int flashsim_nanosleep64(const Timespec64* want, Timespec64* left) {
  return sleep_for(next().nanosleep64, want, left);
}

int flashsim_clock_nanosleep64(clockid_t clock, int flags, const Timespec64* want,
                               Timespec64* left) {
  return sleep_on_clock(next().clock_nanosleep64, clock, flags, want, left);
}

int flashsim_clock_gettime64(clockid_t clock, Timespec64* now) {
  return read_clock(next().clock_gettime64, clock, now);
}
#endif

// ---------------------------------------------------------------- exit

// Nothing happens at load time; at unload a device still open is let go of,
// so registers and counters survive a program that exits without closing.
__attribute__((destructor)) static void flashsim_unload() { shim::device_shutdown(); }
