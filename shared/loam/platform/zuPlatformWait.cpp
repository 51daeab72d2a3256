#include "loam/platform/zuPlatformWait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

#include "internal/zuPlatformStore.h"

namespace zuPlatform {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int pollSlice(u32 ms, Clock::time_point end) {
  if (ms == kWaitForever) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, INT_MAX));
}

i32 waitForAny(std::span<const Handle> handles, u32 ms) {
  std::vector<pollfd> entries(handles.size());
  bool anyValid = false;
  for (std::size_t i = 0; i < handles.size(); ++i) {
    // poll() ignores negative descriptors, which is what an invalid handle needs.
    entries[i] = pollfd{handles[i], POLLIN, 0};
    anyValid = anyValid || isValidHandle(handles[i]);
  }
  if (!anyValid && ms == kWaitForever) {
    errno = EINVAL;
    return kWaitFailed;
  }
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int slice = pollSlice(ms, end);
    const int n = store::pollFor(entries, slice);
    if (n < 0) return kWaitFailed;
    if (n > 0) {
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].revents & POLLNVAL) {
          errno = EBADF;
          return kWaitFailed;
        }
      }
      for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].revents != 0) return static_cast<i32>(i);
    }
    // Nothing ready: either the time is up, or a long wait's slice ended.
    if (ms != kWaitForever && Clock::now() >= end) return kWaitTimeout;
  }
}

bool waitForOne(Handle handle, u32 ms) {
  return waitForAny(std::span<const Handle>(&handle, 1), ms) == 0;
}

}  // namespace zuPlatform
