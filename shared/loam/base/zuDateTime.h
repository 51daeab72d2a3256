#pragma once
// A local date and time as seconds since 1970-01-01 00:00:00 local time (no
// time zone is stored). Values outside the 32-bit range stop at its ends:
// dates before 1970 are 0, and later results than the last value are
// 0xFFFFFFFF (2106-02-06 06:28:15 here, as dates from 2101 on have day numbers
// one ahead of the calendar).
#include <string>
#include <string_view>

#include "loam/base/zuDate.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/platform/zuTypes.h"

class zuDateTime {
 public:
  // Units of add and advance.
  static constexpr i32 kSeconds = 0;
  static constexpr i32 kMinutes = 1;
  static constexpr i32 kHours = 2;
  static constexpr i32 kDays = 3;
  static constexpr i32 kWeeks = 4;
  static constexpr i32 kMonths = 5;
  static constexpr i32 kYears = 6;

  zuDateTime() = default;  // 0
  // With now, today's local date and the current local time; otherwise 0.
  explicit zuDateTime(bool now);
  zuDateTime(u16 day, u16 month, u16 year, u16 hour, u16 minute, u16 second);
  zuDateTime(const zuDate& date, const zuTimeOfDay& time);  // the millisecond is dropped
  explicit zuDateTime(u32 seconds) : seconds_(seconds) {}
  // Parses the text; 0 when it does not parse.
  explicit zuDateTime(const char* text);
  explicit zuDateTime(std::string_view text);

  u32 seconds() const { return seconds_; }
  void set(u32 seconds) { seconds_ = seconds; }

  zuDate date() const;
  zuTimeOfDay timeOfDay() const;  // millisecond 0

  // Moves by amount units (kSeconds to kYears); other units do nothing. Over
  // months, a day past the new month's end becomes the 1st of the month after.
  void add(i32 amount, i32 unit);

  // kSeconds to kDays: with p the span of count units, the value becomes its
  // place within its period of p (periods counted from 1970) in the period
  // after the one that holds reference, so it always ends up after reference,
  // less than 2p on, even when it was later already. kWeeks and kMonths:
  // whole steps of count units forward to the first value not below
  // reference; a value already there stays. Count 0 or another unit changes
  // nothing.
  void advance(const zuDateTime& reference, u32 count, i32 unit);

  // The date as zuDate::format, a blank, and the time as
  // zuTimeOfDay::toString with ":".
  void format(std::string& out, u32 style, bool withYear, bool twoDigitYear,
              bool withSeconds) const;

  // Blanks around the text are ignored. "<date> <time>" (split at the last
  // blank), else a date alone (at 00:00:00), else a time of day alone (today
  // at that time). On false the value is unchanged.
  bool parse(std::string_view text);

  bool operator==(const zuDateTime& other) const = default;

 private:
  u32 seconds_ = 0;
};
