#include <gtest/gtest.h>

#include <string>

#include "loam/base/zuDateTime.h"
#include "support/TimeTestSupport.h"

namespace {

zuDateTime at(u16 day, u16 month, u16 year, u16 hour = 0, u16 minute = 0, u16 second = 0) {
  return zuDateTime(day, month, year, hour, minute, second);
}

std::string iso(const zuDateTime& t) {
  std::string out;
  t.format(out, zuDate::kStyleDashes, true, false, true);
  return out;
}

TEST(zuDateTimeTest, SecondsFromParts) {
  struct Case {
    zuDateTime value;
    u32 seconds;
  } const cases[] = {
      {at(1, 1, 1970), 0},
      {at(1, 1, 1970, 0, 0, 1), 1},
      {at(7, 3, 2009, 12, 34, 56), 1236429296},
      {at(19, 1, 2038, 3, 14, 8), 0x80000000},
      // The last second there is; its day number counts the 29 February 2100
      // of the four-year rule, so this is 7 February by the calendar.
      {at(6, 2, 2106, 6, 28, 15), 0xFFFFFFFF},
      // Before 1970: 0.
      {at(31, 12, 1969, 23, 59, 59), 0},
      {at(1, 1, 1900), 0},
      {at(1, 1, 1800), 0},
      // Past the 32-bit range the value stops at its end instead of wrapping
      // into the 1970s.
      {at(6, 2, 2106, 6, 28, 16), 0xFFFFFFFF},
      {at(1, 1, 2200), 0xFFFFFFFF},
      {at(31, 12, 65535, 23, 59, 59), 0xFFFFFFFF},
      {at(1, 1, 2100, 65535, 65535, 65535), 0xFFFFFFFF},
      {at(1, 1, 1970, 24, 0, 0), 86400},  // fields have no range limit
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.seconds(), c.seconds) << iso(c.value);
  EXPECT_EQ(zuDateTime().seconds(), 0u);
  EXPECT_EQ(zuDateTime(false).seconds(), 0u);
}

TEST(zuDateTimeTest, DateAndTimeOfDayComeBack) {
  const zuDateTime t = at(29, 2, 2000, 23, 59, 58);
  const zuDate d = t.date();
  EXPECT_EQ(d.day(), 29);
  EXPECT_EQ(d.month(), 2);
  EXPECT_EQ(d.year(), 2000);
  EXPECT_EQ(t.timeOfDay().toString(':', true), "23:59:58");
  EXPECT_EQ(t.timeOfDay().millisecond(), 0);

  zuTimeOfDay tod;
  tod.set(23, 59, 58, 999);  // the millisecond is dropped
  EXPECT_EQ(zuDateTime(d, tod), t);
  EXPECT_EQ(zuDateTime(t.seconds()), t);
  zuDateTime s;
  s.set(t.seconds());
  EXPECT_EQ(s, t);
  EXPECT_EQ(iso(zuDateTime(0xFFFFFFFFu)), "2106-02-06 06:28:15");
  EXPECT_EQ(at(6, 2, 2106, 6, 28, 15).seconds(), 0xFFFFFFFFu);
}

TEST(zuDateTimeTest, Add) {
  struct Case {
    zuDateTime from;
    i32 amount;
    i32 unit;
    zuDateTime to;
  } const cases[] = {
      {at(7, 3, 2009, 10), 90, zuDateTime::kSeconds, at(7, 3, 2009, 10, 1, 30)},
      {at(7, 3, 2009, 10), -2, zuDateTime::kMinutes, at(7, 3, 2009, 9, 58)},
      {at(7, 3, 2009, 1), -3, zuDateTime::kHours, at(6, 3, 2009, 22)},
      {at(28, 2, 2009, 10), 1, zuDateTime::kDays, at(1, 3, 2009, 10)},
      {at(7, 3, 2009, 10), 2, zuDateTime::kWeeks, at(21, 3, 2009, 10)},
      // Months: a day past the new month's end becomes the 1st of the next.
      {at(31, 1, 2009, 10, 5, 6), 1, zuDateTime::kMonths, at(1, 3, 2009, 10, 5, 6)},
      {at(15, 1, 2009, 10), -1, zuDateTime::kMonths, at(15, 12, 2008, 10)},
      {at(29, 1, 2008), 1, zuDateTime::kMonths, at(29, 2, 2008)},
      {at(30, 1, 2008), 1, zuDateTime::kMonths, at(1, 3, 2008)},
      {at(31, 12, 2008), 2, zuDateTime::kMonths, at(1, 3, 2009)},
      {at(31, 10, 2009), 1, zuDateTime::kMonths, at(1, 12, 2009)},
      {at(31, 3, 2009), -1, zuDateTime::kMonths, at(1, 3, 2009)},
      {at(15, 6, 2009), 25, zuDateTime::kMonths, at(15, 7, 2011)},
      {at(15, 6, 2009), -18, zuDateTime::kMonths, at(15, 12, 2007)},
      {at(15, 6, 1970), -6, zuDateTime::kMonths, zuDateTime()},  // before 1970
      // Years: 29 February in a common year counts as 1 March.
      {at(29, 2, 2008, 8), 1, zuDateTime::kYears, at(1, 3, 2009, 8)},
      {at(29, 2, 2008, 8), 4, zuDateTime::kYears, at(29, 2, 2012, 8)},
      {at(7, 3, 2009), -1, zuDateTime::kYears, at(7, 3, 2008)},
      {at(7, 3, 1970), -1, zuDateTime::kYears, zuDateTime()},
      {at(7, 3, 2009), 200, zuDateTime::kYears, zuDateTime(0xFFFFFFFFu)},
      // Unknown units do nothing.
      {at(7, 3, 2009), 1, -1, at(7, 3, 2009)},
      {at(7, 3, 2009), 1, 7, at(7, 3, 2009)},
      // The ends of the range hold.
      {zuDateTime(), -1, zuDateTime::kSeconds, zuDateTime()},
      {zuDateTime(0xFFFFFFFFu), 1, zuDateTime::kSeconds, zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2100), 2147483647, zuDateTime::kWeeks, zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2100), 2147483647, zuDateTime::kMonths, zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2100), -2147483647 - 1, zuDateTime::kMonths, zuDateTime()},
  };
  for (const Case& c : cases) {
    zuDateTime t = c.from;
    t.add(c.amount, c.unit);
    EXPECT_EQ(iso(t), iso(c.to)) << iso(c.from) << " + " << c.amount << " unit " << c.unit;
  }
}

