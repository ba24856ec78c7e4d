// SPDX-License-Identifier: MIT
// flashsim run: a program started with libflashsim.so loaded and configured.
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "chip_model.h"
#include "environment.h"
#include "fault_plan.h"
#include "parse_number.h"
#include "run_summary.h"
#include "tool.h"

extern char** environ;

namespace tool {

namespace {

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  size_t pos = 0;
  while ((pos = text.find_first_not_of(" \t", pos)) != std::string::npos) {
    size_t end = text.find_first_of(" \t", pos);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

// libflashsim.so beside this executable, found through /proc/self/exe
// (which qemu-user also answers with the emulated program's path).
std::string default_library() {
  char self[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "libflashsim.so";
  std::string path(self, static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
         "/libflashsim.so";
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

// The throwaway chip of a run without a state directory, whatever files it grew.
struct Removal {
  std::string dir;
  ~Removal() {
    if (!dir.empty()) ::nftw(dir.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
  }
};

// The environment the program gets: ours without any FLASHSIM_* from an
// outer run, plus this run's configuration.
std::vector<std::string> child_environment(const std::vector<std::string>& settings,
                                           const std::string& preload) {
  std::vector<std::string> env;
  std::string oldPreload;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    if (text.compare(0, 9, "FLASHSIM_") == 0) continue;
    if (text.compare(0, 11, "LD_PRELOAD=") == 0 && !preload.empty()) {
      oldPreload = text.substr(11);
      continue;
    }
    env.push_back(text);
  }
  env.insert(env.end(), settings.begin(), settings.end());
  if (!preload.empty())
    env.push_back("LD_PRELOAD=" + preload + (oldPreload.empty() ? "" : ":" + oldPreload));
  return env;
}

// PATH as the command will see it.
std::string child_path(const std::vector<std::string>& env) {
  for (const auto& entry : env)
    if (entry.compare(0, 5, "PATH=") == 0) return entry.substr(5);
  return "/usr/local/bin:/usr/bin:/bin";
}

// The fault options as `flashsim run` takes them, and the words of
// FLASHSIM_FAULTS they become: each use in the order given, so of an option
// that cannot repeat the last one counts.
struct FaultUses {
  std::vector<std::vector<std::string>> values;
  std::unique_ptr<bool[]> flags;
  std::vector<std::string> names;  // "--fail-msg", ...

  FaultUses() : values(flashsim::fault_options().size()), flags(new bool[values.size()]()) {
    for (const auto& option : flashsim::fault_options())
      names.push_back(std::string("--") + option.name);
  }

  void add_specs(std::vector<OptionSpec>* specs) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (flashsim::fault_options()[i].argument)
        specs->push_back({names[i].c_str(), nullptr, &values[i], nullptr});
      else
        specs->push_back({names[i].c_str(), nullptr, nullptr, &flags[i]});
    }
  }

  std::vector<std::string> words() const {
    std::vector<std::string> result;
    for (size_t i = 0; i < names.size(); ++i) {
      const char* name = flashsim::fault_options()[i].name;
      if (flags[i]) result.push_back(name);
      for (const auto& value : values[i]) result.push_back(std::string(name) + "=" + value);
    }
    return result;
  }
};

}  // namespace

int cmd_run(Args& args) {
  std::string state, device, trace, format, bufsiz, overhead, lib, emulator, error;
  bool summary = false, realtime = false;
  std::vector<OptionSpec> specs = {
      {"--state", &state, nullptr, nullptr},       {"--device", &device, nullptr, nullptr},
      {"--trace", &trace, nullptr, nullptr},       {"--summary", nullptr, nullptr, &summary},
      {"--format", &format, nullptr, nullptr},     {"--bufsiz", &bufsiz, nullptr, nullptr},
      {"--realtime", nullptr, nullptr, &realtime}, {"--overhead-ns", &overhead, nullptr, nullptr},
      {"--lib", &lib, nullptr, nullptr},           {"--emulator", &emulator, nullptr, nullptr},
  };
  FaultUses faultUses;
  faultUses.add_specs(&specs);
  std::vector<std::string> stray;
  if (!scan_options(args, specs, &stray, true, &error)) return fail(args.command, error);
  if (!stray.empty()) return fail(args.command, "put the command after --: " + stray[0]);
  std::vector<std::string> command(args.words.begin() + static_cast<long>(args.next),
                                   args.words.end());
  if (command.empty())
    return fail(args.command, "no command to run (flashsim run [options] -- COMMAND ...)");
  bool keys = false;
  if (!keys_format(args.command, format, &keys)) return EXIT_ERROR;
  if (!format.empty() && !summary) return fail(args.command, "--format goes with --summary");

  // The fault words, checked here with the parser the library will use.
  flashsim::FaultPlan plan;
  std::string faults;
  for (const auto& word : faultUses.words()) {
    if (!flashsim::apply_fault_word(word, &plan, &error)) return fail(args.command, error);
    faults += (faults.empty() ? "" : " ") + word;
  }
  uint64_t number = 0;
  if (!bufsiz.empty() &&
      (!flashsim::parse_number(bufsiz, &number) || number == 0 || number > 0x7FFFFFFF))
    return fail(args.command, "--bufsiz: expected a size from 1: " + bufsiz);
  if (!overhead.empty() && !flashsim::parse_number(overhead, &number))
    return fail(args.command, "--overhead-ns: expected a number: " + overhead);

  // No state given: the one in the environment, else a throwaway default chip.
  Removal throwaway;
  if (state.empty()) {
    const char* inherited = std::getenv(FLASHSIM_ENV_STATE);
    if (inherited && *inherited) state = inherited;
  }
  if (state.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/flashsim-run-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
      return fail(args.command, "cannot make a temporary chip in " + templ);
    state = buffer.data();
    throwaway.dir = state;
    if (!chip_create(state, "default", 0xFF, "", {}, &error)) return fail(args.command, error);
  } else if (plan.absentLevel < 0) {
    ChipState* chip = chip_inspect(state, &error);
    if (!chip)
      return fail(args.command, "no chip in " + state + ": " + error + " (flashsim create first)");
    chip_detach(chip);
  }
  state = absolute(state);
  flashsim::RunCounters run, total;  // a damaged summary is reported, not overwritten
  if (!flashsim::read_summary(state, &run, &total, &error)) return fail(args.command, error);
  flashsim::update_summary(state, [](flashsim::RunCounters* run, flashsim::RunCounters*) {
    *run = flashsim::RunCounters();
  });

  std::vector<std::string> settings = {std::string(FLASHSIM_ENV_STATE "=") + state};
  if (!device.empty()) settings.push_back(std::string(FLASHSIM_ENV_DEVICE "=") + device);
  if (!trace.empty()) {
    // Made here, so a trace path that cannot be written is an error now, not an empty trace later.
    int fd = ::open(trace.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
      return fail(args.command, "cannot write the trace " + trace + ": " + std::strerror(errno));
    ::close(fd);
    settings.push_back(std::string(FLASHSIM_ENV_TRACE "=") + absolute(trace));
  }
  if (realtime) settings.push_back(FLASHSIM_ENV_REALTIME "=1");
  if (!bufsiz.empty()) settings.push_back(std::string(FLASHSIM_ENV_BUFSIZ "=") + bufsiz);
  if (!overhead.empty()) settings.push_back(std::string(FLASHSIM_ENV_OVERHEAD "=") + overhead);
  if (!faults.empty()) settings.push_back(std::string(FLASHSIM_ENV_FAULTS "=") + faults);

  std::string library = absolute(lib.empty() ? default_library() : lib);
  if (::access(library.c_str(), R_OK) != 0)
    return fail(args.command, "cannot read the library " + library);
  std::vector<std::string> argv = split_words(emulator);
  bool emulated = !argv.empty();
  if (emulated) {
    // The emulator itself must not load a library built for its guest.
    argv.push_back("-E");
    argv.push_back("LD_PRELOAD=" + library);
  }
  argv.insert(argv.end(), command.begin(), command.end());
  std::vector<std::string> env = child_environment(settings, emulated ? "" : library);

  if (statically_linked(emulated ? command[0] : argv[0], child_path(env)))
    std::fprintf(stderr,
                 "flashsim run: %s is statically linked: libflashsim.so cannot be loaded into "
                 "it, so it cannot reach the simulated %s\n",
                 command[0].c_str(), device.empty() ? flashsim::DEFAULT_DEVICE : device.c_str());
  int exitStatus = run_command_tree(argv, env);

  run = flashsim::RunCounters();
  if (summary && !flashsim::read_summary(state, &run, &total, &error)) {
    fail(args.command, error);
  } else if (summary) {
    print_counters(stderr, "flashsim summary of this run:", "run", run, keys);
  }
  return exitStatus;
}

}  // namespace tool
