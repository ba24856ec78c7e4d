// SPDX-License-Identifier: MIT
// The flashsim command: sub-commands and the little argument scanner they share.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "run_summary.h"

namespace tool {

constexpr int EXIT_OK = 0;
constexpr int EXIT_DIFFER = 1;  // compare: the bytes differ
constexpr int EXIT_ERROR = 2;   // usage or set-up error

// Walks argv; options take their value from the next word or after '='.
struct Args {
  std::vector<std::string> words;
  size_t next = 0;
  std::string command;  // for messages

  bool done() const { return next >= words.size(); }
  const std::string& peek() const { return words[next]; }
  // If the current word is option `name` (alone or as name=value), consumes it
  // and its value into *value; false when it is another word.
  bool take_value(const char* name, std::string* value, std::string* error);
  bool take_flag(const char* name);
};

// One option a command understands: a value (the last one wins), a list of
// values (the option may repeat) or a flag.
struct OptionSpec {
  const char* name;
  std::string* value;
  std::vector<std::string>* many;
  bool* flag;
};

// Consumes the options in `specs` and the positional words; stops after "--"
// when `stopAtDashDash`, leaving the rest in args. False with *error set on an
// unknown option or a missing value.
bool scan_options(Args& args, const std::vector<OptionSpec>& specs,
                  std::vector<std::string>* positional, bool stopAtDashDash, std::string* error);

int fail(const std::string& command, const std::string& message);  // prints, returns EXIT_ERROR
bool parse_u32(const std::string& text, uint32_t* value);

// The counters of one section of the summary file ("run" or "total"): under
// `heading` as "  label: value" lines, or with `keys` as "section.key value".
void print_counters(FILE* out, const char* heading, const char* section,
                    const flashsim::RunCounters& counters, bool keys);
// `--format text|keys`: false, after saying why, for anything else.
bool keys_format(const std::string& command, const std::string& format, bool* keys);

// `flashsim run`'s command as a process group that ends with the run (command_tree.cpp):
// its exit status, or 128 + the signal that killed it.
int run_command_tree(std::vector<std::string> argv, std::vector<std::string> env);
// Whether PROGRAM (found on `path` when it has no slash) is an ELF executable without an
// interpreter, which no preloaded library reaches (program_linkage.cpp).
bool statically_linked(const std::string& program, const std::string& path);

// Every sub-command: Args hold the words after its name.
int cmd_create(Args& args);
int cmd_load(Args& args);
int cmd_dump(Args& args);
int cmd_compare(Args& args);
int cmd_regs(Args& args);
int cmd_set(Args& args);
int cmd_summary(Args& args);
int cmd_profiles(Args& args);
int cmd_power_cycle(Args& args);
int cmd_run(Args& args);

}  // namespace tool
