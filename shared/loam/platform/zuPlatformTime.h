#pragma once
// Clocks of the platform: the millisecond tick count and the local wall-clock
// time. Both have test seams so tests can put the tick just below its wrap and
// fix "now".
#include <optional>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Milliseconds since an arbitrary start (CLOCK_MONOTONIC) plus the test offset,
// or the fixed test value when one is set.
u64 tickCount64();

// The tick count folded into 32 bits modulo 0xFFFFFFFF, so it runs from 0 to
// 0xFFFFFFFE and a reading of 0xFFFFFFFF counts as 0: the wrap is always a
// step of exactly one period, which the elapsed-time arithmetic relies on.
u32 tickCount();

// A broken-down local time; month 1 to 12, day 1 to 31.
struct LocalTime {
  u16 year = 1970;
  u16 month = 1;
  u16 day = 1;
  u16 hour = 0;
  u16 minute = 0;
  u16 second = 0;
  u16 millisecond = 0;
};

// The current local time (or the fixed test "now"), through the process's
// time zone (TZ).
LocalTime localNow();

// Seconds since 1970-01-01 00:00:00 UTC (plus a millisecond part) as local
// time; false when the C library cannot convert the value.
bool toLocalTime(i64 unixSeconds, u16 millisecond, LocalTime& out);

// Test seams. The offset is added to the monotonic clock (the clock keeps
// running); a fixed tick replaces the clock altogether until it is reset
// with std::nullopt. A fixed "now" is milliseconds since 1970 UTC.
void setTickOffsetForTest(u64 offsetMs);
void setFixedTickForTest(std::optional<u64> tickMs);
void setNowForTest(std::optional<i64> unixMs);

}  // namespace zuPlatform
