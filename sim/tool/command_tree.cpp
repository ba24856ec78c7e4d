// SPDX-License-Identifier: MIT
// The command of `flashsim run` and everything it starts, kept as one process
// group that never outlives the run: a passed-on SIGTERM or SIGHUP reaches the
// whole group, whatever is left when the command ends is killed, and a watchdog
// process kills the group should `flashsim run` itself be killed outright.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool.h"

namespace tool {

namespace {

// The command's process group, for the signals passed on to it; 0 before the fork.
volatile sig_atomic_t RunningGroup = 0;
volatile sig_atomic_t SignalBeforeFork = 0;
volatile sig_atomic_t SignalPassedOn = 0;

// SIGTERM and SIGHUP are meant for the command: a timeout, a closed terminal
// or a test runner's kill must not leave any of it running on its own.
void pass_on(int signal) {
  SignalPassedOn = signal;
  if (RunningGroup > 0)
    ::kill(-static_cast<pid_t>(RunningGroup), signal);
  else
    SignalBeforeFork = signal;
}

std::vector<char*> c_strings(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (auto& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// Whether the command's group may take the terminal: it is ours, in the foreground.
bool owns_terminal() { return ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

// tcsetpgrp from a background group stops the caller unless SIGTTOU is ignored.
void give_terminal(pid_t group) {
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGTTOU, &ignore, &old);
  ::tcsetpgrp(STDIN_FILENO, group);
  sigaction(SIGTTOU, &old, nullptr);
}

// Waits for `flashsim run` to end: a byte on the pipe when it ends as it should, end of
// file when it was killed, and then the group goes too. Out of the run's own group and
// deaf to the signals a terminal or a runner sends, so that it outlasts the run.
[[noreturn]] void watch(int readEnd, pid_t group) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) ::signal(signal, SIG_IGN);
  ::setpgid(0, 0);
  // Whoever reads the run's output must not wait for the watchdog; errors still go out.
  ::close(STDIN_FILENO);
  ::close(STDOUT_FILENO);
  char byte = 0;
  ssize_t got;
  while ((got = ::read(readEnd, &byte, 1)) < 0 && errno == EINTR) {
  }
  if (got == 0 && ::kill(-group, SIGKILL) == 0)
    std::fprintf(stderr,
                 "flashsim run: killed; the command and every process it started "
                 "were killed with it\n");
  ::_exit(0);
}

[[noreturn]] void start(std::vector<std::string>& argv, std::vector<std::string>& env, pid_t parent,
                        bool terminal) {
  ::setpgid(0, 0);
  if (terminal) give_terminal(::getpid());
  // Should flashsim run and its watchdog both be gone before this took effect, the
  // check after it catches it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(128 + SIGKILL);
  std::vector<char*> argPointers = c_strings(argv);
  std::vector<char*> envPointers = c_strings(env);
  ::execvpe(argPointers[0], argPointers.data(), envPointers.data());
  std::fprintf(stderr, "flashsim run: cannot run %s: %s\n", argv[0].c_str(), std::strerror(errno));
  ::_exit(127);
}

}  // namespace

int run_command_tree(std::vector<std::string> argv, std::vector<std::string> env) {
  // Like system(): the terminal's interrupt is for the program, and we report.
  struct sigaction ignore {
  }, oldInt{}, oldQuit{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &oldInt);
  sigaction(SIGQUIT, &ignore, &oldQuit);
  struct sigaction forward {
  }, oldTerm{}, oldHup{};
  forward.sa_handler = pass_on;
  sigemptyset(&forward.sa_mask);
  forward.sa_flags = SA_RESTART;
  RunningGroup = 0;
  SignalBeforeFork = 0;
  SignalPassedOn = 0;
  sigaction(SIGTERM, &forward, &oldTerm);
  sigaction(SIGHUP, &forward, &oldHup);
  auto restore_signals = [&]() {
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
  };
  int watchPipe[2];
  if (::pipe2(watchPipe, O_CLOEXEC) != 0) {
    restore_signals();
    return fail("run", std::string("pipe: ") + std::strerror(errno));
  }
  bool terminal = owns_terminal();
  std::fflush(nullptr);
  pid_t parent = ::getpid();
  pid_t child = ::fork();
  if (child == 0) {
    restore_signals();
    start(argv, env, parent, terminal);
  }
  pid_t watchdog = child < 0 ? -1 : ::fork();
  if (watchdog == 0) {
    ::close(watchPipe[1]);
    watch(watchPipe[0], child);
  }
  ::close(watchPipe[0]);
  if (child < 0 || watchdog < 0) {
    int failure = errno;
    if (child > 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
    ::close(watchPipe[1]);
    restore_signals();
    return fail("run", std::string("fork: ") + std::strerror(failure));
  }
  ::setpgid(child, child);  // as the child does itself: whichever comes first
  RunningGroup = child;
  if (SignalBeforeFork != 0) ::kill(-child, SignalBeforeFork);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // What the command left behind goes with it; the watchdog is then told all is well.
  bool leftOver = ::kill(-child, SIGKILL) == 0;
  if (terminal) give_terminal(::getpgrp());
  ssize_t told = ::write(watchPipe[1], "x", 1);
  ::close(watchPipe[1]);
  while (::waitpid(watchdog, nullptr, 0) < 0 && errno == EINTR) {
  }
  restore_signals();
  if (SignalPassedOn != 0)
    std::fprintf(stderr,
                 "flashsim run: %s: passed on to the command and every process it started\n",
                 sigabbrev_np(SignalPassedOn));
  else if (leftOver)
    std::fprintf(stderr, "flashsim run: processes the command left running were killed\n");
  (void)told;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tool
