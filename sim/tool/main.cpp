// SPDX-License-Identifier: MIT
// flashsim: sets up, inspects and runs programs on the simulated SPI NOR flash.
#include <cstdio>
#include <cstring>

#include "environment.h"
#include "fault_plan.h"
#include "tool.h"

namespace tool {

bool Args::take_value(const char* name, std::string* value, std::string* error) {
  if (done()) return false;
  const std::string& word = words[next];
  size_t length = std::strlen(name);
  if (word == name) {
    if (next + 1 >= words.size()) {
      *error = std::string(name) + " needs a value";
      next = words.size();
      return true;
    }
    *value = words[next + 1];
    next += 2;
    return true;
  }
  if (word.size() > length && word.compare(0, length, name) == 0 && word[length] == '=') {
    *value = word.substr(length + 1);
    next += 1;
    return true;
  }
  return false;
}

bool Args::take_flag(const char* name) {
  if (done() || words[next] != name) return false;
  next += 1;
  return true;
}

bool scan_options(Args& args, const std::vector<OptionSpec>& specs,
                  std::vector<std::string>* positional, bool stopAtDashDash, std::string* error) {
  while (!args.done()) {
    if (stopAtDashDash && args.peek() == "--") {
      args.next += 1;
      return true;
    }
    bool matched = false;
    for (const OptionSpec& option : specs) {
      if (option.flag) {
        if (args.take_flag(option.name)) {
          *option.flag = true;
          matched = true;
          break;
        }
        continue;
      }
      std::string value;
      if (!args.take_value(option.name, &value, error)) continue;
      if (!error->empty()) return false;
      if (option.many) option.many->push_back(value);
      if (option.value) *option.value = value;
      matched = true;
      break;
    }
    if (matched) continue;
    const std::string& word = args.peek();
    if (word.size() > 1 && word[0] == '-') {
      *error = "unknown option " + word;
      return false;
    }
    if (!positional) {
      *error = "unexpected word " + word;
      return false;
    }
    positional->push_back(word);
    args.next += 1;
  }
  return true;
}

int fail(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "flashsim%s%s: %s\n", command.empty() ? "" : " ", command.c_str(),
               message.c_str());
  return EXIT_ERROR;
}

bool parse_u32(const std::string& text, uint32_t* value) {
  uint64_t parsed = 0;
  if (!flashsim::parse_number(text, &parsed) || parsed > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace tool

namespace {

const char USAGE[] =
    "Usage: flashsim COMMAND [options]\n"
    "  create   --state DIR [--profile NAME] [--fill 0xNN] [--image FILE] [--set key=value]...\n"
    "  load     --state DIR --offset N FILE\n"
    "  dump     --state DIR [--offset N] [--length N] [-o FILE]\n"
    "  compare  --state DIR FILE [--offset N]\n"
    "  regs     --state DIR\n"
    "  set      --state DIR [--status 0xNN] [--config 0xNN]\n"
    "  summary  --state DIR\n"
    "  power-cycle --state DIR\n"
    "  profiles\n"
    "  --version\n"
    "  run      [--state DIR] [--device PATH] [--trace FILE] [--summary]\n"
    "           [--fail-msg N]... [--fail-msgs A-B]... [--fail-every K] [--errno NAME|NUMBER]\n"
    "           [--fail-opcode 0xNN[:COUNT]]... [--fail-setup NAME]... [--wel-stuck] "
    "[--wip-stuck]\n"
    "           [--absent ff|00] [--power-cut N] [--bufsiz N] [--realtime] [--overhead-ns N]\n"
    "           [--lib PATH] [--emulator \"WORDS\"] -- COMMAND [ARGS...]\n";

struct SubCommand {
  const char* name;
  int (*run)(tool::Args&);
};

const SubCommand COMMANDS[] = {
    {"create", tool::cmd_create},   {"load", tool::cmd_load},
    {"dump", tool::cmd_dump},       {"compare", tool::cmd_compare},
    {"regs", tool::cmd_regs},       {"set", tool::cmd_set},
    {"summary", tool::cmd_summary}, {"profiles", tool::cmd_profiles},
    {"run", tool::cmd_run},         {"power-cycle", tool::cmd_power_cycle},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(USAGE, stderr);
    return tool::EXIT_ERROR;
  }
  std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    std::fputs(USAGE, stdout);
    return tool::EXIT_OK;
  }
  if (name == "--version") {
    std::printf("flashsim (romflash) %s\n", ROMFLASH_VERSION);
    return tool::EXIT_OK;
  }
  for (const SubCommand& command : COMMANDS) {
    if (name != command.name) continue;
    tool::Args args;
    args.words.assign(argv + 2, argv + argc);
    args.command = name;
    return command.run(args);
  }
  std::fprintf(stderr, "flashsim: unknown command '%s'\n%s", name.c_str(), USAGE);
  return tool::EXIT_ERROR;
}
