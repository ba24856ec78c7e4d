// SPDX-License-Identifier: MIT
#include "process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace {

std::vector<char*> c_strings(Lines& words) {
  std::vector<char*> pointers{nullptr};
  for (auto word = words.rbegin(); word != words.rend(); ++word)
    pointers.insert(pointers.begin(), &(*word)[0]);
  return pointers;
}

double seconds_now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Waits for the child; on the time limit the whole group goes, grandchildren too.
int wait_or_kill(pid_t pid, const std::string& what) {
  const double limit = std::atof(env_or("ROMFLASH_TEST_TIME_LIMIT", "60").c_str());
  const double deadline = seconds_now() + limit;
  long pauseNs = 100000;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (seconds_now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << what << " was still running after " << limit
                    << " s; its process group was killed";
      return -1;
    }
    timespec pause{0, pauseNs};
    nanosleep(&pause, nullptr);
    pauseNs = std::min(pauseNs * 2, 5000000L);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProcessResult run_process(const Lines& argv, const Lines& extraEnv, const std::string& name) {
  TempDir captures;
  std::string outPath = captures.file("stdout"), errPath = captures.file("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

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
  return {status, read_file(outPath), read_file(errPath)};
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Lines split(const std::string& text, char separator) {
  Lines pieces;
  std::string piece;
  std::istringstream in(text);
  while (std::getline(in, piece, separator)) pieces.push_back(piece);
  return pieces;
}

Lines split_words(const std::string& text) {
  std::istringstream in(text);
  return Lines(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

TempDir::TempDir() {
  std::string pattern = env_or("TMPDIR", "/tmp") + "/romflash-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) std::abort();
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;  // a directory left behind does not change the result
  std::filesystem::remove_all(path, ignored);
}
