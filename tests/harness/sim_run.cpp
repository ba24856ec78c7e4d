// SPDX-License-Identifier: MIT
#include "sim_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

const SimBinaries& sim_binaries() {
  static const SimBinaries binaries = [] {
    // A sanitized program is loaded after the preloaded simulator library, which
    // the address sanitizer's link-order check would otherwise refuse.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1", 0);
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
    return SimBinaries{env_or("ROMFLASH_BIN", ROMFLASH_BIN_DEFAULT),
                       env_or("FLASHSIM_BIN", FLASHSIM_BIN_DEFAULT),
                       env_or("FLASHSIM_LIB", FLASHSIM_LIB_DEFAULT),
                       split_words(env_or("FLASHSIM_EMULATOR", FLASHSIM_EMULATOR_DEFAULT))};
  }();
  return binaries;
}

ProcessResult flashsim(const Lines& args) {
  return run_process(sim_binaries().emulator + Lines{sim_binaries().flashsim} + args);
}

Lines sim_run_argv(const std::string& state, const Lines& options, const Lines& command) {
  const SimBinaries& bin = sim_binaries();
  Lines argv = bin.emulator + Lines{bin.flashsim, "run", "--state", state, "--lib", bin.lib};
  if (!bin.emulator.empty()) argv = argv + Lines{"--emulator", joined(bin.emulator, " ")};
  return argv + options + Lines{"--"} + command;
}

namespace {

bool succeeded(const ProcessResult& run) {
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  return run.exitStatus == 0;
}

// Up to 8 bytes as they are, more by their count.
std::string show_bytes(const Lines& bytes, size_t from) {
  if (bytes.size() - from > 8) return "[" + std::to_string(bytes.size() - from) + "]";
  return joined(Lines(bytes.begin() + from, bytes.end()), " ");
}

std::string show_message(const std::string& head, const Lines& tx, const Lines& rx) {
  std::string text = tx.size() >= 4 ? tx[0] + " " + tx[1] + tx[2] + tx[3] : show_bytes(tx, 0);
  if (tx.size() > 4) text += " " + show_bytes(tx, 4);
  Lines words = split_words(head);  // msg N ok | msg N fail ERR
  if (words.size() > 3) return text + " !" + words[3];
  return rx.empty() ? text : text + (text.empty() ? "> " : " > ") + show_bytes(rx, 0);
}

Lines events(const std::string& trace) {
  Lines entries, tx, rx;
  std::string message;
  auto flush_message = [&] {
    if (!message.empty()) entries.push_back(show_message(message, tx, rx));
    message.clear(), tx.clear(), rx.clear();
  };
  for (const auto& line : split(trace, '\n')) {
    Lines words = split_words(line);
    if (words.empty()) continue;
    if (words[0] == "seg") {
      Lines* into = nullptr;
      for (size_t i = 2; i < words.size(); ++i) {
        if (words[i] == "tx" || words[i] == "rx")
          into = words[i] == "tx" ? &tx : &rx;
        else if (words[i] == "cs_change")
          tx.push_back("cs");
        else if (into)
          into->push_back(words[i]);
      }
      continue;
    }
    flush_message();
    if (words[0] == "msg")
      message = line;
    else if (words[0] == "open")
      entries.push_back(words.size() == 2 && words[1] == "/dev/spi0" ? "open" : line);
    else if (words[0] == "ioctl")
      entries.push_back(line.substr(6, line.size() - 6 - (words.back() == "ok" ? 3 : 0)));
    else if (words[0] == "sleep") {
      unsigned long long ns = std::stoull(words[1]);
      entries.push_back(ns % 1000 ? "+" + words[1] + "ns" : "+" + std::to_string(ns / 1000) + "us");
    } else
      entries.push_back(line);
  }
  flush_message();
  // The usual set-up: mode, word size and clock written, each read back the same.
  static const std::regex setUp(
      "(^|\n)WR_MODE (\\S+)\nRD_MODE \\2\nWR_BITS_PER_WORD (\\S+)\nRD_BITS_PER_WORD \\3\n"
      "WR_MAX_SPEED_HZ (\\S+)\nRD_MAX_SPEED_HZ \\4(?=\n|$)");
  return split(std::regex_replace(joined(entries, "\n"), setUp, "$1spi $2 $3 $4"), '\n');
}

Lines collapse_runs(const Lines& entries, size_t width) {
  Lines out;
  for (size_t i = 0; i < entries.size();) {
    auto group = [&](size_t k) { return entries.begin() + i + k * width; };
    size_t repeats = 1;
    while (i + (repeats + 1) * width <= entries.size() &&
           std::equal(group(0), group(1), group(repeats)))
      ++repeats;
    if (repeats == 1) {
      out.push_back(entries[i++]);
      continue;
    }
    std::string text = joined(Lines(group(0), group(1)), "; ");
    out.push_back((width > 1 ? "(" + text + ")" : text) + " x" + std::to_string(repeats));
    i += repeats * width;
  }
  return out;
}

}  // namespace

bool SimChip::create(const Lines& options) {
  return succeeded(flashsim(Lines{"create", "--state", state} + options));
}

void SimChip::load(uint32_t offset, const std::string& bytes) {
  write_file(dir.file("load.bin"), bytes);
  succeeded(flashsim(
      {"load", "--state", state, "--offset", std::to_string(offset), dir.file("load.bin")}));
}

std::string SimChip::bytes(uint32_t offset, uint32_t length) {
  succeeded(flashsim({"dump", "--state", state, "--offset", std::to_string(offset), "--length",
                      std::to_string(length), "-o", dir.file("dump.bin")}));
  return read_file(dir.file("dump.bin"));
}

ProcessResult SimChip::run(const Lines& command, const Lines& options, const Lines& env) {
  static int runs = 0;
  trace = dir.file("trace-" + std::to_string(++runs));
  return run_process(sim_run_argv(state, Lines{"--trace", trace} + options, command), env);
}

std::string SimChip::wire(bool collapse) const {
  Lines entries = events(read_file(trace));
  if (collapse) entries = collapse_runs(collapse_runs(collapse_runs(entries, 1), 2), 2);
  return joined(entries, "; ");
}

std::string pattern_bytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}
