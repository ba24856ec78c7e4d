// SPDX-License-Identifier: MIT
// What a process carries across fork and exec, so that the simulated node
// behaves as the kernel's: a forked child shares the open descriptors but
// none of the parent's unsaved state or counters, and a program that execs
// keeps its descriptors (still the device) and its counters.
//
// The node's open descriptors, clock and message count and the counters not
// yet written live in a small memory file without close-on-exec ("carrier"),
// found again by its name under /proc/self/fd when the library is loaded into
// the new program. It is made only once a process uses the device or sleeps,
// and moved above the descriptor numbers programs count on.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "chip_model.h"
#include "node.h"
#include "shim.h"

namespace shim {

namespace {

const char CARRIER_NAME[] = "flashsim-node";
const char CARRIER_MAGIC[8] = {'f', 'l', 's', 'm', 'n', 'o', 'd', '1'};
// The library's own descriptors go from here, out of the way of the numbers programs expect.
constexpr int CARRIER_LOWEST_FD = 100;

struct CarriedNode {
  char magic[8] = {};
  int32_t pid = 0;      // the process it belongs to; another's came through a spawn
  int32_t counted = 0;  // the process is in the counters already
  uint32_t speedHz = 0;
  int32_t fdCount = 0;
  int32_t fds[MAX_DEVICE_FDS] = {};
  uint64_t messageCount = 0;
  flashsim::RunCounters counters;
};

CarriedNode* Carrier = nullptr;
int CarrierFd = -1;
flashsim::RunCounters LocalCounters;  // until there is a carrier
bool ProcessCounted = false;
pthread_once_t AdoptOnce = PTHREAD_ONCE_INIT;

CarriedNode* map_carrier(int fd) {
  void* m = mmap(nullptr, sizeof(CarriedNode), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return m == MAP_FAILED ? nullptr : static_cast<CarriedNode*>(m);
}

void drop_carrier() {
  if (Carrier) munmap(Carrier, sizeof(CarriedNode));
  if (CarrierFd >= 0) real_close(CarrierFd);
  Carrier = nullptr;
  CarrierFd = -1;
}

// Null when the system has no memory files: the process then carries nothing across exec.
CarriedNode* carrier() {
  if (Carrier) return Carrier;
  int fd = move_fd_high(memfd_create(CARRIER_NAME, 0));
  if (fd < 0) return nullptr;
  CarriedNode* node = ftruncate(fd, sizeof(CarriedNode)) == 0 ? map_carrier(fd) : nullptr;
  if (!node) {
    real_close(fd);
    return nullptr;
  }
  *node = CarriedNode();
  std::memcpy(node->magic, CARRIER_MAGIC, sizeof CARRIER_MAGIC);
  node->pid = getpid();
  node->counted = ProcessCounted;
  node->counters = LocalCounters;
  LocalCounters = flashsim::RunCounters();
  Carrier = node, CarrierFd = fd;
  carry_node();
  return Carrier;
}

bool is_null_device(int fd) {
  struct stat sb;
  return fstat(fd, &sb) == 0 && S_ISCHR(sb.st_mode) && sb.st_rdev == makedev(1, 3);
}

// A carrier this process inherited: its own from before an exec, or through a spawn a
// parent's, of which only the descriptors are this process's too.
void adopt(int fd) {
  CarriedNode* node = map_carrier(fd);
  if (!node || std::memcmp(node->magic, CARRIER_MAGIC, sizeof CARRIER_MAGIC) != 0) {
    if (node) munmap(node, sizeof *node);
    return;
  }
  int fds[MAX_DEVICE_FDS], count = 0;
  for (int i = 0; i < node->fdCount && i < MAX_DEVICE_FDS; ++i)
    if (is_null_device(node->fds[i])) fds[count++] = node->fds[i];
  adopt_device_fds(fds, count, node->speedHz);
  if (node->pid != getpid()) {
    munmap(node, sizeof *node);
    real_close(fd);
    return;
  }
  Carrier = node, CarrierFd = fd;
  ProcessCounted = node->counted != 0;
  SpidevNode.messageCount = node->messageCount;
}

void find_inherited_carrier() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  const std::string wanted = std::string("/memfd:") + CARRIER_NAME;
  int found = -1;
  while (struct dirent* entry = readdir(dir)) {
    char target[64];
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)).compare(0, wanted.size(), wanted) == 0)
      found = std::atoi(entry->d_name);
  }
  closedir(dir);
  if (found >= 0) adopt(found);
}

void before_fork() { lock(); }
void parent_after_fork() { unlock(); }

// The child has the parent's descriptors but is a process of its own: what it
// inherited in memory is the parent's to write back, not its.
void child_after_fork() {
  reset_lock_after_fork();
  forget_chip_after_fork();
  SpidevNode.selected = false;
  SpidevNode.messageCount = 0;
  SpidevNode.opcodeFailures.clear();
  LocalCounters = flashsim::RunCounters();
  ProcessCounted = false;
  bool carried = Carrier != nullptr;
  drop_carrier();
  if (carried && SpidevNode.openCount > 0) carrier();
}

void adopt_once() {
  pthread_atfork(before_fork, parent_after_fork, child_after_fork);
  find_inherited_carrier();
}

}  // namespace

int move_fd_high(int fd) {
  if (fd < 0) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, CARRIER_LOWEST_FD);
  if (high < 0) return fd;
  // F_DUPFD_CLOEXEC sets the flag; the original's is what the caller asked for.
  if (!(fcntl(fd, F_GETFD) & FD_CLOEXEC)) fcntl(high, F_SETFD, 0);
  real_close(fd);
  return high;
}

void adopt_inherited_node() { pthread_once(&AdoptOnce, adopt_once); }

void carry_node() {
  if (!Carrier && SpidevNode.openCount > 0) carrier();
  if (!Carrier) return;
  int fds[MAX_DEVICE_FDS];
  int count = open_device_fds(fds);
  Carrier->fdCount = count;
  std::memcpy(Carrier->fds, fds, sizeof fds);
  Carrier->speedHz = SpidevNode.speedHz;
  Carrier->messageCount = SpidevNode.messageCount;
}

flashsim::RunCounters& pending_counters() { return Carrier ? Carrier->counters : LocalCounters; }

void note_process_active() {
  if (ProcessCounted) return;
  ProcessCounted = true;
  pending_counters().processes += 1;
  if (CarriedNode* node = carrier()) node->counted = 1;
}

void flush_counters() {
  Guard guard;
  const Config& cfg = config();
  flashsim::RunCounters& pending = pending_counters();
  if (cfg.stateDir.empty() || pending.empty()) return;
  flashsim::RunCounters delta = pending;
  if (flashsim::update_summary(cfg.stateDir,
                               [&](flashsim::RunCounters* run, flashsim::RunCounters* total) {
                                 flashsim::add_counters(run, delta);
                                 flashsim::add_counters(total, delta);
                               }))
    pending = flashsim::RunCounters();
}

}  // namespace shim