// Seconds to days: the value's place in its period, taken into the period
// after the one that holds the reference (periods counted from 1970).
TEST(zuDateTimeTest, AdvanceByFixedSpansLandsInThePeriodAfterTheReference) {
  struct Case {
    zuDateTime from;
    zuDateTime reference;
    u32 count;
    i32 unit;
    zuDateTime to;
  } const cases[] = {
      // A daily time goes to that time on the day after the reference's day,
      // whether it lies before, at or after the reference's time of day.
      {at(1, 3, 2009, 8), at(4, 3, 2009, 10), 1, zuDateTime::kDays, at(5, 3, 2009, 8)},
      {at(1, 3, 2009, 10), at(4, 3, 2009, 10), 1, zuDateTime::kDays, at(5, 3, 2009, 10)},
      {at(1, 3, 2009, 12), at(4, 3, 2009, 10), 1, zuDateTime::kDays, at(5, 3, 2009, 12)},
      // A value later than the reference already is brought to the same place.
      {at(9, 3, 2009, 7), at(4, 3, 2009, 10), 1, zuDateTime::kDays, at(5, 3, 2009, 7)},
      // Periods of two days run from 1 January 1970: 3 to 4 March, 5 to 6 March.
      {at(1, 3, 2009, 10), at(4, 3, 2009, 10), 2, zuDateTime::kDays, at(5, 3, 2009, 10)},
      {at(1, 3, 2009, 10), at(5, 3, 2009, 10), 2, zuDateTime::kDays, at(7, 3, 2009, 10)},
      {at(1, 3, 2009, 10, 0, 5), at(1, 3, 2009, 10, 0, 59), 15, zuDateTime::kSeconds,
       at(1, 3, 2009, 10, 1, 5)},
      {at(1, 3, 2009, 10, 7), at(1, 3, 2009, 11), 10, zuDateTime::kMinutes, at(1, 3, 2009, 11, 17)},
      {at(1, 3, 2009, 1), at(1, 3, 2009, 6), 4, zuDateTime::kHours, at(1, 3, 2009, 9)},
      {at(1, 3, 2009, 10), at(1, 3, 2009, 10), 1, zuDateTime::kSeconds, at(1, 3, 2009, 10, 0, 1)},
      // Past the end of the range the value stops there instead of wrapping
      // into 1970, and a span of 2^32 seconds or more is no division by 0.
      {zuDateTime(), zuDateTime(0xFFFFFFFFu), 7, zuDateTime::kSeconds, zuDateTime(0xFFFFFFFFu)},
      {zuDateTime(), zuDateTime(0xFFFFFFFEu), 0xFFFFFFFF, zuDateTime::kSeconds,
       zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2009), zuDateTime(0xFFFFFF00u), 1, zuDateTime::kDays, zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2009), at(1, 1, 2010), 0x40000000, zuDateTime::kMinutes, zuDateTime(0xFFFFFFFFu)},
      {at(1, 1, 2009), at(1, 1, 2010), 0x80000000, zuDateTime::kDays, zuDateTime(0xFFFFFFFFu)},
  };
  for (const Case& c : cases) {
    zuDateTime t = c.from;
    t.advance(c.reference, c.count, c.unit);
    EXPECT_EQ(iso(t), iso(c.to)) << iso(c.from) << " to " << iso(c.reference) << " by " << c.count
                                 << " unit " << c.unit;
  }
}

