// The test harness's own time limit: a program still running when it runs out
// is killed with everything it started, and the case it belongs to fails.
#include <dirent.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "process.h"

namespace {

// Members of the process group that are still alive (a zombie has exited).
int live_members(int group) {
  int live = 0;
  DIR* proc = opendir("/proc");
  while (dirent* entry = readdir(proc)) {
    std::string stat = read_file(std::string("/proc/") + entry->d_name + "/stat");
    size_t nameEnd = stat.rfind(')');  // the name may hold blanks and parentheses
    char state = 0;
    int parent = 0, pgrp = 0;
    if (nameEnd != std::string::npos &&
        std::sscanf(stat.c_str() + nameEnd + 1, " %c %d %d", &state, &parent, &pgrp) == 3 &&
        pgrp == group && state != 'Z' && state != 'X') {
      ++live;
    }
  }
  closedir(proc);
  return live;
}

TEST(HarnessTimeLimit, AProgramPastItIsKilledWithItsWholeGroupAndFailsTheCase) {
  TempDir dir;
  std::string limitBefore = env_or("ROMFLASH_TEST_TIME_LIMIT", "60");
  setenv("ROMFLASH_TEST_TIME_LIMIT", "2", 1);
  testing::TestPartResultArray failures;
  ProcessResult result;
  {
    testing::ScopedFakeTestPartResultReporter capture(&failures);
    // The shell (the group's leader) and a child of its own both outlast the limit.
    result = run_process({"sh", "-c", "echo $$ >" + dir.file("group") + "; sleep 60 & sleep 60"});
  }
  setenv("ROMFLASH_TEST_TIME_LIMIT", limitBefore.c_str(), 1);

  EXPECT_EQ(result.exitStatus, -1);
  ASSERT_EQ(failures.size(), 1);
  EXPECT_TRUE(failures.GetTestPartResult(0).failed());
  EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("still running after 2 s"),
            std::string::npos);
  int group = std::atoi(read_file(dir.file("group")).c_str());
  ASSERT_GT(group, 0);
  // SIGKILL is on its way to every member; let the kernel finish them.
  for (int tries = 0; tries < 250 && live_members(group) > 0; ++tries) usleep(20000);
  EXPECT_EQ(live_members(group), 0);
}

}  // namespace
