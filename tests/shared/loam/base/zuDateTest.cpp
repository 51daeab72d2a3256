#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "loam/base/zuDate.h"
#include "support/TimeTestSupport.h"

namespace {

using namespace std::chrono;

zuDate dateOf(u16 day, u16 month, u16 year) {
  zuDate d;
  d.set(day, month, year);
  return d;
}

// The standard library's proleptic Gregorian calendar (the same count as
// Python's datetime) stands as the independent reference.
TEST(zuDateTest, DayNumbersMatchTheCalendarForEveryDayOf1900To2099) {
  const sys_days origin = 1900y / January / 1;
  const sys_days end = 2100y / January / 1;
  u32 expected = 0;
  for (sys_days day = origin; day < end; day += days{1}, ++expected) {
    const year_month_day ymd{day};
    const zuDate d = dateOf(static_cast<u16>(static_cast<unsigned>(ymd.day())),
                            static_cast<u16>(static_cast<unsigned>(ymd.month())),
                            static_cast<u16>(static_cast<int>(ymd.year())));
    ASSERT_EQ(d.dayNumber(), expected)
        << int{ymd.year()} << '-' << unsigned{ymd.month()} << '-' << unsigned{ymd.day()};
    const zuDate back(expected);
    ASSERT_EQ(back.day(), d.day()) << expected;
    ASSERT_EQ(back.month(), d.month()) << expected;
    ASSERT_EQ(back.year(), d.year()) << expected;
  }
  EXPECT_EQ(expected, 73049u);
}

TEST(zuDateTest, AnchorDays) {
  EXPECT_EQ(zuDate().dayNumber(), 0u);
  EXPECT_EQ(dateOf(1, 1, 1970).dayNumber(), zuDate::kDayNumber1970);
  EXPECT_EQ(dateOf(1, 1, 1970).daysSince1970(), 0);
  EXPECT_EQ(zuDate().daysSince1970(), -25567);
  EXPECT_EQ(dateOf(1, 3, 1900).dayNumber(), 59u);  // 1900 is no leap year
  const zuDate leapDay = dateOf(29, 2, 2000);
  EXPECT_EQ(leapDay.dayNumber(), 36583u);
  const zuDate back(leapDay.dayNumber());
  EXPECT_EQ(back.day(), 29);
  EXPECT_EQ(back.month(), 2);
  EXPECT_EQ(back.year(), 2000);
}

// The leap days before a year follow the four-year rule alone, which counts a
// 29 February 2100 that the month tables do not have: dates in 2100 are still
// right, but from 1 January 2101 on every day number is one above the
// calendar's, and the number in between also reads as 1 January 2101.
TEST(zuDateTest, FourYearRuleRunsOneDayAheadFrom2101) {
  EXPECT_FALSE(zuDate::isLeapYear(2100));
  EXPECT_EQ(dateOf(1, 3, 2100).dayNumber(), dateOf(28, 2, 2100).dayNumber() + 1);
  EXPECT_EQ(dateOf(31, 12, 2100).dayNumber(), 73413u);  // the calendar's count
  EXPECT_EQ(dateOf(1, 1, 2101).dayNumber(), 73415u);    // the calendar says 73414
  const zuDate between(73414u);
  EXPECT_EQ(between.day(), 1);
  EXPECT_EQ(between.month(), 1);
  EXPECT_EQ(between.year(), 2101);
}

TEST(zuDateTest, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(zuDate::isLeapYear(2000));
  EXPECT_TRUE(zuDate::isLeapYear(2008));
  EXPECT_FALSE(zuDate::isLeapYear(1900));
  EXPECT_FALSE(zuDate::isLeapYear(2009));
  EXPECT_EQ(zuDate::daysInMonth(2, 2008), 29);
  EXPECT_EQ(zuDate::daysInMonth(2, 1900), 28);
  EXPECT_EQ(zuDate::daysInMonth(12, 2009), 31);
  EXPECT_EQ(zuDate::daysInMonth(4, 2009), 30);
  EXPECT_EQ(zuDate::daysInMonth(0, 2009), 0);
  EXPECT_EQ(zuDate::daysInMonth(13, 2009), 0);
}

TEST(zuDateTest, AddDays) {
  struct Case {
    zuDate from;
    i32 days;
    zuDate to;
  } const cases[] = {
      {dateOf(31, 12, 2009), 1, dateOf(1, 1, 2010)},
      {dateOf(1, 3, 2000), -1, dateOf(29, 2, 2000)},
      {dateOf(1, 3, 2009), -1, dateOf(28, 2, 2009)},
      {dateOf(7, 3, 2009), 365, dateOf(7, 3, 2010)},
      {dateOf(2, 1, 1900), -5, dateOf(1, 1, 1900)},       // stops at day 0
      {dateOf(1, 1, 65535), 400, dateOf(31, 12, 65535)},  // and at the last year
  };
  for (const Case& c : cases) {
    zuDate d = c.from;
    d.addDays(c.days);
    EXPECT_EQ(d.day(), c.to.day()) << c.from.dayNumber() << " + " << c.days;
    EXPECT_EQ(d.month(), c.to.month());
    EXPECT_EQ(d.year(), c.to.year());
  }
}

TEST(zuDateTest, EqualityIsByDayNumber) {
  EXPECT_EQ(dateOf(7, 3, 2009), zuDate(dateOf(7, 3, 2009).dayNumber()));
  EXPECT_EQ(dateOf(29, 2, 2009), dateOf(1, 3, 2009));  // no 29 February: the next day
  EXPECT_FALSE(dateOf(7, 3, 2009) == dateOf(8, 3, 2009));
}

TEST(zuDateTest, MonthOutsideTheTablesIsSafe) {
  // The wire carries any byte for the month.
  const zuDate d = dateOf(1, 200, 2000);
  EXPECT_EQ(d.dayNumber(), dateOf(1, 12, 2000).dayNumber());
  std::string out;
  d.format(out, zuDate::kStyleMonthName, true, false);
  EXPECT_EQ(out, " 1, 2000");
  dateOf(1, 0, 2000).format(out, zuDate::kStyleMonthName, false, false);
  EXPECT_EQ(out, " 1");
}

TEST(zuDateTest, FormatStyles) {
  struct Case {
    zuDate date;
    u32 style;
    bool withYear;
    bool twoDigitYear;
    const char* text;
  } const cases[] = {
      {dateOf(7, 3, 2009), zuDate::kStyleDashes, true, false, "2009-03-07"},
      {dateOf(7, 3, 2009), zuDate::kStyleDashes, false, false, "03-07"},
      {dateOf(7, 3, 2009), zuDate::kStyleDashes, true, true, "09-03-07"},
      {dateOf(7, 3, 2009), zuDate::kStyleDots, true, false, "07.03.2009"},
      {dateOf(7, 3, 2009), zuDate::kStyleDots, false, false, "07.03"},
      {dateOf(7, 3, 2009), zuDate::kStyleSlashes, true, true, "03/07/09"},
      {dateOf(7, 3, 2009), zuDate::kStyleSlashes, false, true, "03/07"},
      {dateOf(7, 3, 2009), zuDate::kStyleMonthName, true, false, "Mar 7, 2009"},
      {dateOf(7, 3, 2009), zuDate::kStyleMonthName, true, true, "Mar 7, 09"},
      {dateOf(5, 1, 2010), zuDate::kStyleMonthName, false, false, "Jan 5"},  // the log's date
      {dateOf(25, 12, 2010), zuDate::kStyleMonthName, false, false, "Dec 25"},
      {dateOf(5, 1, 2000), zuDate::kStyleSlashes, true, true, "01/05/00"},
      {dateOf(5, 1, 2010), 9, true, false, "Jan 5, 2010"},  // unknown styles use month names
      {zuDate(), zuDate::kStyleDashes, true, false, "1900-01-01"},
  };
  for (const Case& c : cases) {
    std::string out = "old text";
    c.date.format(out, c.style, c.withYear, c.twoDigitYear);
    EXPECT_EQ(out, c.text);
  }
}

TEST(zuDateTest, ParseAcceptsAndRefuses) {
  struct Case {
    const char* text;
    bool ok;
    u16 day, month, year;
  } const cases[] = {
      // The same date in the three numeric orders.
      {"2009-03-07", true, 7, 3, 2009},
      {"07.03.2009", true, 7, 3, 2009},
      {"03/07/09", true, 7, 3, 2009},
      // "-" is always year first; a first number above 1969 is a year.
      {"09-03-07", true, 7, 3, 2009},
      {"2009.03.07", true, 7, 3, 2009},
      {"2009/3/7", true, 7, 3, 2009},
      // Two-digit years: below 70 in 2000 on, 70 to 99 in the 1900s.
      {"1.1.70", true, 1, 1, 1970},
      {"31.12.99", true, 31, 12, 1999},
      {"1.1.50", true, 1, 1, 2050},
      {"1.1.51", false, 0, 0, 0},
      {"1.1.69", false, 0, 0, 0},  // 2069
      // Range and calendar checks.
      {"1969-12-31", false, 0, 0, 0},
      {"2051-01-01", false, 0, 0, 0},
      {"1970-01-01", true, 1, 1, 1970},
      {"2050-12-31", true, 31, 12, 2050},
      {"29.02.2008", true, 29, 2, 2008},
      {"2000-02-29", true, 29, 2, 2000},
      {"29.02.2009", false, 0, 0, 0},
      {"2009-04-31", false, 0, 0, 0},
      {"2009-13-01", false, 0, 0, 0},
      {"2009-00-10", false, 0, 0, 0},
      {"2009-04-00", false, 0, 0, 0},
      {"0.1.2009", false, 0, 0, 0},
      {"1.1.1969", false, 0, 0, 0},
      {"1.1.150", false, 0, 0, 0},
      // Month names.
      {"Mar 7, 2009", true, 7, 3, 2009},
      {"mar 7, 2009", true, 7, 3, 2009},
      {"DEC 31,99", true, 31, 12, 1999},
      {"Feb 29, 2008", true, 29, 2, 2008},
      {"Feb 29, 2009", false, 0, 0, 0},
      {"Mar 7 2009", false, 0, 0, 0},  // the comma is required
      {"March 7, 2009", false, 0, 0, 0},
      {"Mar 7, 1969", false, 0, 0, 0},
      {"Mar , 2009", false, 0, 0, 0},
      // Shape.
      {"2009-03/07", false, 0, 0, 0},
      {"2009:03:07", false, 0, 0, 0},
      {"2009-03", false, 0, 0, 0},
      {"2009-03-07x", false, 0, 0, 0},
      {" 2009-03-07", false, 0, 0, 0},
      {"2009--03-07", false, 0, 0, 0},
      {"+2009-03-07", false, 0, 0, 0},
      {"4294967296-03-07", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    zuDate d = dateOf(2, 2, 1902);
    EXPECT_EQ(d.parse(c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(d.day(), c.day) << c.text;
      EXPECT_EQ(d.month(), c.month) << c.text;
      EXPECT_EQ(d.year(), c.year) << c.text;
    } else {
      EXPECT_EQ(d.dayNumber(), dateOf(2, 2, 1902).dayNumber()) << "changed by " << c.text;
    }
  }
}

TEST(zuDateTest, FormattedDatesParseBack) {
  const zuDate d = dateOf(9, 11, 2031);
  for (u32 style = 0; style <= 3; ++style) {
    for (bool twoDigits : {false, true}) {
      std::string text;
      d.format(text, style, true, twoDigits);
      zuDate back;
      EXPECT_TRUE(back.parse(text)) << text;
      EXPECT_EQ(back, d) << text;
    }
  }
}

class zuDateNowTest : public tw::test::LocalClockTest {};

TEST_F(zuDateNowTest, TodayIsTheLocalDate) {
  setNowUtc(2009, 3, 7, 23, 30, 0);
  const zuDate utc(true);
  EXPECT_EQ(utc, dateOf(7, 3, 2009));
  setZone("XYZ-3");  // three hours east of UTC: already the next day
  const zuDate east(true);
  EXPECT_EQ(east, dateOf(8, 3, 2009));
  EXPECT_EQ(zuDate(false), zuDate());
}

}  // namespace
