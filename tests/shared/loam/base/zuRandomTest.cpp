#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuRandom.h"
#include "loam/platform/zuPlatformRandom.h"

namespace {

const std::string kAlphabet = "abcdefghijklmnopqrstuvxyzABCDEFGHIJKLMNOPQRSTUVXYZ0123456789";

// ---- MT19937 ----

TEST(Random, Seed5489GivesThePublishedSequence) {
  zuRandom r(5489);
  const std::array<u32, 5> first = {3499211612u, 581869302u, 3890346734u, 3586334585u, 545404204u};
  for (u32 expected : first) EXPECT_EQ(r.next(), expected);
  for (int i = 5; i < 9999; ++i) r.next();
  EXPECT_EQ(r.next(), 4123659995u);  // the 10000th
}

TEST(Random, SeedMatchesStandardGenerator) {
  for (u32 s : {0u, 1u, 5489u, 0x9E3779B9u, 0xFFFFFFFFu}) {
    std::mt19937 reference(s);
    zuRandom r;
    r.seed(s);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(r.next(), reference()) << "seed " << s << " #" << i;
  }
}

TEST(Random, ReseedingRestartsTheSequence) {
  zuRandom r(77);
  const u32 first = r.next();
  for (int i = 0; i < 700; ++i) r.next();  // past a regeneration
  r.seed(77);
  EXPECT_EQ(r.next(), first);
}

struct ArrayCase {
  std::vector<u32> key;
  // outputs #1, #624, #625 and #1000
  std::array<u32, 4> outputs;
};

void PrintTo(const ArrayCase& c, std::ostream* os) {
  *os << c.key.size() << "-word key from " << c.key.at(0);
}

std::vector<u32> longKey() {
  std::vector<u32> key;
  for (u32 i = 0; i < 700; ++i) key.push_back(i * 2654435761u + 1u);
  return key;
}

class RandomSeedByArray : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(RandomSeedByArray, MatchesReferenceOutputs) {
  const ArrayCase& c = GetParam();
  zuRandom r(1);
  r.seedByArray(c.key.data(), static_cast<u32>(c.key.size()));
  std::vector<u32> out;
  for (int i = 0; i < 1000; ++i) out.push_back(r.next());
  EXPECT_EQ(out[0], c.outputs[0]);
  EXPECT_EQ(out[623], c.outputs[1]);
  EXPECT_EQ(out[624], c.outputs[2]);
  EXPECT_EQ(out[999], c.outputs[3]);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RandomSeedByArray,
    ::testing::Values(
        // the reference implementation's own test key
        ArrayCase{{0x123, 0x234, 0x345, 0x456},
                  {1067595299u, 144400272u, 3768408841u, 3460025646u}},
        ArrayCase{{0xFFFFFFFF}, {2728839433u, 2365591444u, 2143983266u, 3614058829u}},
        // longer than the state, so the key loop runs past 624
        ArrayCase{longKey(), {285450211u, 318702124u, 1430901956u, 2774117369u}}));

TEST(Random, SeedByArrayReferenceKeyFirstOutputs) {
  const std::array<u32, 4> key = {0x123, 0x234, 0x345, 0x456};
  zuRandom r(1);
  r.seedByArray(key.data(), 4);
  const std::array<u32, 5> first = {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u};
  for (u32 expected : first) EXPECT_EQ(r.next(), expected);
}

TEST(Random, SeedByArrayWithoutKeyUsesTheBaseSeed) {
  zuRandom r(1);
  r.seedByArray(nullptr, 0);
  std::mt19937 reference(19650218u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(r.next(), reference());
}

// ---- default seed ----

TEST(Random, EveryDrawFoldsIntoTheDefaultSeed) {
  const u32 before = zuRandomDefaultSeed();
  zuRandom r(5489);
  const u32 y = r.next();
  EXPECT_EQ(zuRandomDefaultSeed(), before ^ (y >> 1));
}

TEST(Random, UnseededObjectStartsFromTheDefaultSeed) {
  const u32 s = zuRandomDefaultSeed();
  zuRandom unseeded;
  std::mt19937 reference(s);
  EXPECT_EQ(unseeded.next(), reference());
}

TEST(Random, UnseededObjectsDifferOnceADrawCameBetween) {
  const u32 s = zuRandomDefaultSeed();
  zuRandom first;
  zuRandom twin;
  zuRandom a;
  a.next();
  zuRandom b;
  EXPECT_EQ(first.next(), twin.next());  // built from the same seed
  EXPECT_NE(b.next(), static_cast<u32>(std::mt19937(s)()));
}

TEST(Random, DrawsOnSeveralThreadsAllReachTheDefaultSeed) {
  constexpr u32 kThreads = 4;
  constexpr int kDraws = 20000;
  u32 folded = 0;
  for (u32 t = 0; t < kThreads; ++t) {
    std::mt19937 reference(t + 100);
    for (int i = 0; i < kDraws; ++i) folded ^= static_cast<u32>(reference()) >> 1;
  }
  const u32 before = zuRandomDefaultSeed();
  std::vector<std::thread> threads;
  for (u32 t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      zuRandom r(t + 100);
      for (int i = 0; i < kDraws; ++i) r.next();
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(zuRandomDefaultSeed(), before ^ folded);
}

// ---- random strings ----

TEST(Random, RandomStringMapsEachDrawOntoTheAlphabet) {
  zuRandom r(5489);
  std::mt19937 reference(5489);
  const std::string text = r.randomString(200);
  ASSERT_EQ(text.size(), 200u);
  for (char ch : text) EXPECT_EQ(ch, kAlphabet[reference() % 60]);
  EXPECT_EQ(r.randomString(0), "");
}

TEST(Random, RandomStringUsesTheWholeAlphabetAndNothingElse) {
  zuRandom r(12345);
  const std::string text = r.randomString(6000);
  EXPECT_EQ(text.find_first_not_of(kAlphabet), std::string::npos);
  EXPECT_EQ(text.find_first_of("wW"), std::string::npos);
  EXPECT_EQ(std::set<char>(text.begin(), text.end()).size(), 60u);
}

// ---- C run-time helpers ----

// Sources for the platform seam: a queue of values handed out in order.
std::vector<u32> g_queue;
size_t g_next = 0;
u32 fromQueue() { return g_queue.at(g_next++); }

class RandomCrt : public ::testing::Test {
 protected:
  void feed(std::vector<u32> values) {
    g_queue = std::move(values);
    g_next = 0;
    zuPlatform::setRandomSource(fromQueue);
  }
  void TearDown() override { zuPlatform::setRandomSource(nullptr); }
};

TEST_F(RandomCrt, ValueCombinesTwoDrawsHighFirst) {
  feed({0x1234, 0x0567, 0x7FFF, 0x7FFF});
  EXPECT_EQ(zuRandomValue(), 0x12340567u);
  EXPECT_EQ(zuRandomValue(), 0x7FFF7FFFu);  // bits 15 and 31 stay clear
}

struct RangeCase {
  const char* name;
  u32 draw;  // every C run-time draw returns this
  u32 result;
  u32 (*call)();
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class RandomRange : public RandomCrt, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RandomRange, Result) {
  const RangeCase& c = GetParam();
  feed(std::vector<u32>(4, c.draw));
  EXPECT_EQ(c.call(), c.result) << c.name;
}

constexpr u32 k1234 = 0x12341234u;

INSTANTIATE_TEST_SUITE_P(
    Table, RandomRange,
    ::testing::Values(
        RangeCase{"below", 0x1234, k1234 % 1000, [] { return zuRandomBelow(1000); }},
        RangeCase{"below zero", 0x1234, 0, [] { return zuRandomBelow(0); }},
        RangeCase{"below one", 0x1234, 0, [] { return zuRandomBelow(1); }},
        RangeCase{"range", 0x1234, 10 + k1234 % 10, [] { return zuRandomInRange(10, 20); }},
        RangeCase{"range top", 7, 19, [] { return zuRandomInRange(10, 20); }},
        RangeCase{"range empty", 0x1234, 5, [] { return zuRandomInRange(5, 5); }},
        RangeCase{"range reversed", 0x1234, 9, [] { return zuRandomInRange(9, 5); }},
        RangeCase{"range wide", 0x7FFF, 0x7FFF7FFFu,
                  [] { return zuRandomInRange(0, 0xFFFFFFFFu); }},
        RangeCase{"below16", 0x1234, 0x1234 % 100, [] { return u32{zuRandomBelow16(100)}; }},
        RangeCase{"below16 zero", 0x1234, 0, [] { return u32{zuRandomBelow16(0)}; }},
        RangeCase{"range16", 0x1234, 300 + 0x1234 % 200,
                  [] { return u32{zuRandomInRange16(300, 500)}; }},
        RangeCase{"range16 empty", 0x1234, 7, [] { return u32{zuRandomInRange16(7, 7)}; }},
        RangeCase{"range16 reversed", 0x1234, 9, [] { return u32{zuRandomInRange16(9, 3)}; }},
        RangeCase{"range16 top", 0x7FFF, 0xFFFE,
                  [] { return u32{zuRandomInRange16(0xFFFE, 0xFFFF)}; }}),
    [](const ::testing::TestParamInfo<RangeCase>& param) {
      std::string name = param.param.name;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

TEST(Random, CrtHelpersKeepAnExplicitSeed) {
  zuRandomSeedOnce();
  zuPlatform::crtSrand(99);
  // Once seeded, the helpers draw on without seeding again.
  EXPECT_EQ(zuRandom15(), 361u);
  EXPECT_EQ(zuRandomValue(), (23235u << 16) | 20319u);
}

TEST(Random, InRangeCoversTheRangeAndNoMore) {
  zuRandomSeedOnce();
  zuPlatform::crtSrand(2024);
  std::set<u32> seen;
  for (int i = 0; i < 2000; ++i) {
    const u32 v = zuRandomInRange(10, 20);
    ASSERT_GE(v, 10u);
    ASSERT_LT(v, 20u);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 10u);
}

}  // namespace
