#include "loam/base/zuDate.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "loam/base/zuString.h"
#include "loam/platform/zuPlatformTime.h"

namespace {

constexpr const char* kMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr u16 kDaysInMonth[2][13] = {
    {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

constexpr u16 kDaysBeforeMonth[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

constexpr bool leap(i64 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Leap days before a year by the four-year rule.
constexpr i64 leapDaysBefore(i64 year) { return year > 1900 ? (year - 1901) / 4 : 0; }

// Month 1 to 12 for the tables; stored values outside that range (the wire
// carries any byte) must not index past them.
constexpr int tableMonth(u16 month) { return month < 1 ? 1 : (month > 12 ? 12 : month); }

constexpr i64 dayNumberOf(i64 day, u16 month, i64 year) {
  return (year - 1900) * 365 + leapDaysBefore(year) +
         kDaysBeforeMonth[leap(year) ? 1 : 0][tableMonth(month) - 1] + day - 1;
}

constexpr u32 kMaxDayNumber = static_cast<u32>(dayNumberOf(31, 12, 0xFFFF));

// A small reader over the text being parsed.
struct Cursor {
  std::string_view text;
  std::size_t pos = 0;

  bool atEnd() const { return pos >= text.size(); }
  char peek() const { return atEnd() ? '\0' : text[pos]; }
  void skipBlanks() {
    while (!atEnd() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  }
  // One or more decimal digits; values that cannot be a date field fail.
  bool number(u32& out) {
    const std::size_t begin = pos;
    u32 value = 0;
    while (!atEnd() && text[pos] >= '0' && text[pos] <= '9') {
      if (value > 99999) return false;
      value = value * 10 + static_cast<u32>(text[pos] - '0');
      ++pos;
    }
    out = value;
    return pos > begin;
  }
};

}  // namespace

zuDate::zuDate(bool now) {
  if (now) {
    const zuPlatform::LocalTime t = zuPlatform::localNow();
    set(t.day, t.month, t.year);
  }
}

zuDate::zuDate(u32 dayNumber) { fromDayNumber(dayNumber); }

void zuDate::set(u16 day, u16 month, u16 year) {
  day_ = day;
  month_ = month;
  year_ = year;
}

i64 zuDate::signedDayNumber() const { return dayNumberOf(day_, month_, year_); }

u32 zuDate::dayNumber() const {
  const i64 n = signedDayNumber();
  return n < 0 ? 0 : static_cast<u32>(std::min<i64>(n, 0xFFFFFFFF));
}

void zuDate::fromDayNumber(u32 dayNumber) {
  const i64 n = std::min(dayNumber, kMaxDayNumber);
  i64 year = n / 365 + 1900;
  while (year > 1900 && n - (year - 1900) * 365 < leapDaysBefore(year)) --year;
  const i64 d = n - (year - 1900) * 365 - leapDaysBefore(year);  // 0-based day of the year
  i64 month = (d - 1) / 31 + 1;  // towards zero, so day 0 is in January
  i64 r = d - kDaysBeforeMonth[leap(year) ? 1 : 0][month - 1];
  // The four-year rule gives 2100 and its like a 366th day; it rolls over
  // into the next year.
  while (r >= kDaysInMonth[leap(year) ? 1 : 0][month]) {
    r -= kDaysInMonth[leap(year) ? 1 : 0][month];
    if (++month > 12) {
      month = 1;
      ++year;
    }
  }
  set(static_cast<u16>(r + 1), static_cast<u16>(month), static_cast<u16>(year));
}

void zuDate::addDays(i32 days) {
  const i64 n = std::clamp<i64>(signedDayNumber() + days, 0, kMaxDayNumber);
  fromDayNumber(static_cast<u32>(n));
}

i32 zuDate::daysSince1970() const {
  return static_cast<i32>(static_cast<i64>(dayNumber()) - kDayNumber1970);
}

bool zuDate::isLeapYear(u16 year) { return leap(year); }

u16 zuDate::daysInMonth(u16 month, u16 year) {
  return month > 12 ? 0 : kDaysInMonth[leap(year) ? 1 : 0][month];
}

void zuDate::format(std::string& out, u32 style, bool withYear, bool twoDigitYear) const {
  std::ostringstream s;
  s.fill('0');
  const auto writeYear = [&] {
    if (twoDigitYear) {
      s << std::setw(2) << year_ % 100;
    } else {
      s << year_;
    }
  };
  switch (style) {
    case kStyleDashes:
      if (withYear) {
        writeYear();
        s << '-';
      }
      s << std::setw(2) << month_ << '-' << std::setw(2) << day_;
      break;
    case kStyleDots:
      s << std::setw(2) << day_ << '.' << std::setw(2) << month_;
      if (withYear) {
        s << '.';
        writeYear();
      }
      break;
    case kStyleSlashes:
      s << std::setw(2) << month_ << '/' << std::setw(2) << day_;
      if (withYear) {
        s << '/';
        writeYear();
      }
      break;
    default:
      s << kMonthNames[month_ <= 12 ? month_ : 0] << ' ' << day_;
      if (withYear) {
        s << ", ";
        writeYear();
      }
      break;
  }
  out = s.str();
}

bool zuDate::parse(std::string_view text) {
  Cursor c{text};
  u32 day = 0;
  u32 month = 0;
  u32 year = 0;
  u32 named = 0;
  const std::string head(text.substr(0, 3));
  for (u32 m = 1; m <= 12; ++m) {
    if (zuStartsWithNoCaseStr(head, kMonthNames[m])) named = m;
  }
  if (named != 0) {
    month = named;
    c.pos = 3;
    c.skipBlanks();
    if (!c.number(day)) return false;
    c.skipBlanks();
    if (c.peek() != ',') return false;
    ++c.pos;
    c.skipBlanks();
    if (!c.number(year)) return false;
  } else {
    u32 a = 0;
    u32 b = 0;
    u32 n3 = 0;
    if (!c.number(a)) return false;
    const char sep = c.peek();
    if (sep != '-' && sep != '.' && sep != '/') return false;
    ++c.pos;
    if (!c.number(b) || c.peek() != sep) return false;
    ++c.pos;
    if (!c.number(n3)) return false;
    if (sep == '-' || a > 1969) {
      year = a;
      month = b;
      day = n3;
    } else if (sep == '.') {
      day = a;
      month = b;
      year = n3;
    } else {
      month = a;
      day = b;
      year = n3;
    }
  }
  if (!c.atEnd()) return false;

  if (year < 70) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  if (year < 1970 || year > 2050 || month < 1 || month > 12 || day < 1 ||
      day > daysInMonth(static_cast<u16>(month), static_cast<u16>(year))) {
    return false;
  }
  set(static_cast<u16>(day), static_cast<u16>(month), static_cast<u16>(year));
  return true;
}

bool zuDate::operator==(const zuDate& other) const {
  return signedDayNumber() == other.signedDayNumber();
}
