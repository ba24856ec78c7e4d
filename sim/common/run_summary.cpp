// SPDX-License-Identifier: MIT
#include "run_summary.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "environment.h"

namespace flashsim {

const CounterField* counter_fields(size_t* count) {
  static const CounterField COUNTER_FIELDS[] = {
      {"processes", &RunCounters::processes},
      {"messages", &RunCounters::messages},
      {"failed_messages", &RunCounters::failedMessages},
      {"bytes_tx", &RunCounters::bytesTx},
      {"bytes_rx", &RunCounters::bytesRx},
      {"bus_ns", &RunCounters::busNs},
      {"sleeps", &RunCounters::sleeps},
      {"sleep_ns", &RunCounters::sleepNs},
      {"device_ns", &RunCounters::deviceNs},
  };
  *count = sizeof COUNTER_FIELDS / sizeof COUNTER_FIELDS[0];
  return COUNTER_FIELDS;
}

void add_counters(RunCounters* into, const RunCounters& more) {
  size_t count = 0;
  const CounterField* fields = counter_fields(&count);
  for (size_t i = 0; i < count; ++i) into->*(fields[i].member) += more.*(fields[i].member);
}

std::string summary_path(const std::string& stateDir) { return stateDir + "/" + SUMMARY_FILE_NAME; }

namespace {

// "run.KEY=N" and "total.KEY=N" lines; unknown lines are ignored.
void parse_summary(const std::string& text, RunCounters* run, RunCounters* total) {
  size_t count = 0;
  const CounterField* fields = counter_fields(&count);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    RunCounters* target = nullptr;
    if (key.compare(0, 4, "run.") == 0) {
      target = run;
      key = key.substr(4);
    } else if (key.compare(0, 6, "total.") == 0) {
      target = total;
      key = key.substr(6);
    }
    if (!target) continue;
    for (size_t i = 0; i < count; ++i)
      if (key == fields[i].key)
        target->*(fields[i].member) = std::strtoull(line.c_str() + eq + 1, nullptr, 10);
  }
}

std::string format_summary_file(const RunCounters& run, const RunCounters& total) {
  size_t count = 0;
  const CounterField* fields = counter_fields(&count);
  std::string text;
  char line[96];
  for (int part = 0; part < 2; ++part) {
    const RunCounters& source = part == 0 ? run : total;
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(line, sizeof line, "%s.%s=%" PRIu64 "\n", part == 0 ? "run" : "total",
                    fields[i].key, source.*(fields[i].member));
      text += line;
    }
  }
  return text;
}

}  // namespace

bool update_summary(const std::string& stateDir,
                    const std::function<void(RunCounters* run, RunCounters* total)>& change) {
  int fd = ::open(summary_path(stateDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string text;
  char buffer[1024];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  RunCounters run, total;
  parse_summary(text, &run, &total);
  change(&run, &total);
  std::string out = format_summary_file(run, total);
  bool ok = ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 &&
            ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  ::close(fd);
  return ok;
}

bool read_summary(const std::string& stateDir, RunCounters* run, RunCounters* total) {
  FILE* file = std::fopen(summary_path(stateDir).c_str(), "r");
  if (!file) return false;
  std::string text;
  char buffer[1024];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  parse_summary(text, run, total);
  return true;
}

}  // namespace flashsim
