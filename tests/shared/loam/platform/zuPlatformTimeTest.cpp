#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "loam/platform/zuPlatformTime.h"
#include "support/TimeTestSupport.h"

namespace {

class zuPlatformTimeTest : public tw::test::ClockSeamTest {};

std::string text(const zuPlatform::LocalTime& t) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned{t.year},
           unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
           unsigned{t.second}, unsigned{t.millisecond});
  return buffer;
}

TEST_F(zuPlatformTimeTest, FixedTickIsFoldedAndReleased) {
  zuPlatform::setFixedTickForTest(0xFFFFFFFFull);
  EXPECT_EQ(zuPlatform::tickCount64(), 0xFFFFFFFFull);
  EXPECT_EQ(zuPlatform::tickCount(), 0u);
  zuPlatform::setFixedTickForTest(0xFFFFFFFEull + 0xFFFFFFFFull);
  EXPECT_EQ(zuPlatform::tickCount(), 0xFFFFFFFEu);
  zuPlatform::setFixedTickForTest(std::nullopt);
  // Back on the clock, which moves on from wherever it was.
  const u64 a = zuPlatform::tickCount64();
  const u64 b = zuPlatform::tickCount64();
  EXPECT_LE(a, b);
}

TEST_F(zuPlatformTimeTest, OffsetShiftsTheRunningClock) {
  const u64 before = zuPlatform::tickCount64();
  zuPlatform::setTickOffsetForTest(1000000000);
  const u64 shifted = zuPlatform::tickCount64();
  zuPlatform::setTickOffsetForTest(0);
  const u64 after = zuPlatform::tickCount64();
  EXPECT_GE(shifted, before + 1000000000);
  EXPECT_LE(shifted, after + 1000000000);
}

TEST_F(zuPlatformTimeTest, LocalNowFollowsTheTimeZone) {
  zuPlatform::setNowForTest(1236429296789);  // 2009-03-07 12:34:56.789 UTC
  setZone("UTC");
  EXPECT_EQ(text(zuPlatform::localNow()), "2009-03-07 12:34:56.789");
  setZone("XYZ-13");
  EXPECT_EQ(text(zuPlatform::localNow()), "2009-03-08 01:34:56.789");
  setZone("XYZ+5");
  EXPECT_EQ(text(zuPlatform::localNow()), "2009-03-07 07:34:56.789");
  zuPlatform::setNowForTest(-1);  // just before 1970 UTC
  setZone("UTC");
  EXPECT_EQ(text(zuPlatform::localNow()), "1969-12-31 23:59:59.999");
}

TEST_F(zuPlatformTimeTest, RealNowIsThisCentury) {
  zuPlatform::setNowForTest(std::nullopt);
  const zuPlatform::LocalTime t = zuPlatform::localNow();
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
}

TEST_F(zuPlatformTimeTest, ToLocalTime) {
  setZone("UTC");
  zuPlatform::LocalTime t;
  ASSERT_TRUE(zuPlatform::toLocalTime(0, 5, t));
  EXPECT_EQ(text(t), "1970-01-01 00:00:00.005");
  ASSERT_TRUE(zuPlatform::toLocalTime(951782400, 0, t));
  EXPECT_EQ(text(t), "2000-02-29 00:00:00.000");
  // Years that do not fit 16 bits are refused, the output untouched.
  EXPECT_FALSE(zuPlatform::toLocalTime(i64{1} << 50, 0, t));
  EXPECT_EQ(text(t), "2000-02-29 00:00:00.000");
}

}  // namespace