TEST(zuDateTimeTest, AdvanceByWeeksAndMonthsStepsToTheFirstValueNotBelowTheReference) {
  struct Case {
    zuDateTime from;
    zuDateTime reference;
    u32 count;
    i32 unit;
    zuDateTime to;
  } const cases[] = {
      {at(1, 3, 2009), at(11, 3, 2009), 1, zuDateTime::kWeeks, at(15, 3, 2009)},
      {at(1, 3, 2009), at(15, 3, 2009), 2, zuDateTime::kWeeks, at(15, 3, 2009)},
      {at(31, 1, 2009), at(15, 3, 2009), 1, zuDateTime::kMonths, at(1, 4, 2009)},
      {at(15, 1, 2009), at(15, 3, 2009), 1, zuDateTime::kMonths, at(15, 3, 2009)},
      {at(15, 1, 2009), at(16, 3, 2009), 3, zuDateTime::kMonths, at(15, 4, 2009)},
      // Already there: unchanged.
      {at(5, 3, 2009), at(4, 3, 2009), 1, zuDateTime::kWeeks, at(5, 3, 2009)},
      {at(5, 3, 2009), at(4, 3, 2009), 1, zuDateTime::kMonths, at(5, 3, 2009)},
      // A count of 0 or an unknown unit: unchanged, and the call returns.
      {at(1, 3, 2009), at(4, 3, 2009), 0, zuDateTime::kSeconds, at(1, 3, 2009)},
      {at(1, 3, 2009), at(4, 3, 2009), 0, zuDateTime::kWeeks, at(1, 3, 2009)},
      {at(1, 3, 2009), at(4, 3, 2009), 0, zuDateTime::kMonths, at(1, 3, 2009)},
      {at(1, 3, 2009), at(4, 3, 2009), 1, zuDateTime::kYears, at(1, 3, 2009)},
      {at(1, 3, 2009), at(4, 3, 2009), 1, -1, at(1, 3, 2009)},
      // Near the end of the range each step stops there.
      {at(1, 1, 2106), zuDateTime(0xFFFFFFFFu), 1, zuDateTime::kMonths, zuDateTime(0xFFFFFFFFu)},
      {zuDateTime(), zuDateTime(0xFFFFFFFFu), 0xFFFFFFFF, zuDateTime::kWeeks,
       zuDateTime(0xFFFFFFFFu)},
      {zuDateTime(), zuDateTime(0xFFFFFFFFu), 0xFFFFFFFF, zuDateTime::kMonths,
       zuDateTime(0xFFFFFFFFu)},
  };
  for (const Case& c : cases) {
    zuDateTime t = c.from;
    t.advance(c.reference, c.count, c.unit);
    EXPECT_EQ(iso(t), iso(c.to)) << iso(c.from) << " to " << iso(c.reference) << " by " << c.count
                                 << " unit " << c.unit;
  }
}

