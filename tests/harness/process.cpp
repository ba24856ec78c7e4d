// SPDX-License-Identifier: MIT
#include "process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::vector<char*> c_strings(Lines& words) {
  std::vector<char*> pointers;
  for (auto& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// Waits for the child; on the time limit the whole group goes, grandchildren too.
int wait_or_kill(pid_t pid, const std::string& what) {
  using Clock = std::chrono::steady_clock;
  const double limit = std::atof(env_or("ROMFLASH_TEST_TIME_LIMIT", "60").c_str());
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(limit));
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
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (int fd : {1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, captures.file(std::to_string(fd)).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);  // a group of its own

  Lines args = argv, env;
  if (!name.empty()) args[0] = name;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env = env + extraEnv;
  std::vector<char*> argPointers = c_strings(args), envPointers = c_strings(env);
  pid_t pid = -1;
  int spawnError = posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, argPointers.data(),
                                envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawnError != 0)
    return {127, "", "cannot start " + argv[0] + ": " + std::strerror(spawnError)};
  int status = wait_or_kill(pid, argv[0]);
  return {status, read_file(captures.file("1")), read_file(captures.file("2"))};
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
