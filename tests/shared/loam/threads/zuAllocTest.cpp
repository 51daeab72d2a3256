#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "loam/platform/zuPlatformMemory.h"
#include "loam/threads/zuAlloc.h"

namespace {

class zuAllocTest : public ::testing::Test {
 protected:
  void TearDown() override { zuPlatform::failAllocationsForTest(0); }
};

void fill(const zuAlloc& a, char c) {
  if (a.size() > 0) std::memset(a.ptr(), c, a.size());
}

TEST_F(zuAllocTest, GrowAndResize) {
  struct Case {
    const char* what;
    u32 start;
    bool grow;  // else resize
    u32 to;
    u32 size;
    bool sameBlock;
    u32 kept;  // leading bytes still 'a'
  };
  const Case cases[] = {
      {"grow larger", 16, true, 64, 64, false, 16},
      {"grow to the same size", 16, true, 16, 16, true, 16},
      {"grow smaller", 64, true, 8, 64, true, 64},
      {"grow from nothing", 0, true, 32, 32, false, 0},
      {"resize", 16, false, 64, 64, false, 0},
      {"resize to nothing", 16, false, 0, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zuAlloc a(c.start);
    EXPECT_EQ(a.size(), c.start);
    EXPECT_EQ(a.ptr() == nullptr, c.start == 0);
    fill(a, 'a');
    const void* before = a.ptr();
    EXPECT_TRUE(c.grow ? a.grow(c.to) : a.resize(c.to));
    EXPECT_EQ(a.size(), c.size);
    if (c.sameBlock) {
      EXPECT_EQ(a.ptr(), before);
    }
    EXPECT_EQ(a.ptr() == nullptr, c.size == 0);
    for (u32 i = 0; i < c.kept; ++i) ASSERT_EQ(a.chars()[i], 'a') << i;
    fill(a, 'b');  // the whole block is usable
  }
}

TEST_F(zuAllocTest, FailedResizeLeavesNoBlockToReleaseTwice) {
  zuAlloc a(32);
  zuPlatform::failAllocationsForTest(1);
  try {
    a.resize(64);
    FAIL() << "no exception";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "bad allocation");
  }
  EXPECT_EQ(a.ptr(), nullptr);
  EXPECT_EQ(a.size(), 0u);
  // The destructor releases nothing: under AddressSanitizer a stale pointer
  // here would be a double free.
}

TEST_F(zuAllocTest, FailedGrowKeepsTheOldBlock) {
  zuAlloc a(8);
  std::memcpy(a.ptr(), "abcdefg", 8);
  const void* before = a.ptr();
  zuPlatform::failAllocationsForTest(1);
  EXPECT_THROW(a.grow(1024), std::bad_alloc);
  EXPECT_EQ(a.ptr(), before);
  EXPECT_EQ(a.size(), 8u);
  EXPECT_STREQ(a.chars(), "abcdefg");
  zuAlloc next(16);  // one failure asked for, one used
  EXPECT_NE(next.ptr(), nullptr);
}

TEST_F(zuAllocTest, AttachTakesOwnershipAndFreeReleases) {
  zuAlloc a(16);
  void* block = std::malloc(100);
  a.attach(block, 100);
  EXPECT_EQ(a.ptr(), block);
  EXPECT_EQ(a.size(), 100u);
  a.attach(block, 50);  // the same block again: kept, not released
  EXPECT_EQ(a.ptr(), block);
  EXPECT_EQ(a.size(), 50u);
  a.free();
  EXPECT_EQ(a.ptr(), nullptr);
  EXPECT_EQ(a.size(), 0u);
  a.free();
}

}  // namespace
