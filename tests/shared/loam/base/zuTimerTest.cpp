#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "loam/base/zuTimer.h"
#include "support/TestSupport.h"
#include "support/TimeTestSupport.h"

namespace {

class zuTimerTest : public tw::test::LocalClockTest {
 protected:
  // A timer stamped at the given raw tick (before folding).
  static zuTimer startedAt(u64 rawTick) {
    zuPlatform::setFixedTickForTest(rawTick);
    return zuTimer();
  }
};

TEST_F(zuTimerTest, TickCountFoldsModuloAllOnes) {
  struct Case {
    u64 raw;
    u32 tick;
  } const cases[] = {
      {0, 0},
      {0xFFFFFFFE, 0xFFFFFFFE},
      {0xFFFFFFFF, 0},  // the all-ones value reads as 0
      {0x100000000, 1},
      {0x1FFFFFFFE, 0},  // two whole periods
      {0x1FFFFFFFD, 0xFFFFFFFE},
  };
  for (const Case& c : cases) {
    zuPlatform::setFixedTickForTest(c.raw);
    EXPECT_EQ(zuGetTickCount(), c.tick) << std::hex << c.raw;
  }
}

TEST_F(zuTimerTest, ElapsedAcrossTheWrap) {
  // The stated case: stamp 0xFFFFFF00, reading 0x100.
  zuTimer t = startedAt(0xFFFFFF00);
  zuPlatform::setFixedTickForTest(0x100);
  EXPECT_EQ(t.elapsed(), 0x1FFu);

  // With the fold the wrap costs nothing: the elapsed time is the real one.
  struct Case {
    u64 start;
    u64 passed;
  } const cases[] = {
      {0, 0},          {1000, 250},          {0xFFFFFF00, 0x200}, {0xFFFFFFFE, 1},
      {0xFFFFFFFD, 2}, {0xFFFFFFFE, 0x7FFF}, {5, 0xFFFFFFFE},     {0x2FFFFFF00, 0x1000},
  };
  for (const Case& c : cases) {
    zuTimer timer = startedAt(c.start);
    zuPlatform::setFixedTickForTest(c.start + c.passed);
    EXPECT_EQ(timer.elapsed(), c.passed) << std::hex << c.start << " + " << c.passed;
  }
}

TEST_F(zuTimerTest, RunningClockCrossesTheWrap) {
  // Put the real clock 100 ms below the fold and wait for it to pass.
  zuPlatform::setTickOffsetForTest(0);
  const u64 below = (0xFFFFFFFEull - 100 + 0xFFFFFFFF - zuGetTickCount()) % 0xFFFFFFFF;
  zuPlatform::setTickOffsetForTest(below);
  const u64 before = zuPlatform::tickCount64();
  zuTimer timer;
  const u64 after = zuPlatform::tickCount64();
  ASSERT_GT(timer.stamp(), 0xFFFF0000u);
  ASSERT_TRUE(tw::test::eventually([] { return zuGetTickCount() < 0x10000000; }));
  const u64 readBefore = zuPlatform::tickCount64();
  const u32 elapsed = timer.elapsed();
  const u64 readAfter = zuPlatform::tickCount64();
  EXPECT_GE(elapsed, readBefore - after);
  EXPECT_LE(elapsed, readAfter - before);
}

TEST_F(zuTimerTest, DifferenceIsSignedByStartOrderAndClamped) {
  struct Case {
    u64 first;     // stamp of the timer started first
    u64 second;    // stamp of the one started after it
    i32 forward;   // difference(first, second)
    i32 backward;  // difference(second, first)
  } const cases[] = {
      {1000, 1500, 500, -500},
      {1500, 1000, 0x7FFFFFFF, INT32_MIN},  // stamps out of start order: a long span
      {0xFFFFFF00, 0xFFFFFF00ull + 0x200, 0x200, -0x200},
      {0, 0x7FFFFFFE, 0x7FFFFFFE, -0x7FFFFFFE},
      {0, 0x7FFFFFFF, 0x7FFFFFFF, INT32_MIN},  // a span of 0x7FFFFFFF already reads as the minimum
      {0, 0x80000000, 0x7FFFFFFF, INT32_MIN},
      {0, 0xFFFFFFFE, 0x7FFFFFFF, INT32_MIN},
      {7, 7, 0, 0},
  };
  for (const Case& c : cases) {
    const zuTimer a = startedAt(c.first);
    const zuTimer b = startedAt(c.second);
    ASSERT_TRUE(a.isEarlier(b));
    EXPECT_EQ(zuTimer::difference(a, b), c.forward) << std::hex << c.first << " " << c.second;
    EXPECT_EQ(zuTimer::difference(b, a), c.backward) << std::hex << c.first << " " << c.second;
  }
}

TEST_F(zuTimerTest, SequenceOrdersStartsAndCopiesKeepBothFields) {
  zuTimer a = startedAt(100);
  zuTimer b = startedAt(50);
  EXPECT_EQ(b.sequence(), a.sequence() + 1);
  EXPECT_TRUE(a.isEarlier(b));
  EXPECT_FALSE(b.isEarlier(a));
  EXPECT_FALSE(a.isEarlier(a));

  a.start();  // restarting takes a new, later number
  EXPECT_TRUE(b.isEarlier(a));

  const zuTimer copy(b);
  EXPECT_EQ(copy.sequence(), b.sequence());
  EXPECT_EQ(copy.stamp(), 50u);
  zuTimer assigned = a;
  assigned = b;
  EXPECT_EQ(assigned.sequence(), b.sequence());
  EXPECT_EQ(assigned.stamp(), b.stamp());

  assigned.clear();
  EXPECT_EQ(assigned.sequence(), 0u);
  EXPECT_EQ(assigned.stamp(), 0u);
}

TEST_F(zuTimerTest, ConcurrentStartsNeverShareASequenceNumber) {
  constexpr int kThreads = 8;
  constexpr int kStarts = 20000;
  std::vector<std::vector<u32>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&seen, i] {
      zuTimer t;
      for (int n = 0; n < kStarts; ++n) {
        t.start();
        seen[static_cast<std::size_t>(i)].push_back(t.sequence());
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<u32> all;
  for (const auto& list : seen) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads) * kStarts);
}

TEST_F(zuTimerTest, ElapsedText) {
  struct Case {
    u32 ms;
    const char* text;
  } const cases[] = {
      {0, "00:00:00:00"},
      {4, "00:00:00:04"},
      {125, "00:00:00:125"},
      {3723004, "01:02:03:04"},
      {59999, "00:00:59:999"},
      {36000000 + 600000 + 10000 + 10, "10:10:10:10"},
      {0xFFFFFFFE, "1193:02:47:294"},
  };
  for (const Case& c : cases) {
    zuTimer t = startedAt(1000);
    zuPlatform::setFixedTickForTest(1000 + u64{c.ms});
    std::string out = "old text";
    EXPECT_EQ(&t.elapsedText(out), &out);
    EXPECT_EQ(out, c.text) << c.ms;
  }
}

}  // namespace
