// romflash's command line as functions: each input line is one argument word
// (the first the invocation name), walked by the option parser. Linked with
// --wrap=exit,--wrap=fopen,--wrap=fopen64: the exits of -h and of the rejections
// jump back here, and every file an option names is one of two scratch files
// (an empty name fails, as it does in the C library), whatever the name says.
#include <dirent.h>
#include <getopt.h>
#include <setjmp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/run_state.h"
#include "spidev/spidev.h"

extern "C" {
[[noreturn]] void __real_exit(int status);
FILE* __real_fopen(const char* name, const char* mode);
FILE* __real_fopen64(const char* name, const char* mode);
}

namespace {

const struct SpiSettings INITIAL_SETTINGS = SpiSettings;
const char USAGE_END[] = "  -w [file]          :READ and FREAD Output ROM-IMAGE file\n\n";
jmp_buf* exitJump;  // set only while the command line is parsed
int exitStatus;
std::string scratchDir;
std::vector<FILE*> openedFiles;

FILE* open_scratch(const char* name, const char* mode) {
  if (*name == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  FILE* file = __real_fopen((scratchDir + (mode[0] == 'r' ? "/image" : "/output")).c_str(), mode);
  if (file != nullptr) openedFiles.push_back(file);
  return file;
}

void remove_scratch() {
  std::remove((scratchDir + "/image").c_str());
  std::remove((scratchDir + "/output").c_str());
  rmdir(scratchDir.c_str());
}

int open_descriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

void check(bool holds, const char* what, const std::string& errText) {
  if (holds) return;
  std::fprintf(stderr, "romflash_cli: %s; standard error was:\n%s", what, errText.c_str());
  std::abort();
}

bool ends_with(const std::string& text, const char* end) {
  size_t length = std::strlen(end);
  return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

// -h: the usage text alone, status 0. A rejection: its message line right
// before the usage text, status 1.
void check_exit(int status, const std::string& err) {
  std::string first = std::string("Usage: ") + RunState.programName + " [option...]\n";
  size_t usage = err.rfind(first);
  check(usage != std::string::npos && ends_with(err, USAGE_END), "no usage text at the exit", err);
  size_t message = err.rfind("ERROR: Invalid option ", usage);
  check(status == 0
            ? usage == 0
            : status == 1 && message != std::string::npos && err.find('\n', message) + 1 == usage,
        "exit status and messages disagree", err);
}

// Without an exit: no usage text, a message only for a file that could not be
// opened, and the selected command is its table row with the operands in place.
void check_return(int status, bool imageNamed, const std::string& err) {
  check(err.find("Usage: ") == std::string::npos, "usage text without an exit", err);
  bool openFailed = err.rfind("ERROR: cannot open \"", 0) == 0;
  check(status == 0 ? err.empty() : status == STATUS_FAIL && openFailed, "wrong status", err);
  if (status == 0) check(imageNamed == (RunState.imageFile != nullptr), "-f without a file", err);
  const FlashCommand& command = RunState.command;
  if (command.id == NO_COMMAND) return;
  check(command.id < COMMAND_COUNT, "command id outside the table", err);
  const FlashCommand& row = CommandTable[command.id];
  bool sizeOperand =
      command.id == READ || command.id == FREAD || command.id == VER || command.id == CHKSUM;
  check(std::strcmp(command.name, row.name) == 0 && command.opcode == row.opcode &&
            command.dummyBytes == row.dummyBytes && command.txLength == row.txLength &&
            (sizeOperand ? command.rxLength != 0 : command.rxLength == row.rxLength) &&
            (row.address != 0 || command.address == NO_VALUE) &&
            (command.id == WRR1 || command.id == WRR2 || command.regData == NO_VALUE),
        "the selected command is not its table row", err);
}

}  // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
  if (exitJump == nullptr) __real_exit(status);  // the fuzzer's own exit
  exitStatus = status;
  longjmp(*exitJump, 1);
}

FILE* __wrap_fopen(const char* name, const char* mode) {
  return exitJump != nullptr ? open_scratch(name, mode) : __real_fopen(name, mode);
}

FILE* __wrap_fopen64(const char* name, const char* mode) {
  return exitJump != nullptr ? open_scratch(name, mode) : __real_fopen64(name, mode);
}

int LLVMFuzzerInitialize(int*, char***) {
  scratchDir =
      std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/romflash_cli-XXXXXX";
  if (mkdtemp(&scratchDir[0]) == nullptr) std::abort();
  FILE* image = __real_fopen((scratchDir + "/image").c_str(), "wb");
  std::fputs("image", image);
  std::fclose(image);
  std::atexit(remove_scratch);
  return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each word in an allocation of its own, so a read past its end is caught.
  std::vector<std::unique_ptr<char[]>> words;
  for (size_t start = 0, end; start < size; start = end + 1) {
    end = std::find(data + start, data + size, '\n') - data;
    words.emplace_back(new char[end - start + 1]());
    std::memcpy(words.back().get(), data + start, end - start);
  }
  if (words.empty()) return 0;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.get());
  argv.push_back(nullptr);

  RunState = {};
  SpiSettings = INITIAL_SETTINGS;
  optind = 0;  // getopt starts afresh
  int descriptors = open_descriptors();
  char* errBuffer = nullptr;
  size_t errLength = 0;
  FILE* realErr = stderr;
  stderr = open_memstream(&errBuffer, &errLength);
  const char* imageName = nullptr;
  jmp_buf jump;
  int status = 0;
  bool exited = setjmp(jump) != 0;
  if (!exited) {
    exitJump = &jump;
    set_program_name(argv[0]);
    status = parse_options(static_cast<int>(words.size()), argv.data(), &imageName);
  }
  exitJump = nullptr;
  std::fclose(stderr);
  stderr = realErr;
  std::string err(errBuffer, errLength);
  std::free(errBuffer);
  for (FILE* file : openedFiles) std::fclose(file);
  openedFiles.clear();

  if (exited) {
    check_exit(exitStatus, err);
  } else {
    check_return(status, imageName != nullptr, err);
  }
  check(open_descriptors() == descriptors, "a descriptor was left open", err);
  return 0;
}

}  // extern "C"
