#include "loam/platform/zuPlatformTime.h"

#include <time.h>

#include <atomic>

namespace zuPlatform {
namespace {

constexpr u64 kTickPeriod = 0xFFFFFFFFu;

// Read from any thread; written only by tests.
constinit std::atomic<u64> g_tickOffset{0};
constinit std::atomic<bool> g_tickFixed{false};
constinit std::atomic<u64> g_fixedTick{0};
constinit std::atomic<bool> g_nowFixed{false};
constinit std::atomic<i64> g_fixedNow{0};

u64 monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<u64>(ts.tv_sec) * 1000u + static_cast<u64>(ts.tv_nsec) / 1000000u;
}

}  // namespace

u64 tickCount64() {
  if (g_tickFixed.load(std::memory_order_acquire)) {
    return g_fixedTick.load(std::memory_order_relaxed);
  }
  return monotonicMs() + g_tickOffset.load(std::memory_order_relaxed);
}

u32 tickCount() { return static_cast<u32>(tickCount64() % kTickPeriod); }

bool toLocalTime(i64 unixSeconds, u16 millisecond, LocalTime& out) {
  const time_t t = static_cast<time_t>(unixSeconds);
  tm parts{};
  if (localtime_r(&t, &parts) == nullptr || parts.tm_year + 1900 < 0 ||
      parts.tm_year + 1900 > 0xFFFF) {
    return false;
  }
  out.year = static_cast<u16>(parts.tm_year + 1900);
  out.month = static_cast<u16>(parts.tm_mon + 1);
  out.day = static_cast<u16>(parts.tm_mday);
  out.hour = static_cast<u16>(parts.tm_hour);
  out.minute = static_cast<u16>(parts.tm_min);
  // A leap second reads as the last second of its minute.
  out.second = static_cast<u16>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  out.millisecond = millisecond;
  return true;
}

LocalTime localNow() {
  i64 seconds = 0;
  i64 ms = 0;
  if (g_nowFixed.load(std::memory_order_acquire)) {
    const i64 fixed = g_fixedNow.load(std::memory_order_relaxed);
    seconds = fixed / 1000;
    ms = fixed % 1000;
    if (ms < 0) {
      ms += 1000;
      --seconds;
    }
  } else {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    seconds = static_cast<i64>(ts.tv_sec);
    ms = static_cast<i64>(ts.tv_nsec / 1000000);
  }
  LocalTime out;
  toLocalTime(seconds, static_cast<u16>(ms), out);  // on failure the epoch stands
  return out;
}

void setTickOffsetForTest(u64 offsetMs) { g_tickOffset.store(offsetMs, std::memory_order_relaxed); }

void setFixedTickForTest(std::optional<u64> tickMs) {
  g_fixedTick.store(tickMs.value_or(0), std::memory_order_relaxed);
  g_tickFixed.store(tickMs.has_value(), std::memory_order_release);
}

void setNowForTest(std::optional<i64> unixMs) {
  g_fixedNow.store(unixMs.value_or(0), std::memory_order_relaxed);
  g_nowFixed.store(unixMs.has_value(), std::memory_order_release);
}

}  // namespace zuPlatform
