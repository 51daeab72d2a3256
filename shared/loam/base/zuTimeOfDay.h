#pragma once
// A time of day: hour, minute, second and millisecond.
#include <string>
#include <string_view>

#include "loam/platform/zuTypes.h"

class zuTimeOfDay {
 public:
  zuTimeOfDay() = default;  // 00:00:00.000
  // With now, the current local time with millisecond 0; otherwise midnight.
  explicit zuTimeOfDay(bool now);
  explicit zuTimeOfDay(u32 milliseconds);

  void set(u16 hour, u16 minute, u16 second, u16 millisecond);
  u16 hour() const { return hour_; }
  u16 minute() const { return minute_; }
  u16 second() const { return second_; }
  u16 millisecond() const { return millisecond_; }

  u32 toMilliseconds() const;
  void fromMilliseconds(u32 milliseconds);

  // "HH<sep>MM" and, with seconds, "<sep>SS"; two digits per field.
  std::string toString(char separator, bool withSeconds) const;

  // "H:M", "H:M:S" or "H:M:S:ms" in decimal, missing parts 0, fields without
  // range limits (but within 16 bits). On false the time is unchanged.
  bool parse(std::string_view text);

  bool operator==(const zuTimeOfDay& other) const {
    return toMilliseconds() == other.toMilliseconds();
  }

 private:
  u16 hour_ = 0;
  u16 minute_ = 0;
  u16 second_ = 0;
  u16 millisecond_ = 0;
};
