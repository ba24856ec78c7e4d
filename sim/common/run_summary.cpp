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

namespace {

const CounterField COUNTER_FIELDS[] = {
    {"processes", "processes", &RunCounters::processes, false},
    {"messages", "messages", &RunCounters::messages, false},
    {"failed_messages", "failed messages", &RunCounters::failedMessages, false},
    {"bytes_tx", "bytes tx", &RunCounters::bytesTx, false},
    {"bytes_rx", "bytes rx", &RunCounters::bytesRx, false},
    {"bus_ns", "bus time", &RunCounters::busNs, true},
    {"sleeps", "sleeps", &RunCounters::sleeps, false},
    {"sleep_ns", "sleep time", &RunCounters::sleepNs, true},
    {"device_ns", "device time", &RunCounters::deviceNs, true},
};

}  // namespace

TableView<CounterField> counter_fields() { return view_of(COUNTER_FIELDS); }

void add_counters(RunCounters* into, const RunCounters& more) {
  for (const CounterField& field : counter_fields()) into->*(field.member) += more.*(field.member);
}

namespace {

std::string summary_path(const std::string& stateDir) { return stateDir + "/" + SUMMARY_FILE_NAME; }

// "run.KEY=N" and "total.KEY=N" lines; unknown lines are ignored.
void parse_summary(const std::string& text, RunCounters* run, RunCounters* total) {
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
    for (const CounterField& field : counter_fields())
      if (key == field.key)
        target->*(field.member) = std::strtoull(line.c_str() + eq + 1, nullptr, 10);
  }
}

std::string format_summary_file(const RunCounters& run, const RunCounters& total) {
  std::string text;
  char line[96];
  for (int part = 0; part < 2; ++part) {
    const RunCounters& source = part == 0 ? run : total;
    for (const CounterField& field : counter_fields()) {
      std::snprintf(line, sizeof line, "%s.%s=%" PRIu64 "\n", part == 0 ? "run" : "total",
                    field.key, source.*(field.member));
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
