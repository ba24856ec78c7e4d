// SPDX-License-Identifier: MIT
// Running a program as a separate process, in a temporary directory of its own.
#pragma once
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

struct ProcessResult {
  int exitStatus;   // 0..255, 128 + signal when killed, -1 when its time limit ran out
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv (argv[0] searched on PATH; `name`, when given, is the argv[0] the
// program sees) with standard input from /dev/null and extraEnv added. The
// program and everything it starts run in a process group of their own, which is
// killed when the time limit (ROMFLASH_TEST_TIME_LIMIT seconds, default 60) runs
// out; that fails the current test.
ProcessResult run_process(const Lines& argv, const Lines& extraEnv = {},
                          const std::string& name = "");

inline Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string read_file(const std::string& path);  // "" when missing
void write_file(const std::string& path, const std::string& bytes);
Lines split(const std::string& text, char separator);  // "" gives no piece
Lines split_words(const std::string& text);
std::string joined(const Lines& words, const char* separator);
std::string env_or(const char* name, const std::string& fallback);

// A fresh directory under $TMPDIR, removed with everything in it on scope exit.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};
