#include "sim_client.h"

#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdio>

std::string spidev_client_path() {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : "";
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/spidev_client";
}

void SimChip::create_chip(const Lines& options) {
  Lines args{"create", "--state", state()};
  args.insert(args.end(), options.begin(), options.end());
  ProcessResult created = flashsim(args);
  ASSERT_EQ(created.exitStatus, 0) << created.err;
}

ProcessResult SimChip::run(const Lines& command, const Lines& runOptions) {
  lastTrace = dir.file("trace-" + std::to_string(++runs));
  Lines options{"--trace", lastTrace};
  options.insert(options.end(), runOptions.begin(), runOptions.end());
  return run_on_sim(state(), options, command);
}

ProcessResult SimChip::client(const Lines& steps, const Lines& runOptions) {
  Lines command{spidev_client_path(), "/dev/spi0"};
  command.insert(command.end(), steps.begin(), steps.end());
  return run(command, runOptions);
}

std::string SimChip::chip_bytes(uint32_t offset, uint32_t length) {
  std::string out = dir.file("dump.bin");
  ProcessResult dumped = flashsim({"dump", "--state", state(), "--offset", std::to_string(offset), "--length",
                                   std::to_string(length), "-o", out});
  EXPECT_EQ(dumped.exitStatus, 0) << dumped.err;
  return read_file(out);
}

std::string SimChip::regs() {
  ProcessResult shown = flashsim({"regs", "--state", state()});
  EXPECT_EQ(shown.exitStatus, 0) << shown.err;
  return shown.out;
}

std::string SimChip::summary_line(const std::string& section, const std::string& key) {
  ProcessResult shown = flashsim({"summary", "--state", state()});
  EXPECT_EQ(shown.exitStatus, 0) << shown.err;
  bool inSection = false;
  for (const auto& line : split_lines(shown.out)) {
    if (line.empty() || line[0] != ' ') {
      inSection = line == section + ":";
      continue;
    }
    if (inSection && line.compare(0, key.size() + 4, "  " + key + ": ") == 0) return line.substr(2);
  }
  return "(no " + key + " in " + section + ")";
}

std::string summary_seconds(uint64_t ns) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64 " s", ns / 1000000000u, ns % 1000000000u);
  return text;
}
