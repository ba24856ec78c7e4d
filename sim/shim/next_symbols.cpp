// SPDX-License-Identifier: MIT
// The C library's own definitions of everything the library stands in for,
// found behind it with dlsym(RTLD_NEXT, ...) so that a sanitizer's
// interceptors still see the calls.
#include <dlfcn.h>

#include <cerrno>

#include "shim.h"

namespace shim {

namespace {

template <typename Function>
void look_up(Function* slot, const char* name) {
  *slot = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

NextSymbols look_up_all() {
  NextSymbols next{};
  look_up(&next.open, "open");
  look_up(&next.open64, "open64");
  look_up(&next.openat, "openat");
  look_up(&next.openat64, "openat64");
  look_up(&next.open_2, "__open_2");
  look_up(&next.open64_2, "__open64_2");
  look_up(&next.openat_2, "__openat_2");
  look_up(&next.openat64_2, "__openat64_2");
  look_up(&next.fopen, "fopen");
  look_up(&next.fopen64, "fopen64");
  look_up(&next.close, "close");
  look_up(&next.ioctl, "ioctl");
  look_up(&next.ioctl_time64, "__ioctl_time64");
  look_up(&next.nanosleep, "nanosleep");
  look_up(&next.clock_nanosleep, "clock_nanosleep");
  look_up(&next.usleep, "usleep");
  look_up(&next.sleep, "sleep");
  look_up(&next.clock_gettime, "clock_gettime");
#if __SIZEOF_LONG__ == 4
  look_up(&next.nanosleep64, "__nanosleep64");
  look_up(&next.clock_nanosleep64, "__clock_nanosleep_time64");
  look_up(&next.clock_gettime64, "__clock_gettime64");
#endif
  return next;
}

}  // namespace

int missing() {
  errno = ENOSYS;
  return -1;
}

const NextSymbols& next_symbols() {
  static const NextSymbols symbols = look_up_all();
  return symbols;
}

int real_open(const char* path, int flags, unsigned mode) {
  auto next = next_symbols().open;
  return next ? next(path, flags, mode) : missing();
}

int real_close(int fd) {
  auto next = next_symbols().close;
  return next ? next(fd) : missing();
}

int real_ioctl(int fd, unsigned long request, void* arg) {
  auto next = next_symbols().ioctl;
  return next ? next(fd, request, arg) : missing();
}

int real_nanosleep(uint64_t ns) {
  auto next = next_symbols().nanosleep;
  if (!next) return missing();
  struct timespec want;
  want.tv_sec = static_cast<time_t>(ns / 1000000000u);
  want.tv_nsec = static_cast<long>(ns % 1000000000u);
  struct timespec left;
  while (next(&want, &left) != 0) {
    if (errno != EINTR) return -1;
    want = left;
  }
  return 0;
}

uint64_t real_monotonic_ns() {
  // The vDSO call inside libc, not the program-facing clock_gettime this
  // library may be answering with device time.
  struct timespec now;
  auto next = next_symbols().clock_gettime;
  if (!next || next(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace shim
