#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <thread>

#include "loam/platform/zuPlatformThread.h"
#include "support/TestSupport.h"

namespace {

using zuPlatform::Thread;

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

// What a procedure saw, shared with the test.
struct Probe {
  std::atomic<int> calls{0};
  std::atomic<bool> creatorDone{false};
  std::atomic<bool> sawCreatorDone{false};
  std::atomic<u32> id{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> tail{-1};  // enterTail's answer
};

void recordingProcedure(void* raw) {
  auto* p = static_cast<Probe*>(raw);
  p->sawCreatorDone = p->creatorDone.load();
  p->id = zuPlatform::currentThreadId();
  ++p->calls;
}

void blockingProcedure(void* raw) {
  auto* p = static_cast<Probe*>(raw);
  ++p->calls;
  p->released.wait();
  p->tail = Thread::enterTail() ? 1 : 0;
}

TEST(PlatformThread, ProcedureWaitsAtTheGateUntilOpened) {
  Probe probe;
  Thread t;
  ASSERT_TRUE(t.create(&recordingProcedure, &probe));
  EXPECT_TRUE(t.joinable());
  EXPECT_NE(t.id(), 0u);
  EXPECT_NE(t.id(), zuPlatform::currentThreadId());
  EXPECT_FALSE(t.waitEnded(0));
  // Whatever the creator does now happens before the procedure runs.
  probe.creatorDone = true;
  t.open();
  t.join();
  EXPECT_FALSE(t.joinable());
  EXPECT_EQ(probe.calls.load(), 1);
  EXPECT_TRUE(probe.sawCreatorDone.load());
  EXPECT_EQ(probe.id.load(), t.id());
  EXPECT_TRUE(t.waitEnded(0));
}

TEST(PlatformThread, CancelNeverRunsTheProcedure) {
  Probe probe;
  Thread t;
  ASSERT_TRUE(t.create(&recordingProcedure, &probe));
  t.cancel();
  EXPECT_FALSE(t.joinable());
  EXPECT_EQ(probe.calls.load(), 0);
}

TEST(PlatformThread, CreationFailureSeamFailsWithEagain) {
  Probe probe;
  Thread t;
  Thread::failCreationsForTest(1);
  errno = 0;
  EXPECT_FALSE(t.create(&recordingProcedure, &probe));
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_FALSE(t.joinable());
  ASSERT_TRUE(t.create(&recordingProcedure, &probe));
  t.open();
  t.join();
  EXPECT_EQ(probe.calls.load(), 1);
}

TEST(PlatformThread, AbandonedThreadGoesOnAloneAndSkipsItsTail) {
  auto probe = std::make_shared<Probe>();
  {
    Thread t;
    ASSERT_TRUE(t.create(&blockingProcedure, probe.get()));
    t.open();
    EXPECT_FALSE(t.waitEnded(20));
    EXPECT_TRUE(t.abandon());
    EXPECT_FALSE(t.joinable());
    t.join();  // nothing left to join: returns at once
  }            // the owner is gone while the thread still runs
  probe->release.set_value();
  ASSERT_TRUE(tw::test::eventually([&] { return probe->tail.load() != -1; }));
  EXPECT_EQ(probe->tail.load(), 0);
}

TEST(PlatformThread, AbandonIsRefusedOnceTheTailBegan) {
  Probe probe;
  Thread t;
  ASSERT_TRUE(t.create(&blockingProcedure, &probe));
  t.open();
  probe.release.set_value();
  ASSERT_TRUE(t.waitEnded(static_cast<u32>(tw::test::kFailBound.count())));
  EXPECT_FALSE(t.abandon());
  EXPECT_TRUE(t.joinable());
  t.join();
  EXPECT_EQ(probe.tail.load(), 1);
}

TEST(PlatformThread, JoinFromSeveralThreadsAtOnce) {
  Probe probe;
  Thread t;
  ASSERT_TRUE(t.create(&blockingProcedure, &probe));
  t.open();
  std::thread a([&] { t.join(); });
  std::thread b([&] { t.join(); });
  probe.release.set_value();
  a.join();
  b.join();
  EXPECT_FALSE(t.joinable());
}

TEST(PlatformThread, JoinOnANeverCreatedThreadReturns) {
  Thread t;
  EXPECT_FALSE(t.joinable());
  EXPECT_TRUE(t.waitEnded(0));
  t.join();
  EXPECT_FALSE(t.abandon());
}

}  // namespace
