#include "loam/base/zuDateTime.h"

#include <algorithm>

#include "loam/platform/zuPlatformTime.h"

namespace {

constexpr u32 kSecondsPerDay = 86400;
constexpr u64 kMaxSeconds = 0xFFFFFFFF;
// Years past this one are beyond the 32-bit range whatever the day.
constexpr i64 kLastYear = 2107;

constexpr u64 kUnitSeconds[5] = {1, 60, 3600, 86400, 604800};

u32 clampSeconds(i64 value) {
  return static_cast<u32>(std::clamp<i64>(value, 0, static_cast<i64>(kMaxSeconds)));
}

// Seconds of a date and time, in 64 bits so that late dates and the
// unlimited fields of a parsed time of day cannot wrap into early ones.
u32 fromParts(const zuDate& date, u32 hour, u32 minute, u32 second) {
  const i64 d = static_cast<i64>(date.dayNumber()) - zuDate::kDayNumber1970;
  if (d < 0) return 0;
  return clampSeconds(((static_cast<i64>(hour) + 24 * d) * 60 + minute) * 60 + second);
}

// A year, month and day reached by a move; years out of range settle at the
// ends of the 32-bit range.
u32 fromMoved(i64 year, i64 month, u16 day, u32 secondOfDay) {
  if (year < 1970) return 0;
  if (year > kLastYear) return static_cast<u32>(kMaxSeconds);
  zuDate date;
  date.set(day, static_cast<u16>(month), static_cast<u16>(year));
  return fromParts(date, 0, 0, secondOfDay);
}

u32 movedByMonths(u32 seconds, i64 amount) {
  const zuDate d = zuDateTime(seconds).date();
  const i64 months = i64{d.year()} * 12 + (d.month() - 1) + amount;
  if (months < 0) return 0;
  i64 year = months / 12;
  i64 month = months % 12 + 1;
  u16 day = d.day();
  if (year <= kLastYear &&
      day > zuDate::daysInMonth(static_cast<u16>(month), static_cast<u16>(year))) {
    day = 1;
    if (++month > 12) {
      month = 1;
      ++year;
    }
  }
  return fromMoved(year, month, day, seconds % kSecondsPerDay);
}

}  // namespace

zuDateTime::zuDateTime(bool now) {
  if (now) {
    const zuPlatform::LocalTime t = zuPlatform::localNow();
    zuDate date;
    date.set(t.day, t.month, t.year);
    seconds_ = fromParts(date, t.hour, t.minute, t.second);
  }
}

zuDateTime::zuDateTime(u16 day, u16 month, u16 year, u16 hour, u16 minute, u16 second) {
  zuDate date;
  date.set(day, month, year);
  seconds_ = fromParts(date, hour, minute, second);
}

zuDateTime::zuDateTime(const zuDate& date, const zuTimeOfDay& time)
    : seconds_(fromParts(date, time.hour(), time.minute(), time.second())) {}

zuDateTime::zuDateTime(const char* text) {
  if (text != nullptr) parse(text);
}

zuDateTime::zuDateTime(std::string_view text) { parse(text); }

zuDate zuDateTime::date() const {
  return zuDate(seconds_ / kSecondsPerDay + zuDate::kDayNumber1970);
}

zuTimeOfDay zuDateTime::timeOfDay() const { return zuTimeOfDay(seconds_ % kSecondsPerDay * 1000); }

void zuDateTime::add(i32 amount, i32 unit) {
  if (unit < kSeconds || unit > kYears) return;
  if (unit <= kWeeks) {
    seconds_ =
        clampSeconds(static_cast<i64>(seconds_) + static_cast<i64>(kUnitSeconds[unit]) * amount);
    return;
  }
  if (unit == kYears) {
    const zuDate d = date();
    seconds_ = fromMoved(i64{d.year()} + amount, d.month(), d.day(), seconds_ % kSecondsPerDay);
  } else {
    seconds_ = movedByMonths(seconds_, amount);
  }
}

void zuDateTime::advance(const zuDateTime& reference, u32 count, i32 unit) {
  if (count == 0 || unit < kSeconds || unit > kMonths) return;
  const u32 target = reference.seconds_;
  if (unit <= kDays) {
    // The value's place within its period (periods counted from 1970) in the
    // period after the one that holds the reference: always after the
    // reference, less than two periods on. In 64 bits, so a period of 2^32
    // seconds or more cannot wrap to 0, and a result past the range stops at
    // its end instead of wrapping into 1970.
    const u64 period = kUnitSeconds[unit] * count;
    const u64 moved = target - target % period + period + seconds_ % period;
    seconds_ = static_cast<u32>(std::min<u64>(moved, kMaxSeconds));
    return;
  }
  if (unit == kWeeks) {
    // The closed form of adding the step until the value is not below the
    // reference.
    if (seconds_ >= target) return;
    const u64 step = kUnitSeconds[unit] * count;
    const u64 steps = (target - seconds_ + step - 1) / step;
    seconds_ = static_cast<u32>(std::min<u64>(seconds_ + steps * step, kMaxSeconds));
    return;
  }
  // Months differ in length, so step one move at a time. A move that no
  // longer raises the value has hit the end of the range.
  while (seconds_ < target) {
    const u32 moved = movedByMonths(seconds_, count);
    if (moved <= seconds_) break;
    seconds_ = moved;
  }
}

void zuDateTime::format(std::string& out, u32 style, bool withYear, bool twoDigitYear,
                        bool withSeconds) const {
  date().format(out, style, withYear, twoDigitYear);
  out += ' ';
  out += timeOfDay().toString(':', withSeconds);
}

bool zuDateTime::parse(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);

  zuDate date;
  zuTimeOfDay time;
  bool ok = false;
  // A time of day has no blanks, so the last blank ends the date (which may
  // have blanks of its own, as in "Mar 7, 2009 12:00").
  const std::size_t blank = text.find_last_of(" \t");
  if (blank != std::string_view::npos) {
    std::string_view datePart = text.substr(0, blank);
    while (!datePart.empty() && isBlank(datePart.back())) datePart.remove_suffix(1);
    ok = date.parse(datePart) && time.parse(text.substr(blank + 1));
  }
  if (!ok) {
    date = zuDate();
    time = zuTimeOfDay();
    if (date.parse(text)) {
      ok = true;
    } else if (time.parse(text)) {
      date = zuDate(true);
      ok = true;
    }
  }
  if (!ok) return false;
  seconds_ = fromParts(date, time.hour(), time.minute(), time.second());
  return true;
}
