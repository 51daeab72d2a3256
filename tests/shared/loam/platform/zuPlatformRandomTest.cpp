#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "loam/platform/zuPlatformRandom.h"

namespace {

std::vector<u32> draw(int n) {
  std::vector<u32> values;
  for (int i = 0; i < n; ++i) values.push_back(zuPlatform::crtRand());
  return values;
}

// The run-time library's well-known sequence for its start seed 1.
const std::vector<u32> kSeed1 = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};

TEST(PlatformRandom, NewThreadStartsFromSeedOne) {
  std::vector<u32> values;
  std::thread([&] { values = draw(8); }).join();
  EXPECT_EQ(values, kSeed1);
}

TEST(PlatformRandom, SrandRestartsTheSequence) {
  zuPlatform::crtSrand(1);
  EXPECT_EQ(draw(8), kSeed1);
  zuPlatform::crtSrand(99);
  EXPECT_EQ(draw(4), (std::vector<u32>{361, 23235, 20319, 25409}));
}

TEST(PlatformRandom, ValuesStayWithinFifteenBits) {
  zuPlatform::crtSrand(0xDEADBEEF);
  for (u32 v : draw(20000)) ASSERT_LE(v, zuPlatform::kCrtRandMax);
}

TEST(PlatformRandom, EachThreadHasItsOwnGenerator) {
  zuPlatform::crtSrand(99);
  const u32 first = zuPlatform::crtRand();
  std::vector<u32> other;
  std::thread([&] {
    zuPlatform::crtSrand(7);
    draw(100);
    zuPlatform::crtSrand(1);
    other = draw(3);
  }).join();
  // The other thread's seeding and draws neither reset nor advance this one.
  EXPECT_EQ(first, 361u);
  EXPECT_EQ(draw(3), (std::vector<u32>{23235, 20319, 25409}));
  EXPECT_EQ(other, (std::vector<u32>{41, 18467, 6334}));
}

u32 allOnes() { return 0xFFFFFFFFu; }
u32 fortyTwo() { return 42; }

TEST(PlatformRandom, SourceSeamReplacesTheGeneratorOnEveryThread) {
  EXPECT_EQ(zuPlatform::setRandomSource(allOnes), nullptr);
  EXPECT_EQ(zuPlatform::crtRand(), zuPlatform::kCrtRandMax);
  u32 seen = 0;
  std::thread([&] { seen = zuPlatform::crtRand(); }).join();
  EXPECT_EQ(seen, zuPlatform::kCrtRandMax);
  EXPECT_EQ(zuPlatform::setRandomSource(fortyTwo), allOnes);
  EXPECT_EQ(zuPlatform::crtRand(), 42u);
  EXPECT_EQ(zuPlatform::setRandomSource(nullptr), fortyTwo);
  // The generator was not stepped while the source stood in for it.
  zuPlatform::crtSrand(1);
  zuPlatform::setRandomSource(fortyTwo);
  zuPlatform::crtRand();
  zuPlatform::setRandomSource(nullptr);
  EXPECT_EQ(zuPlatform::crtRand(), 41u);
}

}  // namespace
