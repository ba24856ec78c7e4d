// SPDX-License-Identifier: MIT
// romflash's command line as functions: each input line is one argument word
// (the first the invocation name), walked by the option parser. Linked with
// --wrap=exit,--wrap=fopen,--wrap=fopen64: the exits of -h and of the rejections
// jump back here, and every file an option names is /dev/null, whatever the
// name says (an empty name fails, as it does in the C library).
#include <dirent.h>
#include <getopt.h>
#include <setjmp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "spidev/spidev.h"

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" FILE* __real_fopen(const char* name, const char* mode);
extern "C" FILE* __real_fopen64(const char* name, const char* mode);

static const struct SpiSettings INITIAL_SETTINGS = SpiSettings;
static const std::string USAGE_END =
    "  -w [file]          :READ and FREAD Output ROM-IMAGE file\n\n";
static jmp_buf* exitJump;  // set only while the command line is parsed
static int exitStatus;
static std::vector<FILE*> openedFiles;
static char errText[1 << 16];  // standard error of one input, always NUL-terminated

static FILE* open_instead(const char* name, const char* mode) {
  FILE* file = *name != '\0' ? __real_fopen("/dev/null", mode) : (errno = ENOENT, nullptr);
  if (file != nullptr) openedFiles.push_back(file);
  return file;
}

static long open_descriptors() {
  long count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

static void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "romflash_cli: %s; standard error was:\n%s", what, errText);
  std::abort();
}

// -h: the usage text alone, status 0. A rejection: its message line right
// before the usage text, status 1.
static void check_exit(int status) {
  std::string err = errText;
  size_t usage = err.rfind(std::string("Usage: ") + RunState.programName + " [option...]\n");
  size_t message = err.rfind("ERROR: Invalid option ", usage);
  check(usage != std::string::npos && err.rfind(USAGE_END) == err.size() - USAGE_END.size(),
        "no usage text at the exit");
  check(status == 0
            ? usage == 0
            : status == 1 && message != std::string::npos && err.find('\n', message) + 1 == usage,
        "exit status and messages disagree");
}

// Without an exit: no usage text, a message only for a file that could not be
// opened, and the selected command is its table row with the operands in place.
static void check_return(int status, bool imageNamed) {
  std::string err = errText;
  check(err.find("Usage: ") == std::string::npos &&
            (status == 0 ? err.empty()
                         : status == STATUS_FAIL && err.rfind("ERROR: cannot open \"", 0) == 0),
        "wrong status or messages");
  check(status != 0 || imageNamed == (RunState.imageFile != nullptr), "-f without a file");
  const FlashCommand& command = RunState.command;
  if (command.id == NO_COMMAND) return;
  const FlashCommand& row = CommandTable[command.id < COMMAND_COUNT ? command.id : 0];
  bool sizeOperand =
      command.id == READ || command.id == FREAD || command.id == VER || command.id == CHKSUM;
  check(command.id < COMMAND_COUNT && std::strcmp(command.name, row.name) == 0 &&
            command.opcode == row.opcode && command.dummyBytes == row.dummyBytes &&
            command.txLength == row.txLength &&
            (sizeOperand ? command.rxLength != 0 : command.rxLength == row.rxLength) &&
            (row.address != 0 || command.address == NO_VALUE) &&
            (command.id == WRR1 || command.id == WRR2 || command.regData == NO_VALUE),
        "the selected command is not its table row");
}

extern "C" [[noreturn]] void __wrap_exit(int status) {
  if (exitJump == nullptr) __real_exit(status);  // the fuzzer's own exit
  exitStatus = status;
  longjmp(*exitJump, 1);
}

extern "C" FILE* __wrap_fopen(const char* name, const char* mode) {
  return exitJump != nullptr ? open_instead(name, mode) : __real_fopen(name, mode);
}

extern "C" FILE* __wrap_fopen64(const char* name, const char* mode) {
  return exitJump != nullptr ? open_instead(name, mode) : __real_fopen64(name, mode);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char*> argv;  // each word its own allocation: a read past its end is caught
  for (size_t start = 0, end; start < size; start = end + 1) {
    end = std::find(data + start, data + size, '\n') - data;
    argv.push_back(strndup(reinterpret_cast<const char*>(data) + start, end - start));
  }
  if (argv.empty()) return 0;
  int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  RunState = {};
  SpiSettings = INITIAL_SETTINGS;
  optind = 0;  // getopt starts afresh
  long descriptors = open_descriptors();
  FILE* realErr = stderr;
  errText[0] = '\0';
  stderr = fmemopen(errText, sizeof errText - 1, "w");
  const char* imageName = nullptr;
  jmp_buf jump;
  int status = 0;
  bool exited = setjmp(jump) != 0;
  if (!exited) {
    exitJump = &jump;
    set_program_name(argv[0]);
    status = parse_options(argc, argv.data(), &imageName);
  }
  exitJump = nullptr;
  std::fclose(stderr);
  stderr = realErr;
  for (FILE* file : openedFiles) std::fclose(file);
  openedFiles.clear();
  for (char* word : argv) std::free(word);

  exited ? check_exit(exitStatus) : check_return(status, imageName != nullptr);
  check(open_descriptors() == descriptors, "a descriptor was left open");
  return 0;
}
