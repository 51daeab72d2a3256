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

}  // namespace zuPlatform
