#include <gtest/gtest.h>

#include "loam/threads/zuMemMutex.h"
#include "loam/threads/zuStMutex.h"

namespace {

// Counts the calls it gets and answers lock with a fixed result.
class CountingMutex : public zuMutex {
 public:
  explicit CountingMutex(bool result) : result_(result) {}
  bool lock() override {
    ++locks;
    return result_;
  }
  void unlock() override { ++unlocks; }
  bool isLocked() const override { return false; }
  int locks = 0;
  int unlocks = 0;

 private:
  bool result_;
};

TEST(zuStMutex, FailedLockIsNeverUnlocked) {
  CountingMutex m(false);
  {
    zuStMutex hold(m);
    EXPECT_FALSE(hold.isHeld());
    hold.unlock();
  }
  EXPECT_EQ(m.locks, 1);
  EXPECT_EQ(m.unlocks, 0);
}

TEST(zuStMutex, HeldLockIsUnlockedOnceEvenAfterEarlyRelease) {
  CountingMutex m(true);
  {
    zuStMutex hold(m);
    EXPECT_TRUE(hold.isHeld());
    hold.lock();  // already held: no second lock
    EXPECT_EQ(m.locks, 1);
    hold.unlock();
    EXPECT_FALSE(hold.isHeld());
    hold.unlock();
  }
  EXPECT_EQ(m.unlocks, 1);
  {
    zuStMutex hold(m);
    hold.unlock();
    hold.lock();  // re-taken after an early release
  }
  EXPECT_EQ(m.locks, 3);
  EXPECT_EQ(m.unlocks, 3);
}

TEST(zuStMutex, ReleasesARealLockAtScopeEnd) {
  zuMemMutex m;
  {
    zuStMutex hold(m);
    EXPECT_TRUE(m.isLocked());
  }
  EXPECT_FALSE(m.isLocked());
}

}  // namespace
