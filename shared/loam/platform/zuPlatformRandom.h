#pragma once
// The C run-time random generator as the library expects it from Windows: one
// generator per thread (each thread starts from seed 1), 15-bit results from
// the linear congruential step seed = seed * 214013 + 2531011. glibc's rand()
// is process-wide and 31-bit, so it is not used.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Largest value crtRand returns.
inline constexpr u32 kCrtRandMax = 0x7FFF;

// Seeds the calling thread's generator (srand).
void crtSrand(u32 seed);
// The calling thread's next value, 0 to kCrtRandMax (rand).
u32 crtRand();

// Test seam: while a source is set, crtRand returns its values (masked to 15
// bits) on every thread instead of stepping the generator. Null restores the
// generator. Returns the previous source.
using RandomSource = u32 (*)();
RandomSource setRandomSource(RandomSource source);

}  // namespace zuPlatform
