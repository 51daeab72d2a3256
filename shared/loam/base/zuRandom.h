#pragma once
// Pseudo-random numbers for non-cryptographic uses: free functions over the
// C run-time generator, and zuRandom, a Mersenne Twister (MT19937) that also
// draws alphanumeric strings. Keys, padding and nonces come from Crypto++.
#include <string>

#include "loam/platform/zuTypes.h"

// Seeds the C run-time generator from the calendar time in seconds. The other
// C-generator functions call it first when nothing has seeded it yet.
void zuRandomSeedOnce();
// One C run-time draw, 0 to 32767.
u32 zuRandom15();
// Two draws as (first << 16) | second; bits 15 and 31 are always 0.
u32 zuRandomValue();
// zuRandomValue() % n; 0 for n = 0.
u32 zuRandomBelow(u32 n);
// A value from a up to but not including b; a when b <= a.
u32 zuRandomInRange(u32 a, u32 b);
// zuRandom15() % n; 0 for n = 0.
u16 zuRandomBelow16(u16 n);
// A value from a up to but not including b; a when b <= a.
u16 zuRandomInRange16(u16 a, u16 b);

// The process-wide seed that unseeded zuRandom objects start from. It is set
// from the tick count before main, and every zuRandom draw XORs its output
// shifted right by one into it.
u32 zuRandomDefaultSeed();

// MT19937. One object belongs to one thread.
class zuRandom {
 public:
  // Seeds with the current default seed.
  zuRandom();
  explicit zuRandom(u32 seed);

  // init_genrand of the reference implementation.
  void seed(u32 s);
  // init_by_array of the reference implementation. An empty key seeds as
  // init_genrand(19650218), the array seeding's base seed.
  void seedByArray(const u32* key, u32 length);

  // genrand_int32 of the reference implementation.
  u32 next();
  u32 nextModulo60();
  // n characters from the 60-character alphabet of letters (without 'w' and
  // 'W') and digits.
  std::string randomString(u32 n);

 private:
  static constexpr u32 kN = 624;
  static constexpr u32 kM = 397;

  void regenerate();

  u32 m_state[kN];
  u32 m_index = kN;
  u32 m_mag01[2] = {0x0u, 0x9908B0DFu};
};
