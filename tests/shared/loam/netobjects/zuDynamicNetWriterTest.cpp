#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "NetTestSupport.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/platform/zuPlatformMemory.h"

namespace {

using nettest::bytesOf;

TEST(zuDynamicNetWriterTest, StartsWithoutStorageAndGrowsFrom10240ByDoubling) {
  zuDynamicNetWriter w;
  EXPECT_EQ(w.capacity(), 0u);
  EXPECT_EQ(w.getStart(), nullptr);
  w.putUInt8(1);
  EXPECT_EQ(w.capacity(), 10240u);

  struct Case {
    u32 total;
    u32 capacity;
  };
  for (const Case& c : {Case{10240, 10240}, Case{10241, 20480}, Case{40960, 40960},
                        Case{40961, 81920}, Case{100000, 163840}}) {
    SCOPED_TRACE(c.total);
    zuDynamicNetWriter one;
    const std::vector<u8> bytes(c.total, 0x5A);
    one.putData(bytes.data(), c.total);  // in one call
    EXPECT_EQ(one.capacity(), c.capacity);
    EXPECT_EQ(one.size(), c.total);
  }
}

TEST(zuDynamicNetWriterTest, GrowingKeepsWhatWasWritten) {
  zuDynamicNetWriter w;
  std::vector<u8> expected;
  for (u32 i = 0; i < 30000; ++i) {
    w.putUInt16(static_cast<u16>(i));
    expected.push_back(static_cast<u8>(i >> 8));
    expected.push_back(static_cast<u8>(i));
  }
  EXPECT_EQ(w.capacity(), 81920u);
  EXPECT_EQ(bytesOf(w), expected);
  EXPECT_TRUE(w.isValid());
  w.reset();
  EXPECT_EQ(w.size(), 0u);
  EXPECT_EQ(w.capacity(), 81920u);  // the storage stays
}

// Past the 32-bit maximum the request is refused before anything is
// allocated or read.
TEST(zuDynamicNetWriterTest, PastTheMaximumIsRefusedLikeAFullWriter) {
  zuDynamicNetWriter w;
  w.putUInt32(7);
  u8 source[1] = {0};
  try {
    w.putData(source, 0xFFFFFFFFu);
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "zuNetWriter::resizeIfNeeded");
  }
  EXPECT_FALSE(w.isValid());
  EXPECT_EQ(w.size(), 4u);
  EXPECT_EQ(w.capacity(), 10240u);
}

TEST(zuDynamicNetWriterTest, FailedAllocationThrowsBadAllocAndKeepsTheWriterInvalid) {
  zuDynamicNetWriter w;
  std::vector<u8> block(10240, 0x33);
  w.putData(block.data(), 10240);
  zuPlatform::failAllocationsForTest(1);
  EXPECT_THROW(w.putUInt8(1), std::bad_alloc);
  zuPlatform::failAllocationsForTest(0);
  EXPECT_FALSE(w.isValid());
  EXPECT_EQ(w.size(), 10240u);
  EXPECT_EQ(bytesOf(w), block);
  // A later growth that succeeds does not hide the lost value.
  w.putUInt8(2);
  EXPECT_EQ(w.capacity(), 20480u);
  EXPECT_FALSE(w.isValid());
  w.reset();
  EXPECT_TRUE(w.isValid());
}

}  // namespace
