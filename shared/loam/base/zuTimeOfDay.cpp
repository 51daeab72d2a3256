#include "loam/base/zuTimeOfDay.h"

#include <cstdio>

#include "loam/platform/zuPlatformTime.h"

namespace {

// Decimal digits at pos, at least one, within 16 bits.
bool readField(std::string_view text, std::size_t& pos, u16& out) {
  const std::size_t begin = pos;
  u32 value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<u32>(text[pos] - '0');
    if (value > 0xFFFF) return false;
    ++pos;
  }
  out = static_cast<u16>(value);
  return pos > begin;
}

}  // namespace

zuTimeOfDay::zuTimeOfDay(bool now) {
  if (now) {
    const zuPlatform::LocalTime t = zuPlatform::localNow();
    set(t.hour, t.minute, t.second, 0);
  }
}

zuTimeOfDay::zuTimeOfDay(u32 milliseconds) { fromMilliseconds(milliseconds); }

void zuTimeOfDay::set(u16 hour, u16 minute, u16 second, u16 millisecond) {
  hour_ = hour;
  minute_ = minute;
  second_ = second;
  millisecond_ = millisecond;
}

u32 zuTimeOfDay::toMilliseconds() const {
  return ((u32{hour_} * 60 + minute_) * 60 + second_) * 1000 + millisecond_;
}

void zuTimeOfDay::fromMilliseconds(u32 milliseconds) {
  millisecond_ = static_cast<u16>(milliseconds % 1000);
  const u32 seconds = milliseconds / 1000;
  second_ = static_cast<u16>(seconds % 60);
  minute_ = static_cast<u16>(seconds / 60 % 60);
  hour_ = static_cast<u16>(seconds / 3600);  // at most 1193
}

std::string zuTimeOfDay::toString(char separator, bool withSeconds) const {
  char buffer[32];
  if (withSeconds) {
    std::snprintf(buffer, sizeof buffer, "%02u%c%02u%c%02u", unsigned{hour_}, separator,
                  unsigned{minute_}, separator, unsigned{second_});
  } else {
    std::snprintf(buffer, sizeof buffer, "%02u%c%02u", unsigned{hour_}, separator,
                  unsigned{minute_});
  }
  return buffer;
}

bool zuTimeOfDay::parse(std::string_view text) {
  std::size_t pos = 0;
  u16 fields[4] = {0, 0, 0, 0};
  if (!readField(text, pos, fields[0]) || pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!readField(text, pos, fields[1])) return false;
  for (int i = 2; i < 4 && pos < text.size(); ++i) {
    if (text[pos] != ':') return false;
    ++pos;
    if (!readField(text, pos, fields[i])) return false;
  }
  if (pos != text.size()) return false;
  set(fields[0], fields[1], fields[2], fields[3]);
  return true;
}
