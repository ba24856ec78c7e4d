#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include "flash/flash.h"

namespace {

volatile sig_atomic_t alarmsSeen = 0;
void count_alarm(int) { alarmsSeen = alarmsSeen + 1; }

double seconds_since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

TEST(SleepFor, ASignalDuringThePauseDoesNotShortenIt) {
  struct sigaction action = {};
  action.sa_handler = count_alarm;  // no SA_RESTART: nanosleep returns EINTR
  sigemptyset(&action.sa_mask);
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval timer = {{0, 40000}, {0, 40000}};  // every 40 ms
  ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  sleep_for(0, 300000000);
  double elapsed = seconds_since(start);

  itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(alarmsSeen, 2);
  EXPECT_GE(elapsed, 0.299);
}

}  // namespace
