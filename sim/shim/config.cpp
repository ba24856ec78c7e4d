// SPDX-License-Identifier: MIT
// Configuration from the environment and the lock.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "parse_number.h"
#include "shim.h"

namespace shim {

namespace {

Config* LoadedConfig = nullptr;
std::atomic<int> ConfigState{0};  // 0 unread, 1 being read, 2 ready
pthread_mutex_t ConfigLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void read_config() {
  // Never freed: the configuration is needed until the very last close/exit.
  Config* cfg = new Config;
  cfg->stateDir = env_text(FLASHSIM_ENV_STATE);
  cfg->device = env_text(FLASHSIM_ENV_DEVICE);
  if (cfg->device.empty()) cfg->device = flashsim::DEFAULT_DEVICE;
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
  LoadedConfig = cfg;
}

pthread_mutex_t ShimLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

}  // namespace

const Config* config_if_ready() {
  if (ConfigState.load(std::memory_order_acquire) == 2) return LoadedConfig;
  pthread_mutex_lock(&ConfigLock);
  if (ConfigState.load(std::memory_order_relaxed) == 0) {
    ConfigState.store(1, std::memory_order_relaxed);
    read_config();
    ConfigState.store(2, std::memory_order_release);
  }
  pthread_mutex_unlock(&ConfigLock);
  if (ConfigState.load(std::memory_order_acquire) == 2) adopt_inherited_node();
  // Still 1 only on the thread reading it: something called from there (a
  // sanitizer report opening /proc/self/exe, say) came back into a hook.
  return ConfigState.load(std::memory_order_acquire) == 2 ? LoadedConfig : nullptr;
}

const Config& config() {
  const Config* cfg = config_if_ready();
  if (cfg) return *cfg;
  static const Config defaults;
  return defaults;
}

void lock() { pthread_mutex_lock(&ShimLock); }
void unlock() { pthread_mutex_unlock(&ShimLock); }

void reset_lock_after_fork() {
  // Held by the forking thread, whose identity the child's thread does not share.
  pthread_mutex_t fresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  ShimLock = fresh;
}

}  // namespace shim
