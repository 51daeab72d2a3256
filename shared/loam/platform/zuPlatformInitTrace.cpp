#include "loam/platform/zuPlatformInitTrace.h"

#include <atomic>

namespace zuPlatform {
namespace {

// Constant-initialized: there before the first dynamic initializer runs.
constexpr u32 kCapacity = 64;
constinit u32 g_slots[kCapacity] = {};
constinit std::atomic<u32> g_count{0};

}  // namespace

void noteBuilt(u32 slot) {
  const u32 at = g_count.load(std::memory_order_relaxed);
  if (at >= kCapacity) return;
  g_slots[at] = slot;
  g_count.store(at + 1, std::memory_order_release);
}

std::vector<u32> builtSlots() {
  const u32 count = g_count.load(std::memory_order_acquire);
  return std::vector<u32>(g_slots, g_slots + count);
}

}  // namespace zuPlatform
