// SPDX-License-Identifier: MIT
#include "process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

// Waits for the child; on the time limit the whole group goes, grandchildren too.
int wait_or_kill(pid_t pid, const std::string& what) {
  using Clock = std::chrono::steady_clock;
  const double limit = std::atof(env_or("ROMFLASH_TEST_TIME_LIMIT", "60").c_str());
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(long(limit * 1000));
  std::chrono::microseconds pause(100);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << what << " was still running after " << limit
                    << " s; its process group was killed";
      return -1;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProcessResult run_process(const Lines& argv, const Lines& extraEnv, const std::string& name) {
  TempDir captures;  // standard output in "1", standard error in "2"
  Lines args = argv;
  if (!name.empty()) args[0] = name;
  std::vector<char*> argPointers;
  for (auto& word : args) argPointers.push_back(&word[0]);
  argPointers.push_back(nullptr);
  const std::string out = captures.file("1"), err = captures.file("2");
  std::fflush(nullptr);  // nothing of this process's own output goes to the child's files
  pid_t pid = fork();
  if (pid == 0) {  // a process group of its own, standard input from /dev/null
    setpgid(0, 0);
    for (const auto& variable : extraEnv) putenv(strdup(variable.c_str()));
    if (freopen("/dev/null", "r", stdin) && freopen(out.c_str(), "w", stdout) &&
        freopen(err.c_str(), "w", stderr))
      execvp(argv[0].c_str(), argPointers.data());
    dprintf(2, "cannot start %s: %s\n", argv[0].c_str(), std::strerror(errno));
    _exit(127);
  }
  if (pid < 0) return {127, "", "cannot start " + argv[0] + ": " + std::strerror(errno)};
  setpgid(pid, pid);  // also here: the group exists before any kill, whoever runs first
  return {wait_or_kill(pid, argv[0]), read_file(out), read_file(err)};
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Lines split(const std::string& text, char separator) {
  Lines pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, separator);) pieces.push_back(piece);
  return pieces;
}

Lines split_words(const std::string& text) {
  std::istringstream in(text);
  return Lines(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

std::string joined(const Lines& words, const char* separator) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) text += (i ? separator : "") + words[i];
  return text;
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

TempDir::TempDir() : path(env_or("TMPDIR", "/tmp") + "/romflash-test-XXXXXX") {
  if (mkdtemp(&path[0]) == nullptr) std::abort();
}

TempDir::~TempDir() {
  std::error_code ignored;  // a directory left behind does not change the result
  std::filesystem::remove_all(path, ignored);
}
