#include <gtest/gtest.h>

#include <vector>

#include "NetTestSupport.h"
#include "loam/netobjects/zuNetMessageHeader.h"

namespace {

using H = zuNetMessageHeader;

TEST(zuNetMessageHeaderTest, SixBytesBigEndianBothWays) {
  const std::vector<u8> wire = nettest::fromHex("1234 02 0b 0304");
  H h;
  EXPECT_EQ(h.read(wire.data(), static_cast<u32>(wire.size())), 6u);
  EXPECT_EQ(h.id, 0x1234);
  EXPECT_EQ(h.type, 2);
  EXPECT_EQ(h.flags, 11);
  EXPECT_EQ(h.error, 772);
  EXPECT_TRUE(h.isRequest());
  EXPECT_TRUE(h.isFirstChunk());
  EXPECT_FALSE(h.isCancel());
  EXPECT_TRUE(h.isLastChunk());
  u8 out[6] = {};
  EXPECT_EQ(h.write(out), 6u);
  EXPECT_EQ(std::vector<u8>(out, out + 6), wire);
}

TEST(zuNetMessageHeaderTest, ShortInputIsNotAHeader) {
  const u8 five[5] = {1, 2, 3, 4, 5};
  H h;
  h.id = 9;
  EXPECT_EQ(h.read(five, 5), 0u);
  EXPECT_EQ(h.read(nullptr, 6), 0u);
  EXPECT_EQ(h.id, 9);
  EXPECT_EQ(h.type, 0);
}

// Every flags byte the protocol puts on the wire.
TEST(zuNetMessageHeaderTest, FlagValues) {
  struct Case {
    const char* name;
    u8 flags;
    u8 expected;
  };
  const Case cases[] = {
      {"request, first chunk", H::chunkFlags(true, 1, false), 3},
      {"request, only chunk", H::chunkFlags(true, 1, true), 11},
      {"request, later chunk", H::chunkFlags(true, 2, false), 1},
      {"request, last chunk", H::chunkFlags(true, 5, true), 9},
      {"response, first chunk", H::chunkFlags(false, 1, false), 0},
      {"response, later chunk", H::chunkFlags(false, 2, false), 0},
      {"response, only chunk", H::chunkFlags(false, 1, true), 8},
      {"response, last chunk", H::chunkFlags(false, 3, true), 8},
      {"cancel by the requester", H::controlFlags(true, H::kCancelFlags), 13},
      {"acknowledgement", H::controlFlags(false, H::kCancelFlags), 12},
      {"keep-alive", H::controlFlags(false, H::kFlagLastChunk), 8},
      {"keep-alive answer request", H::controlFlags(true, H::kFlagLastChunk), 9},
      {"error reply", H::controlFlags(false, H::kFlagLastChunk | H::kFlagRequest), 8},
      {"connection refused", H::controlFlags(true, 0), 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.flags, c.expected) << c.name;
  }
}

}  // namespace
