// SPDX-License-Identifier: MIT
// Copies between the program's buffers and the library's, as spidev's
// copy_from_user and copy_to_user do: an address the program cannot read or
// write is EFAULT for the request, never a crash of the program.
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shim.h"

namespace shim {

namespace {

// The kernel checks every page for this process as it would for a debugger; an
// emulator without the call falls back to a plain copy.
bool vm_copy(void* local, const void* remote, size_t n, bool toRemote) {
  if (n == 0) return true;
  struct iovec mine = {local, n};
  struct iovec theirs = {const_cast<void*>(remote), n};
  int saved = errno;
  ssize_t done = toRemote ? process_vm_writev(getpid(), &mine, 1, &theirs, 1, 0)
                          : process_vm_readv(getpid(), &mine, 1, &theirs, 1, 0);
  bool unsupported = done < 0 && errno == ENOSYS;
  errno = saved;
  if (unsupported) {
    if (toRemote)
      std::memcpy(const_cast<void*>(remote), local, n);
    else
      std::memcpy(local, remote, n);
    return true;
  }
  return done == static_cast<ssize_t>(n);
}

}  // namespace

bool copy_from_program(void* to, const void* from, size_t n) { return vm_copy(to, from, n, false); }

bool copy_to_program(void* to, const void* from, size_t n) {
  return vm_copy(const_cast<void*>(from), to, n, true);
}

}  // namespace shim
