// SPDX-License-Identifier: MIT
// flashsim: sets up, inspects and runs programs on the simulated SPI NOR flash.
#include <cstdio>
#include <cstring>

#include "fault_plan.h"
#include "parse_number.h"
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

bool keys_format(const std::string& command, const std::string& format, bool* keys) {
  *keys = format == "keys";
  if (format.empty() || format == "text" || *keys) return true;
  fail(command, "--format: expected text or keys: " + format);
  return false;
}

}  // namespace tool

namespace {

int print_version(tool::Args&) {
  std::printf("flashsim (romflash) %s\n", ROMFLASH_VERSION);
  return tool::EXIT_OK;
}

// Every sub-command, its options as the usage text shows them (a line break
// continues under the options), and what runs it.
struct SubCommand {
  const char* name;
  const char* options;
  int (*run)(tool::Args&);
};

const SubCommand COMMANDS[] = {
    {"create", "--state DIR [--profile NAME] [--fill 0xNN] [--image FILE] [--set key=value]...",
     tool::cmd_create},
    {"load", "--state DIR --offset N FILE", tool::cmd_load},
    {"dump", "--state DIR [--offset N] [--length N] [-o FILE]", tool::cmd_dump},
    {"compare", "--state DIR FILE [--offset N]", tool::cmd_compare},
    {"regs", "--state DIR", tool::cmd_regs},
    {"set", "--state DIR [--status 0xNN] [--config 0xNN]", tool::cmd_set},
    {"summary", "--state DIR [--format text|keys]", tool::cmd_summary},
    {"power-cycle", "--state DIR", tool::cmd_power_cycle},
    {"profiles", "", tool::cmd_profiles},
    {"--version", "", print_version},
    {"run",
     "[--state DIR] [--device PATH] [--trace FILE] [--summary [--format text|keys]]\n"
     "[--bufsiz N] [--realtime] [--overhead-ns N] [--lib PATH] [--emulator \"WORDS\"]\n"
     "[FAULT OPTIONS] -- COMMAND [ARGS...]",
     tool::cmd_run},
};

void print_usage(FILE* out) {
  std::fputs("Usage: flashsim COMMAND [options]\n", out);
  const size_t column = 15;  // where the options start, on every line of them
  for (const SubCommand& command : COMMANDS) {
    std::string text = std::string("  ") + command.name;
    if (*command.options) text.resize(column, ' ');
    for (const char* c = command.options; *c; ++c)
      text += *c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, *c);
    std::fprintf(out, "%s\n", text.c_str());
  }
  std::fputs("FAULT OPTIONS of run (... where they may be repeated):\n", out);
  for (const flashsim::FaultOption& option : flashsim::fault_options()) {
    std::string words = std::string("--") + option.name;
    if (option.argument) words += std::string(" ") + option.argument;
    if (option.repeatable) words += "...";
    std::fprintf(out, "  %-30s %s\n", words.c_str(), option.help);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage(stderr);
    return tool::EXIT_ERROR;
  }
  std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    print_usage(stdout);
    return tool::EXIT_OK;
  }
  for (const SubCommand& command : COMMANDS) {
    if (name != command.name) continue;
    tool::Args args;
    args.words.assign(argv + 2, argv + argc);
    args.command = name;
    return command.run(args);
  }
  std::fprintf(stderr, "flashsim: unknown command '%s'\n", name.c_str());
  print_usage(stderr);
  return tool::EXIT_ERROR;
}
