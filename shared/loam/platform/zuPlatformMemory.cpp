#include "loam/platform/zuPlatformMemory.h"

#include <malloc.h>
#include <sys/mman.h>

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

void* mapPages(std::size_t size) {
  if (size == 0) return nullptr;
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void unmapPages(void* block, std::size_t size) {
  if (block != nullptr && size != 0) ::munmap(block, size);
}

void returnFreeHeap() { ::malloc_trim(0); }

void failAllocationsForTest(u32 count) { g_failCount.store(count, std::memory_order_relaxed); }

}  // namespace zuPlatform
