// SPDX-License-Identifier: MIT
#include "run_summary.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "environment.h"
#include "parse_number.h"

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

// "run.KEY=N" and "total.KEY=N", a line each, every counter once, N in decimal as the writer
// writes it; anything else is a file damaged or cut short. An empty file has all zeros.
bool parse_summary(const std::string& path, const std::string& text, RunCounters* run,
                   RunCounters* total, std::string* error) {
  const TableView<CounterField> fields = counter_fields();
  const size_t count = fields.size();
  auto key_of = [&](size_t i) {
    return (i < count ? "run." : "total.") + std::string(fields[i % count].key);
  };
  std::vector<bool> given(2 * count, text.empty());
  int line = 0;
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    ++line;
    end = text.find('\n', pos);
    const std::string content = text.substr(pos, end - pos);
    const size_t eq = content.find('=');
    const std::string digits = eq == std::string::npos ? "" : content.substr(eq + 1);
    size_t i = 0;
    while (i < 2 * count && content.compare(0, eq, key_of(i)) != 0) ++i;
    uint64_t value = 0;
    const char* why = end == std::string::npos ? "cut short: no end of line"
                      : i == 2 * count         ? "not a counter of the summary"
                      : given[i]               ? "a counter given twice"
                      : !parse_number(digits, &value) || std::to_string(value) != digits
                          ? "not a count in decimal"
                          : nullptr;
    if (why) return *error = path + ":" + std::to_string(line) + ": " + why, false;
    (i < count ? run : total)->*(fields[i % count].member) = value;
    given[i] = true;
  }
  for (size_t i = 0; i < 2 * count; ++i)
    if (!given[i]) return *error = path + ": lacks " + key_of(i), false;
  return true;
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
  std::string error;  // a damaged file is left for read_summary to report
  if (!parse_summary(summary_path(stateDir), text, &run, &total, &error)) {
    ::close(fd);
    return false;
  }
  change(&run, &total);
  std::string out = format_summary_file(run, total);
  // Written over the old text, then cut to length: the file's one block is never given back,
  // so a full disk cannot leave it empty or cut short.
  bool ok = ::pwrite(fd, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size()) &&
            ::ftruncate(fd, static_cast<off_t>(out.size())) == 0;
  ::close(fd);
  return ok;
}

bool read_summary(const std::string& stateDir, RunCounters* run, RunCounters* total,
                  std::string* error) {
  const std::string path = summary_path(stateDir);
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file && errno == ENOENT) return true;  // nobody ran on the chip yet: all zeros
  if (!file) return *error = path + ": " + std::strerror(errno), false;
  std::string text;
  char buffer[1024];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return parse_summary(path, text, run, total, error);
}

}  // namespace flashsim
