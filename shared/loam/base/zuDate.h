#pragma once
// A calendar date (day, month, year). Day numbers count days from 1 January
// 1900 (day 0). The leap days before a year are counted by the four-year rule
// alone, so from 2101 on day numbers run one ahead of the calendar; date-time
// seconds, stored and sent, are counted through these numbers, so the rule
// stays.
#include <string>
#include <string_view>

#include "loam/platform/zuTypes.h"

class zuDate {
 public:
  static constexpr u32 kDayNumber1970 = 25567;  // 1 January 1970

  // Styles of format.
  static constexpr u32 kStyleMonthName = 0;  // Mar 7, 2009
  static constexpr u32 kStyleDashes = 1;     // 2009-03-07
  static constexpr u32 kStyleDots = 2;       // 07.03.2009
  static constexpr u32 kStyleSlashes = 3;    // 03/07/2009

  zuDate() = default;  // 1 January 1900
  // With now, today's local date; otherwise 1 January 1900.
  explicit zuDate(bool now);
  explicit zuDate(u32 dayNumber);

  void set(u16 day, u16 month, u16 year);
  u16 day() const { return day_; }
  u16 month() const { return month_; }
  u16 year() const { return year_; }

  // 0 for dates before 1900.
  u32 dayNumber() const;
  // Numbers past 31 December 65535 give that date.
  void fromDayNumber(u32 dayNumber);
  // Stops at 1 January 1900 and at 31 December 65535.
  void addDays(i32 days);
  i32 daysSince1970() const;

  static bool isLeapYear(u16 year);
  // 0 for a month outside 1 to 12.
  static u16 daysInMonth(u16 month, u16 year);

  // Replaces out with the date in the given style (any unknown style is the
  // month-name style); twoDigitYear writes only the year's last two digits.
  void format(std::string& out, u32 style, bool withYear, bool twoDigitYear) const;

  // Accepts "Mar 7, 2009" (month name ignoring case), year-month-day with "-"
  // (or any separator when the first number is above 1969), day.month.year
  // and month/day/year; two-digit years below 70 are 20xx, others 19xx. Only
  // real dates of 1970 to 2050 are taken; on false the date is unchanged.
  bool parse(std::string_view text);

  bool operator==(const zuDate& other) const;

 private:
  i64 signedDayNumber() const;

  u16 day_ = 1;
  u16 month_ = 1;
  u16 year_ = 1900;
};
