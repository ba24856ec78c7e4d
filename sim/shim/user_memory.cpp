// SPDX-License-Identifier: MIT
// Copies between the program's buffers and the library's, as spidev's
// copy_from_user and copy_to_user do: an address the program cannot read or
// write is EFAULT for the request, never a crash of the program.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "shim.h"

namespace shim {

namespace {

// Where the calls are missing (qemu-user has neither), the bytes go through a pipe of the
// process's own: write() reads the source and read() writes the destination, and either
// reports EFAULT for an address the program does not have. One pipe per process: a forked
// child makes its own rather than share the parent's.
int ProbePipe[2] = {-1, -1};
pid_t ProbeOwner = 0;

bool probe_pipe() {
  if (ProbePipe[0] >= 0 && ProbeOwner == getpid()) return true;
  if (ProbePipe[0] >= 0) real_close(ProbePipe[0]), real_close(ProbePipe[1]);
  ProbePipe[0] = ProbePipe[1] = -1;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  ProbePipe[0] = move_fd_high(ends[0]);
  ProbePipe[1] = move_fd_high(ends[1]);
  ProbeOwner = getpid();
  return true;
}

bool pipe_copy(void* to, const void* from, size_t n) {
  if (!probe_pipe()) return false;
  char scratch[4096];
  for (size_t done = 0; done < n;) {
    size_t chunk = std::min(n - done, sizeof scratch);
    ssize_t in = write(ProbePipe[1], static_cast<const char*>(from) + done, chunk);
    if (in <= 0) return false;
    ssize_t out = read(ProbePipe[0], static_cast<char*>(to) + done, size_t(in));
    if (out != in) {
      // Whatever could not be delivered is taken out, so the next copy starts clean.
      while (read(ProbePipe[0], scratch, size_t(in - (out > 0 ? out : 0))) < 0 && errno == EINTR) {
      }
      return false;
    }
    if (size_t(in) != chunk) return false;
    done += chunk;
  }
  return true;
}

// The kernel checks every page for this process as it would for a debugger.
bool vm_copy(void* local, const void* remote, size_t n, bool toRemote) {
  if (n == 0) return true;
  struct iovec mine = {local, n};
  struct iovec theirs = {const_cast<void*>(remote), n};
  int saved = errno;
  ssize_t done = toRemote ? process_vm_writev(getpid(), &mine, 1, &theirs, 1, 0)
                          : process_vm_readv(getpid(), &mine, 1, &theirs, 1, 0);
  bool unsupported = done < 0 && errno == ENOSYS;
  bool copied = unsupported ? (toRemote ? pipe_copy(const_cast<void*>(remote), local, n)
                                        : pipe_copy(local, remote, n))
                            : done == static_cast<ssize_t>(n);
  errno = saved;
  return copied;
}

}  // namespace

bool copy_from_program(void* to, const void* from, size_t n) { return vm_copy(to, from, n, false); }

bool copy_to_program(void* to, const void* from, size_t n) {
  return vm_copy(const_cast<void*>(from), to, n, true);
}

}  // namespace shim
