// SPDX-License-Identifier: MIT
// Command-line options: each acts when getopt meets it, in command-line order.
#include <getopt.h>  // the GNU getopt, which permutes whatever feature macros are set
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "cli/run_state.h"
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

const FlashCommand* command_row_named(const char* name) {
  for (uint32_t row = 0; row < COMMAND_COUNT; ++row) {
    if (std::strcmp(CommandTable[row].name, name) == 0) return &CommandTable[row];
  }
  return nullptr;
}

enum OperandKind { NO_OPERAND, OPTIONAL_TIMEOUT, START_ADDRESS, REGISTER_VALUE, RANGE };

OperandKind operand_kind(CommandId id) {
  switch (id) {
    case RDSR_WEL:
    case RDSR_WIP:
      return OPTIONAL_TIMEOUT;
    case SE:
    case SE4K:
    case SE8K:
    case SE32K:
    case PP:
    case WRITE:
      return START_ADDRESS;
    case WRR1:
    case WRR2:
      return REGISTER_VALUE;
    case READ:
    case FREAD:
    case VER:
    case CHKSUM:
      return RANGE;
    default:
      return NO_OPERAND;
  }
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
void read_operands(char** argv, int argc, const char* name) {
  FlashCommand& command = RunState.command;
  const char* word1 = optind < argc ? argv[optind] : nullptr;
  const char* word2 = optind + 1 < argc ? argv[optind + 1] : nullptr;
  switch (operand_kind(command.id)) {
    case NO_OPERAND:
      break;
    case OPTIONAL_TIMEOUT:
      RunState.timeoutMs = word1 != nullptr         ? parse_number(word1, 0).value
                           : command.id == RDSR_WEL ? WEL_TIMEOUT_MS
                                                    : WIP_TIMEOUT_MS;
      break;
    case START_ADDRESS:
      command.address = mandatory_operand(word1, name).value;
      break;
    case REGISTER_VALUE:
      command.regData = mandatory_operand(word1, name).value;
      break;
    case RANGE: {
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

void select_named_command(char** argv, int argc, const char* name) {
  const FlashCommand* row = command_row_named(name);
  if (row == nullptr || row->id == NO_COMMAND) reject_command(name);
  RunState.command = *row;
  RunState.command.address = NO_VALUE;
  RunState.command.regData = NO_VALUE;
  read_operands(argv, argc, name);
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
