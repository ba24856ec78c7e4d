// SPDX-License-Identifier: MIT
// The test harness's own time limit: a program still running when it runs out
// is killed with everything it started, and the case it belongs to fails.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "process.h"

namespace {

TEST(HarnessTimeLimit, AProgramPastItIsKilledWithItsWholeGroupAndFailsTheCase) {
  TempDir dir;
  std::string limitBefore = env_or("ROMFLASH_TEST_TIME_LIMIT", "60");
  setenv("ROMFLASH_TEST_TIME_LIMIT", "2", 1);
  ProcessResult result;
  // The shell (the group's leader) and a child of its own both outlast the limit.
  const Lines shell = {"sh", "-c", "printf %s $$ >" + dir.file("group") + "; sleep 60 & sleep 60"};
  EXPECT_NONFATAL_FAILURE(result = run_process(shell), "still running after 2 s");
  setenv("ROMFLASH_TEST_TIME_LIMIT", limitBefore.c_str(), 1);
  EXPECT_EQ(result.exitStatus, -1);
  std::string group = read_file(dir.file("group"));
  // SIGKILL is on its way to every member; let the kernel finish them (a zombie has exited).
  ProcessResult alive;
  Lines pgrep = {"pgrep", "-g", group, "-r", "R,S,D,T,t"};
  for (int i = 0; i < 50 && (alive = run_process(pgrep)).exitStatus == 0; ++i) usleep(100000);
  EXPECT_EQ(alive.exitStatus, 1) << "left alive:\n" << alive.out << alive.err;
}

}  // namespace
