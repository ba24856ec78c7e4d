// SPDX-License-Identifier: MIT
// What no run on the simulated chip can show: row 0 of the command table as a
// selection, and a pause that a signal must not shorten (the simulator's sleeps
// are virtual).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cstring>

#include "flash/flash.h"

namespace {

TEST(SelectCommand, UnknownIdsLeaveTheRecordAndRowZeroOverwritesIt) {
  FlashCommand cmd{}, before{};
  ASSERT_EQ(select_command(&cmd, RDCR), static_cast<uint32_t>(RDCR));
  cmd.address = 0x1234;
  before = cmd;
  EXPECT_EQ(select_command(&cmd, COMMAND_COUNT) + select_command(&cmd, 0xFFFFFFFF), 0u);
  EXPECT_EQ(std::memcmp(&cmd, &before, sizeof cmd), 0);
  // Row 0 has id 0: it is found (index 0, which callers read as "not found") and copied.
  EXPECT_EQ(select_command(&cmd, 0), 0u);
  EXPECT_TRUE(cmd.name[0] == '\0' && cmd.txLength == 0 && cmd.address == NO_VALUE);
}

volatile sig_atomic_t alarmsSeen = 0;
void count_alarm(int) { alarmsSeen = alarmsSeen + 1; }

TEST(SleepFor, ASignalDuringThePauseDoesNotShortenIt) {
  struct sigaction action = {}, previous;
  action.sa_handler = count_alarm;  // no SA_RESTART: nanosleep returns EINTR
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval every40ms = {{0, 40000}, {0, 40000}}, off = {};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every40ms, nullptr), 0);
  auto start = std::chrono::steady_clock::now();
  sleep_for(0, 300000000);
  auto slept = std::chrono::steady_clock::now() - start;
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(alarmsSeen, 2);  // the pause was interrupted
  EXPECT_GE(slept, std::chrono::milliseconds(299));
}

}  // namespace
