#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string capture_path(const std::string& dir, const char* name) { return dir + "/" + name; }

std::vector<char*> c_strings(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (auto& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnv) {
  TempDir captures;
  std::string outPath = capture_path(captures.path, "stdout");
  std::string errPath = capture_path(captures.path, "stderr");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& extra : extraEnv) env.push_back(extra);
  std::vector<char*> argPointers = c_strings(args);
  std::vector<char*> envPointers = c_strings(env);

  pid_t pid = -1;
  int spawnError = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(),
                                envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ProcessResult result{127, "", ""};
  if (spawnError != 0) {
    result.err = "cannot start " + args[0] + ": " + std::strerror(spawnError);
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(outPath);
  result.err = read_file(errPath);
  return result;
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

bool file_exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  std::istringstream in(text);
  while (in >> word) words.push_back(word);
  return words;
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

TempDir::TempDir() {
  std::string pattern = env_or("TMPDIR", "/tmp") + "/romflash-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) std::abort();
  path = buffer.data();
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path + "'";
  if (std::system(command.c_str()) != 0) {
    // Leaving a temporary directory behind is harmless; the test result stands.
  }
}
