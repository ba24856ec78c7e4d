// Running a program as a separate process and reading what it left behind.
#pragma once
#include <string>
#include <vector>

struct ProcessResult {
  int exitStatus;   // 0..255, or 128 + signal number when killed
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
};

// Runs argv (argv[0] searched on PATH) with standard input from /dev/null,
// extraEnv ("NAME=value") added to this process's environment.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnv = {});

std::string read_file(const std::string& path);  // "" when missing
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);
std::vector<std::string> split_words(const std::string& text);
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
