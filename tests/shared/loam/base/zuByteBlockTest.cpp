#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "loam/base/zuByteBlock.h"

namespace {

std::string textOf(const zuByteBlock& block) {
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// Growth from heap blocks to mapped pages and back keeps every byte; a
// reserved block does not move while it fills.
TEST(zuByteBlock, GrowingAcrossThePageThresholdKeepsTheBytes) {
  std::string expected;
  zuByteBlock block;
  for (std::size_t piece : {std::size_t{1}, std::size_t{1000}, zuByteBlock::kPageThreshold,
                            std::size_t{3} * zuByteBlock::kPageThreshold + 7}) {
    const std::string bytes(piece, static_cast<char>('a' + piece % 26));
    block.append(reinterpret_cast<const u8*>(bytes.data()), bytes.size());
    expected += bytes;
    ASSERT_EQ(textOf(block), expected) << piece;
    EXPECT_GE(block.capacity(), block.size());
  }

  zuByteBlock reserved;
  reserved.reserve(2 * zuByteBlock::kPageThreshold);
  const u8* at = reserved.data();
  reserved.append(block.data(), 2 * zuByteBlock::kPageThreshold);
  EXPECT_EQ(reserved.data(), at);
  reserved.resize(reserved.size() + 3);
  EXPECT_EQ(textOf(reserved),
            expected.substr(0, 2 * zuByteBlock::kPageThreshold) + std::string(3, '\0'));

  zuByteBlock moved(std::move(block));
  EXPECT_TRUE(block.empty());  // NOLINT: moved-from is empty by contract
  EXPECT_EQ(textOf(moved), expected);
  moved.clear();
  EXPECT_TRUE(moved.empty());
  EXPECT_GE(moved.capacity(), expected.size());
}

}  // namespace
