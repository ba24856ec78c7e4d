// SPDX-License-Identifier: MIT
// Command-line options: each acts when getopt meets it, in command-line order.
#include <getopt.h>  // the GNU getopt, which permutes whatever feature macros are set
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "ops/operations.h"
#include "spidev/spidev.h"

namespace {

const char OPTION_STRING[] = "hd:s:o:f:w:m:b:i";

[[noreturn]] void reject_option(int letter) {
  std::fprintf(stderr, "ERROR: Invalid option '%c'\n", letter);
  print_usage();
  std::exit(1);
}

[[noreturn]] void reject_command(const char* name) {
  std::fprintf(stderr, "ERROR: Invalid option -o %s \n", name);
  print_usage();
  std::exit(1);
}

uint8_t mode_from_letters(const char* letters) {
  static const struct {
    char letter;
    uint8_t bit;
  } MODE_LETTERS[] = {{'H', 0x01}, {'O', 0x02}, {'C', 0x04}, {'L', 0x08}, {'3', 0x10}, {'l', 0x20}};
  uint8_t mode = 0;
  for (const auto& entry : MODE_LETTERS) {
    if (std::strchr(letters, entry.letter) != nullptr) mode |= entry.bit;
  }
  return mode;
}

// A mandatory operand must be a number: a forgotten address followed by another
// option would otherwise erase or program address 0.
NumberWord mandatory_operand(const char* word, const char* name) {
  if (word == nullptr) reject_command(name);
  NumberWord number = parse_number(word, 0);
  if (!number.hasDigits) reject_command(name);
  return number;
}

// The operands are the words directly after the name: getopt has not permuted
// anything at or after optind yet.
void read_operands(const Operation* operation, char** argv, int argc, const char* name) {
  FlashCommand& command = RunState.command;
  const char* word1 = optind < argc ? argv[optind] : nullptr;
  const char* word2 = optind + 1 < argc ? argv[optind + 1] : nullptr;
  switch (operation->operands) {
    case NO_OPERAND:
      break;
    case TIMEOUT:
      RunState.timeoutMs =
          word1 != nullptr ? parse_number(word1, 0).value : operation->defaultTimeoutMs;
      break;
    case START_ADDRESS:
      command.address = mandatory_operand(word1, name).value;
      break;
    case REGISTER_VALUE:
      command.regData = mandatory_operand(word1, name).value;
      break;
    case ADDRESS_AND_SIZE: {
      NumberWord start = mandatory_operand(word1, name);
      if (start.rangeError) reject_command(name);
      command.address = start.value;
      if (word2 != nullptr) {
        uint32_t size = parse_number(word2, 0).value;
        if (size != 0) command.rxLength = size;
      }
      break;
    }
  }
}

// -o names an operation: its command row is selected and its operands read at once.
void select_named_command(char** argv, int argc, const char* name) {
  const Operation* operation = nullptr;
  if (select_command_named(&RunState.command, name) != 0) {
    operation = find_operation(RunState.command.id);
  }
  if (operation == nullptr) reject_command(name);
  read_operands(operation, argv, argc, name);
}

FILE* open_named_file(const char* name, const char* mode) {
  FILE* file = std::fopen(name, mode);
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open \"%s\":  %s\n", name, std::strerror(errno));
  }
  return file;
}

}  // namespace

int parse_options(int argc, char** argv, const char** imageFileName) {
  // POSIXLY_CORRECT would stop getopt at the first operand; options may follow operands.
  unsetenv("POSIXLY_CORRECT");
  int letter;
  while ((letter = getopt(argc, argv, OPTION_STRING)) != -1) {
    switch (letter) {
      case 'h':
        print_usage();
        std::exit(0);
      case 'd':
        RunState.devicePath = optarg;
        break;
      case 's':
        SpiSettings.speedHz = parse_number(optarg, 0).value * 1000u;
        break;
      case 'o':
        select_named_command(argv, argc, optarg);
        break;
      case 'f':
        *imageFileName = optarg;
        RunState.imageFile = open_named_file(optarg, "rb");
        if (RunState.imageFile == nullptr) return STATUS_FAIL;
        break;
      case 'w':
        RunState.outputFile = open_named_file(optarg, "wb");
        if (RunState.outputFile == nullptr) return STATUS_FAIL;
        break;
      case 'm':
        SpiSettings.mode = mode_from_letters(optarg);
        break;
      case 'b':
        SpiSettings.bitsPerWord = static_cast<uint8_t>(parse_number(optarg, 10).value);
        break;
      case 'i':
        // getopt accepts -i, so no error has set optopt: report the C library's initial '?'.
        reject_option('?');
      default:
        reject_option(optopt);
    }
  }
  return 0;
}
