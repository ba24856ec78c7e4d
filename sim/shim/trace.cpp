// The trace file: opened once per process in append mode, and every event
// (a message with its segments included) written with a single write(), so
// the lines of several processes never interleave.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "shim.h"

namespace shim {

namespace {

int g_traceFd = -1;
bool g_traceTried = false;

}  // namespace

bool tracing() { return !config().tracePath.empty(); }

void trace_write(const std::string& event) {
  if (!tracing()) return;
  Guard guard;
  if (!g_traceTried) {
    g_traceTried = true;
    g_traceFd = real_open(config().tracePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (g_traceFd < 0) return;
  int savedErrno = errno;
  size_t done = 0;
  while (done < event.size()) {
    ssize_t wrote = ::write(g_traceFd, event.data() + done, event.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  errno = savedErrno;
}

void hex_append(std::string* out, const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  size_t start = out->size();
  out->resize(start + count * 3);
  char* p = &(*out)[start];
  for (size_t i = 0; i < count; ++i) {
    *p++ = ' ';
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0x0F];
  }
}

}  // namespace shim
