#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "loam/platform/zuPlatformThread.h"

namespace {

TEST(PlatformThread, IdIsNonZeroStableAndPerThread) {
  const u32 mine = zuPlatform::currentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(zuPlatform::currentThreadId(), mine);
  u32 theirs = 0;
  std::thread([&] { theirs = zuPlatform::currentThreadId(); }).join();
  EXPECT_NE(theirs, 0u);
  EXPECT_NE(theirs, mine);
}

TEST(PlatformThread, ForkedChildGetsItsOwnId) {
  const u32 parent = zuPlatform::currentThreadId();  // cached before the fork
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const u32 child = zuPlatform::currentThreadId();
    _exit(child != 0 && child != parent && child == static_cast<u32>(getpid()) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
