#include <gtest/gtest.h>

#include "loam/base/zuTimeOfDay.h"
#include "support/TimeTestSupport.h"

namespace {

zuTimeOfDay timeOf(u16 h, u16 m, u16 s, u16 ms) {
  zuTimeOfDay t;
  t.set(h, m, s, ms);
  return t;
}

TEST(zuTimeOfDayTest, MillisecondsBothWays) {
  struct Case {
    u16 h, m, s, ms;
    u32 total;
  } const cases[] = {
      {0, 0, 0, 0, 0},
      {1, 2, 3, 4, 3723004},
      {23, 59, 59, 999, 86399999},
      {24, 0, 0, 0, 86400000},  // no range limit on the hour
  };
  for (const Case& c : cases) {
    EXPECT_EQ(timeOf(c.h, c.m, c.s, c.ms).toMilliseconds(), c.total);
    const zuTimeOfDay back(c.total);
    EXPECT_EQ(back.hour(), c.h);
    EXPECT_EQ(back.minute(), c.m);
    EXPECT_EQ(back.second(), c.s);
    EXPECT_EQ(back.millisecond(), c.ms);
  }
  EXPECT_EQ(zuTimeOfDay().toMilliseconds(), 0u);
  EXPECT_EQ(timeOf(0, 61, 0, 0), timeOf(1, 1, 0, 0));  // equal as milliseconds
  EXPECT_FALSE(timeOf(0, 0, 0, 1) == zuTimeOfDay());
}

TEST(zuTimeOfDayTest, ToString) {
  EXPECT_EQ(timeOf(1, 2, 3, 4).toString(':', true), "01:02:03");
  EXPECT_EQ(timeOf(1, 2, 3, 4).toString('.', false), "01.02");
  EXPECT_EQ(timeOf(23, 59, 59, 0).toString(':', true), "23:59:59");
  EXPECT_EQ(timeOf(100, 0, 5, 0).toString('-', true), "100-00-05");
}

TEST(zuTimeOfDayTest, Parse) {
  struct Case {
    const char* text;
    bool ok;
    u16 h, m, s, ms;
  } const cases[] = {
      {"12:30", true, 12, 30, 0, 0},
      {"12:30:15", true, 12, 30, 15, 0},
      {"12:30:15:250", true, 12, 30, 15, 250},
      {"1:2:3:4", true, 1, 2, 3, 4},
      {"25:61:99:5000", true, 25, 61, 99, 5000},  // no field has a range limit
      {"65535:0", true, 65535, 0, 0, 0},
      {"65536:0", false, 0, 0, 0, 0},
      {"12", false, 0, 0, 0, 0},
      {"12:", false, 0, 0, 0, 0},
      {":30", false, 0, 0, 0, 0},
      {"12:30:", false, 0, 0, 0, 0},
      {"12:30x", false, 0, 0, 0, 0},
      {"12:30:15:250:1", false, 0, 0, 0, 0},
      {"12.30", false, 0, 0, 0, 0},
      {" 12:30", false, 0, 0, 0, 0},
      {"12:30 ", false, 0, 0, 0, 0},
      {"-1:30", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    zuTimeOfDay t = timeOf(9, 8, 7, 6);
    EXPECT_EQ(t.parse(c.text), c.ok) << c.text;
    const zuTimeOfDay expected = c.ok ? timeOf(c.h, c.m, c.s, c.ms) : timeOf(9, 8, 7, 6);
    EXPECT_EQ(t.hour(), expected.hour()) << c.text;
    EXPECT_EQ(t.minute(), expected.minute()) << c.text;
    EXPECT_EQ(t.second(), expected.second()) << c.text;
    EXPECT_EQ(t.millisecond(), expected.millisecond()) << c.text;
  }
}

class zuTimeOfDayNowTest : public tw::test::LocalClockTest {};

TEST_F(zuTimeOfDayNowTest, NowIsLocalWithoutMilliseconds) {
  setNowUtc(2009, 3, 7, 23, 30, 15, 789);
  const zuTimeOfDay utc(true);
  EXPECT_EQ(utc.toString(':', true), "23:30:15");
  EXPECT_EQ(utc.millisecond(), 0);
  setZone("XYZ+5");  // five hours west of UTC
  EXPECT_EQ(zuTimeOfDay(true).toString(':', true), "18:30:15");
  EXPECT_EQ(zuTimeOfDay(false), zuTimeOfDay());
}

}  // namespace
