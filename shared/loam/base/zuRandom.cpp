#include "loam/base/zuRandom.h"

#include <atomic>
#include <ctime>

#include "loam/base/zuTimer.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformRandom.h"

namespace {

ZU_INIT_ORDER(ZU_INIT_DEFAULT_RANDOM_SEED) std::atomic<u32> g_defaultSeed{zuGetTickCount()};
ZU_INIT_ORDER(ZU_INIT_DEFAULT_RANDOM_SEED)
zuPlatform::InitNote g_defaultSeedNote{ZU_INIT_DEFAULT_RANDOM_SEED};

std::atomic<bool> g_crtSeeded{false};

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvxyzABCDEFGHIJKLMNOPQRSTUVXYZ0123456789";
static_assert(sizeof(kAlphabet) - 1 == 60);

constexpr u32 kUpperMask = 0x80000000u;
constexpr u32 kLowerMask = 0x7FFFFFFFu;

void seedIfNeeded() {
  if (!g_crtSeeded.load(std::memory_order_acquire)) zuRandomSeedOnce();
}

}  // namespace

void zuRandomSeedOnce() {
  zuPlatform::crtSrand(static_cast<u32>(std::time(nullptr)));
  g_crtSeeded.store(true, std::memory_order_release);
}

u32 zuRandom15() {
  seedIfNeeded();
  return zuPlatform::crtRand();
}

u32 zuRandomValue() {
  const u32 high = zuRandom15();
  return (high << 16) | zuRandom15();
}

u32 zuRandomBelow(u32 n) { return n == 0 ? 0 : zuRandomValue() % n; }

u32 zuRandomInRange(u32 a, u32 b) { return b <= a ? a : a + zuRandomValue() % (b - a); }

u16 zuRandomBelow16(u16 n) { return n == 0 ? u16{0} : static_cast<u16>(zuRandom15() % n); }

u16 zuRandomInRange16(u16 a, u16 b) {
  return b <= a ? a : static_cast<u16>(a + zuRandom15() % static_cast<u32>(b - a));
}

u32 zuRandomDefaultSeed() { return g_defaultSeed.load(std::memory_order_relaxed); }

zuRandom::zuRandom() { seed(zuRandomDefaultSeed()); }

zuRandom::zuRandom(u32 s) { seed(s); }

void zuRandom::seed(u32 s) {
  m_state[0] = s;
  for (u32 i = 1; i < kN; ++i) {
    m_state[i] = 1812433253u * (m_state[i - 1] ^ (m_state[i - 1] >> 30)) + i;
  }
  m_index = kN;
}

void zuRandom::seedByArray(const u32* key, u32 length) {
  seed(19650218u);
  if (key == nullptr || length == 0) return;
  u32 i = 1;
  u32 j = 0;
  for (u32 k = kN > length ? kN : length; k > 0; --k) {
    m_state[i] = (m_state[i] ^ ((m_state[i - 1] ^ (m_state[i - 1] >> 30)) * 1664525u)) + key[j] + j;
    ++i;
    ++j;
    if (i >= kN) {
      m_state[0] = m_state[kN - 1];
      i = 1;
    }
    if (j >= length) j = 0;
  }
  for (u32 k = kN - 1; k > 0; --k) {
    m_state[i] = (m_state[i] ^ ((m_state[i - 1] ^ (m_state[i - 1] >> 30)) * 1566083941u)) - i;
    ++i;
    if (i >= kN) {
      m_state[0] = m_state[kN - 1];
      i = 1;
    }
  }
  m_state[0] = 0x80000000u;
}

void zuRandom::regenerate() {
  u32 kk = 0;
  for (; kk < kN - kM; ++kk) {
    const u32 y = (m_state[kk] & kUpperMask) | (m_state[kk + 1] & kLowerMask);
    m_state[kk] = m_state[kk + kM] ^ (y >> 1) ^ m_mag01[y & 0x1u];
  }
  for (; kk < kN - 1; ++kk) {
    const u32 y = (m_state[kk] & kUpperMask) | (m_state[kk + 1] & kLowerMask);
    m_state[kk] = m_state[kk + kM - kN] ^ (y >> 1) ^ m_mag01[y & 0x1u];
  }
  const u32 y = (m_state[kN - 1] & kUpperMask) | (m_state[0] & kLowerMask);
  m_state[kN - 1] = m_state[kM - 1] ^ (y >> 1) ^ m_mag01[y & 0x1u];
  m_index = 0;
}

u32 zuRandom::next() {
  if (m_index >= kN) regenerate();
  u32 y = m_state[m_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  g_defaultSeed.fetch_xor(y >> 1, std::memory_order_relaxed);
  return y;
}

u32 zuRandom::nextModulo60() { return next() % 60u; }

std::string zuRandom::randomString(u32 n) {
  std::string text;
  text.reserve(n);
  for (u32 i = 0; i < n; ++i) text += kAlphabet[nextModulo60()];
  return text;
}
