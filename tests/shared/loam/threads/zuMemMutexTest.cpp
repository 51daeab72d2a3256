#include <gtest/gtest.h>

#include <thread>

#include "loam/platform/zuPlatformThread.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuMemMutex.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuStMutex.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

TEST(zuMemMutex, HeldByOwnerUntilTheLastOfThreeUnlocks) {
  zuMemMutex m;
  const u32 me = zuPlatform::currentThreadId();
  EXPECT_FALSE(m.isLocked());
  for (u32 depth = 1; depth <= 3; ++depth) {
    ASSERT_TRUE(m.lock());
    EXPECT_EQ(m.count(), depth);
    EXPECT_EQ(m.owner(), me);
  }
  for (u32 left = 2; left >= 1; --left) {
    m.unlock();
    EXPECT_TRUE(m.isLocked());
    EXPECT_EQ(m.owner(), me);
    EXPECT_EQ(m.count(), left);
  }
  m.unlock();
  EXPECT_FALSE(m.isLocked());
  EXPECT_EQ(m.owner(), 0u);
  m.unlock();  // once free, a further unlock does nothing
  EXPECT_FALSE(m.isLocked());
}

TEST(zuMemMutex, UnlockByNonOwnerChangesNothing) {
  zuMemMutex m;
  m.lock();
  m.lock();
  const u32 me = zuPlatform::currentThreadId();
  std::thread([&] {
    m.unlock();
    m.unlock();
    m.unlock();
  }).join();
  EXPECT_EQ(m.owner(), me);
  EXPECT_EQ(m.count(), 2u);
  m.unlock();
  m.unlock();
  EXPECT_FALSE(m.isLocked());
}

TEST(zuMemMutex, WaiterGetsTheLockWhenTheOwnerLetsGo) {
  zuMemMutex m;
  zuSingleEvent trying, got;
  m.lock();
  u32 theirs = 0;
  std::thread other([&] {
    trying.set();
    m.lock();
    theirs = zuPlatform::currentThreadId();
    got.set();
    m.unlock();
  });
  ASSERT_TRUE(zuPlatform::waitForOne(trying.handle(), kBoundMs));
  EXPECT_FALSE(got.isSet());
  m.unlock();
  EXPECT_TRUE(zuPlatform::waitForOne(got.handle(), kBoundMs));
  other.join();
  EXPECT_NE(theirs, zuPlatform::currentThreadId());
  EXPECT_FALSE(m.isLocked());
}

TEST(zuMemMutex, ExcludesOtherThreadsAcrossNestedLocks) {
  zuMemMutex m;
  long counter = 0;  // plain on purpose: only the lock keeps it whole
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      zuStMutex outer(m);
      zuStMutex inner(m);
      ++counter;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_FALSE(m.isLocked());
}

TEST(zuGlobalLocks, AreFourDistinctFreeLocksAtStart) {
  zuMemMutex* const locks[] = {&zuLogLock, &zuEventLock, &zuRegistryLock, &zuMessageQueueLock};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(locks[i]->isLocked()) << i;
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(locks[i], locks[j]);
  }
  // The allowed nesting: an event changes state under the registry lock.
  zuStMutex registry(zuRegistryLock);
  zuSingleEvent finished;
  finished.set();
  EXPECT_TRUE(finished.isSet());
  EXPECT_FALSE(zuEventLock.isLocked());
}

}  // namespace
