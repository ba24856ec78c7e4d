// SPDX-License-Identifier: MIT
// The trace file: opened once per process in append mode, and every event
// (a message with its segments included) written with a single write(), so
// the lines of several processes never interleave.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "shim.h"

namespace shim {

namespace {

int TraceFd = -1;
bool TraceTried = false;

}  // namespace

bool tracing() { return !config().tracePath.empty(); }

void trace_write(const std::string& event) {
  if (!tracing()) return;
  Guard guard;
  if (!TraceTried) {
    TraceTried = true;
    TraceFd =
        real_open(config().tracePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (TraceFd < 0) return;
  int savedErrno = errno;
  size_t done = 0;
  while (done < event.size()) {
    ssize_t wrote = ::write(TraceFd, event.data() + done, event.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  errno = savedErrno;
}

void hex_append(std::string* out, const uint8_t* bytes, size_t count) {
  static const char HEX_DIGITS[] = "0123456789ABCDEF";
  size_t start = out->size();
  out->resize(start + count * 3);
  char* p = &(*out)[start];
  for (size_t i = 0; i < count; ++i) {
    *p++ = ' ';
    *p++ = HEX_DIGITS[bytes[i] >> 4];
    *p++ = HEX_DIGITS[bytes[i] & 0x0F];
  }
}

}  // namespace shim
