// Configuration from the environment, the lock, the next-in-line libc
// functions and the counters kept for `flashsim summary`.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "shim.h"

namespace shim {

namespace {

Config* g_config = nullptr;
std::atomic<int> g_configState{0};  // 0 unread, 1 being read, 2 ready
pthread_mutex_t g_configLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void read_config() {
  // Never freed: the configuration is needed until the very last close/exit.
  Config* cfg = new Config;
  cfg->stateDir = env_text(FLASHSIM_ENV_STATE);
  cfg->device = env_text(FLASHSIM_ENV_DEVICE);
  if (cfg->device.empty()) cfg->device = flashsim::kDefaultDevice;
  cfg->tracePath = env_text(FLASHSIM_ENV_TRACE);
  std::string realtime = env_text(FLASHSIM_ENV_REALTIME);
  cfg->realtime = !realtime.empty() && realtime != "0";
  uint64_t number = 0;
  std::string text = env_text(FLASHSIM_ENV_BUFSIZ);
  if (!text.empty()) {
    if (flashsim::parse_number(text, &number) && number > 0 && number <= 0x7FFFFFFF)
      cfg->bufsiz = static_cast<uint32_t>(number);
    else
      cfg->configError = FLASHSIM_ENV_BUFSIZ " is not a size: " + text;
  }
  text = env_text(FLASHSIM_ENV_OVERHEAD);
  if (!text.empty()) {
    if (flashsim::parse_number(text, &number))
      cfg->overheadNs = number;
    else
      cfg->configError = FLASHSIM_ENV_OVERHEAD " is not a number: " + text;
  }
  std::string error;
  if (!flashsim::parse_fault_plan(env_text(FLASHSIM_ENV_FAULTS), &cfg->faults, &error))
    cfg->configError = FLASHSIM_ENV_FAULTS ": " + error;
  g_config = cfg;
}

pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

template <typename Function>
Function next_symbol(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

flashsim::RunCounters g_pending;
bool g_processCounted = false;

}  // namespace

const Config* config_if_ready() {
  if (g_configState.load(std::memory_order_acquire) == 2) return g_config;
  pthread_mutex_lock(&g_configLock);
  if (g_configState.load(std::memory_order_relaxed) == 0) {
    g_configState.store(1, std::memory_order_relaxed);
    read_config();
    g_configState.store(2, std::memory_order_release);
  }
  pthread_mutex_unlock(&g_configLock);
  // Still 1 only on the thread reading it: something called from there (a
  // sanitizer report opening /proc/self/exe, say) came back into a hook.
  return g_configState.load(std::memory_order_acquire) == 2 ? g_config : nullptr;
}

const Config& config() {
  const Config* cfg = config_if_ready();
  if (cfg) return *cfg;
  static const Config defaults;
  return defaults;
}

void lock() { pthread_mutex_lock(&g_lock); }
void unlock() { pthread_mutex_unlock(&g_lock); }

int real_open(const char* path, int flags, unsigned mode) {
  using OpenFunction = int (*)(const char*, int, ...);
  static OpenFunction next = next_symbol<OpenFunction>("open");
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  return next(path, flags, mode);
}

int real_close(int fd) {
  using CloseFunction = int (*)(int);
  static CloseFunction next = next_symbol<CloseFunction>("close");
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd);
}

int real_ioctl(int fd, unsigned long request, void* arg) {
  using IoctlFunction = int (*)(int, unsigned long, ...);
  static IoctlFunction next = next_symbol<IoctlFunction>("ioctl");
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd, request, arg);
}

int real_nanosleep(uint64_t ns) {
  using SleepFunction = int (*)(const struct timespec*, struct timespec*);
  static SleepFunction next = next_symbol<SleepFunction>("nanosleep");
  struct timespec want;
  want.tv_sec = static_cast<time_t>(ns / 1000000000u);
  want.tv_nsec = static_cast<long>(ns % 1000000000u);
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
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
  using ClockFunction = int (*)(clockid_t, struct timespec*);
  static ClockFunction next = next_symbol<ClockFunction>("clock_gettime");
  if (!next || next(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

flashsim::RunCounters& pending_counters() { return g_pending; }

void note_process_active() {
  if (g_processCounted) return;
  g_processCounted = true;
  g_pending.processes += 1;
}

void flush_counters() {
  Guard guard;
  const Config& cfg = config();
  if (cfg.stateDir.empty() || g_pending.empty()) return;
  flashsim::RunCounters delta = g_pending;
  if (flashsim::update_summary(cfg.stateDir, [&](flashsim::RunCounters* run, flashsim::RunCounters* total) {
        flashsim::add_counters(run, delta);
        flashsim::add_counters(total, delta);
      }))
    g_pending = flashsim::RunCounters();
}

}  // namespace shim