TEST(zuDateTimeTest, Format) {
  const zuDateTime t = at(7, 3, 2009, 14, 5, 9);
  struct Case {
    u32 style;
    bool withYear, twoDigitYear, withSeconds;
    const char* text;
  } const cases[] = {
      {zuDate::kStyleMonthName, true, false, false, "Mar 7, 2009 14:05"},
      {zuDate::kStyleMonthName, false, false, true, "Mar 7 14:05:09"},
      {zuDate::kStyleDashes, true, false, true, "2009-03-07 14:05:09"},
      {zuDate::kStyleDots, true, true, true, "07.03.09 14:05:09"},
      {zuDate::kStyleSlashes, false, false, false, "03/07 14:05"},
  };
  for (const Case& c : cases) {
    std::string out = "old text";
    t.format(out, c.style, c.withYear, c.twoDigitYear, c.withSeconds);
    EXPECT_EQ(out, c.text);
  }
}

class zuDateTimeParseTest : public tw::test::LocalClockTest {};

TEST_F(zuDateTimeParseTest, Parse) {
  setNowUtc(2010, 6, 15, 8, 0, 0);
  struct Case {
    const char* text;
    bool ok;
    zuDateTime value;
  } const cases[] = {
      {"2009-03-07 14:05:09", true, at(7, 3, 2009, 14, 5, 9)},
      {"  2009-03-07\t14:05  ", true, at(7, 3, 2009, 14, 5)},
      {"07.03.2009    14:05:09:500", true, at(7, 3, 2009, 14, 5, 9)},
      {"Mar 7, 2009 14:05:09", true, at(7, 3, 2009, 14, 5, 9)},
      {"2009-03-07", true, at(7, 3, 2009)},
      {"Mar 7, 2009", true, at(7, 3, 2009)},  // a date with blanks of its own
      {"2009-03-07 25:00", true, at(8, 3, 2009, 1)},
      {"14:05", true, at(15, 6, 2010, 14, 5)},  // a time alone is today's
      {" 9:30:01 ", true, at(15, 6, 2010, 9, 30, 1)},
      {"2009-03-07 x", false, zuDateTime()},
      {"x 14:05", false, zuDateTime()},
      {"2009-03-07 14:05 x", false, zuDateTime()},
      {"14:05 2009-03-07", false, zuDateTime()},
      {"1969-12-31 23:59", false, zuDateTime()},
      {"   ", false, zuDateTime()},
      {"", false, zuDateTime()},
  };
  for (const Case& c : cases) {
    zuDateTime t(12345u);
    EXPECT_EQ(t.parse(c.text), c.ok) << c.text;
    EXPECT_EQ(iso(t), iso(c.ok ? c.value : zuDateTime(12345u))) << c.text;
    // The text constructors parse, and give 0 for what does not parse.
    EXPECT_EQ(iso(zuDateTime(c.text)), iso(c.value)) << c.text;
    EXPECT_EQ(iso(zuDateTime(std::string(c.text))), iso(c.value)) << c.text;
  }
}

TEST_F(zuDateTimeParseTest, NowCountsLocalSeconds) {
  setNowUtc(1970, 1, 1, 0, 0, 0);
  EXPECT_EQ(zuDateTime(true).seconds(), 0u);
  setZone("XYZ-3");  // local time runs three hours ahead of UTC
  EXPECT_EQ(zuDateTime(true).seconds(), 3u * 3600);
  setNowUtc(2009, 3, 7, 12, 34, 56, 999);
  EXPECT_EQ(zuDateTime(true), at(7, 3, 2009, 15, 34, 56));
}

}  // namespace
