#include "loam/threads/zuMemMutex.h"

#include "loam/platform/zuPlatformThread.h"

bool zuMemMutex::lock() {
  const u32 me = zuPlatform::currentThreadId();
  // Only this thread ever stores its own id here, so the test needs no lock.
  if (owner_.load(std::memory_order_relaxed) == me) {
    count_.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  section_.enter();
  count_.store(1, std::memory_order_relaxed);
  owner_.store(me, std::memory_order_release);
  return true;
}

void zuMemMutex::unlock() {
  const u32 me = zuPlatform::currentThreadId();
  if (owner_.load(std::memory_order_relaxed) != me) return;
  if (count_.fetch_sub(1, std::memory_order_relaxed) == 1) {
    owner_.store(0, std::memory_order_release);
    section_.leave();
  }
}
