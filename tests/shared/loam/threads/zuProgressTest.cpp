#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuProgress.h"
#include "support/TestSupport.h"

namespace {

// The positions at which a step-by-step run from 0 sets the event.
std::set<u32> signalledPositions(u32 total, u32 to) {
  zuProgress p(0, total, 0);
  std::set<u32> at;
  u32 first = 0, t = 0, pos = 0;
  for (u32 i = 1; i <= to; ++i) {
    p.step();
    if (p.changeEvent().isSet()) at.insert(i);
    p.read(first, t, pos);
    EXPECT_EQ(pos, i);
    EXPECT_FALSE(p.changeEvent().isSet());
  }
  return at;
}

TEST(zuProgress, SignalsOnEachWholePercentAndOnEveryStepNearTheEnd) {
  const std::set<u32> at = signalledPositions(1000, 1000);
  struct Case {
    u32 position;
    bool signalled;
  };
  const Case cases[] = {{1, false},  {9, false},  {10, true},  {11, false},
                        {19, false}, {20, true},  {500, true}, {989, false},
                        {990, true}, {991, true}, {995, true}, {1000, true}};
  for (const Case& c : cases) EXPECT_EQ(at.count(c.position) == 1, c.signalled) << c.position;
  EXPECT_EQ(at.size(), 99u + 10u);  // 1 % to 99 %, then each of 991 to 1000
}

TEST(zuProgress, SmallTotalsSignalEveryStep) {
  EXPECT_EQ(signalledPositions(5, 7).size(), 7u);
  EXPECT_EQ(signalledPositions(0, 3).size(), 3u);
}

TEST(zuProgress, LargeTotalsDoNotOverflow) {
  // p x 100 overflows 32 bits from p = 42949673 on.
  zuProgress p(0, 4000000000u, 0);
  p.setPosition(42949673u);  // 1.07 %
  EXPECT_TRUE(p.changeEvent().isSet());
  u32 first = 0, total = 0, pos = 0;
  p.read(first, total, pos);
  p.setPosition(42949674u);  // still 1 %
  EXPECT_FALSE(p.changeEvent().isSet());
  p.setPosition(2000000000u);  // 50 %
  EXPECT_TRUE(p.changeEvent().isSet());
}

TEST(zuProgress, ResetStartsOverAndSignals) {
  zuProgress p(7, 100, 50);
  u32 first = 0, total = 0, pos = 0;
  p.read(first, total, pos);
  EXPECT_EQ(first, 7u);
  EXPECT_EQ(total, 100u);
  EXPECT_EQ(pos, 50u);
  p.reset(99, 300);
  EXPECT_TRUE(p.changeEvent().isSet());
  p.read(first, total, pos);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(total, 300u);
  EXPECT_EQ(pos, 0u);
  EXPECT_FALSE(p.changeEvent().isSet());
}

TEST(zuProgress, AReaderOnAnotherThreadSeesTheLastChange) {
  zuProgress p(0, 100, 0);
  std::thread writer([&p] {
    for (int i = 0; i < 100; ++i) p.step();
  });
  u32 first = 0, total = 0, pos = 0;
  while (pos < 100) {
    ASSERT_TRUE(zuPlatform::waitForOne(p.changeEvent().handle(),
                                       static_cast<u32>(tw::test::kFailBound.count())));
    p.read(first, total, pos);
  }
  writer.join();
  EXPECT_EQ(pos, 100u);
}

}  // namespace
