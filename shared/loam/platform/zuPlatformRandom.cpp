#include "loam/platform/zuPlatformRandom.h"

#include <time.h>

#include <atomic>

namespace zuPlatform {
namespace {

thread_local u32 t_seed = 1;
std::atomic<RandomSource> g_source{nullptr};

}  // namespace

void crtSrand(u32 seed) { t_seed = seed; }

u32 crtRand() {
  if (RandomSource source = g_source.load(std::memory_order_acquire)) {
    return source() & kCrtRandMax;
  }
  t_seed = t_seed * 214013u + 2531011u;
  return (t_seed >> 16) & kCrtRandMax;
}

RandomSource setRandomSource(RandomSource source) {
  return g_source.exchange(source, std::memory_order_acq_rel);
}

u32 tickSeed() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const u64 ms = static_cast<u64>(ts.tv_sec) * 1000u + static_cast<u64>(ts.tv_nsec) / 1000000u;
  // A 32-bit tick count folded modulo 0xFFFFFFFF, as the library's tick count is.
  return static_cast<u32>(ms % 0xFFFFFFFFu);
}

}  // namespace zuPlatform
