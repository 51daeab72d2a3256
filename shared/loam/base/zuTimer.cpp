#include "loam/base/zuTimer.h"

#include <atomic>
#include <cstdio>

#include "loam/platform/zuPlatformTime.h"

namespace {

// Started from threads at once; constant-initialised, so timers built before
// main can use it.
constinit std::atomic<u32> g_timerSequence{0};

}  // namespace

u32 zuGetTickCount() { return zuPlatform::tickCount(); }

void zuTimer::start() {
  stamp_ = zuGetTickCount();
  sequence_ = g_timerSequence.fetch_add(1, std::memory_order_relaxed);
}

void zuTimer::clear() {
  sequence_ = 0;
  stamp_ = 0;
}

u32 zuTimer::elapsed() const { return span(stamp_, zuGetTickCount()); }

i32 zuTimer::difference(const zuTimer& a, const zuTimer& b) {
  if (a.isEarlier(b)) {
    const u32 s = span(a.stamp_, b.stamp_);
    return static_cast<i32>(s < 0x7FFFFFFF ? s : 0x7FFFFFFF);
  }
  const u32 s = span(b.stamp_, a.stamp_);
  return s >= 0x7FFFFFFF ? INT32_MIN : -static_cast<i32>(s);
}

std::string& zuTimer::elapsedText(std::string& out) const {
  const u32 e = elapsed();
  const u32 fields[4] = {e / 3600000, e / 60000 % 60, e / 1000 % 60, e % 1000};
  out.clear();
  for (u32 f : fields) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%s%u:", f < 10 ? "0" : "", f);
    out += buffer;
  }
  out.pop_back();
  return out;
}
