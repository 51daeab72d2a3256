#include "loam/platform/zuPlatformMemory.h"

#include <atomic>
#include <cstdlib>

namespace zuPlatform {
namespace {

constinit std::atomic<u32> g_failCount{0};

bool takeFailure() {
  u32 left = g_failCount.load(std::memory_order_relaxed);
  while (left > 0) {
    if (g_failCount.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

}  // namespace

void* allocateBlock(std::size_t size) {
  if (size == 0 || takeFailure()) return nullptr;
  return std::malloc(size);
}

void releaseBlock(void* block) { std::free(block); }

void failAllocationsForTest(u32 count) { g_failCount.store(count, std::memory_order_relaxed); }

}  // namespace zuPlatform
