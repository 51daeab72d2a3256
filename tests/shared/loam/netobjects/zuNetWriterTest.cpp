#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "loam/base/zuDate.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetWriter.h"

namespace {

using nettest::bytesOf;
using nettest::fromHex;

TEST(zuNetWriterTest, StringsAreTheirBytesAndOneNul) {
  struct Case {
    const char* name;
    std::string text;
    const char* hex;
  };
  const std::vector<Case> cases = {
      {"abc", "abc", "61626300"},
      {"empty", "", "00"},
      // Cut at the NUL, so the value cannot read back as two strings.
      {"inner NUL", std::string("ab\0cd", 5), "616200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zuDynamicNetWriter w;
    w.putString(c.text);
    EXPECT_EQ(bytesOf(w), fromHex(c.hex));
  }
  zuDynamicNetWriter w;
  w.putCString("abc");
  w.putCString(nullptr);
  EXPECT_EQ(bytesOf(w), fromHex("6162630000"));
}

TEST(zuNetWriterTest, StringMaxCutsToMaximumLessOne) {
  struct Case {
    const char* text;
    u32 maximum;
    const char* hex;
  };
  const std::vector<Case> cases = {
      {"abcdef", 4, "61626300"},
      {"abc", 4, "61626300"},
      {"abc", 100, "61626300"},
      {"abc", 3, "616200"},
      {"abc", 1, "00"},
      {"abc", 0, "00"},
      {"", 5, "00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.maximum));
    zuDynamicNetWriter w;
    w.putStringMax(c.text, c.maximum);
    EXPECT_EQ(bytesOf(w), fromHex(c.hex));
  }
}

TEST(zuNetWriterTest, FullFixedWriterThrowsWritesNothingAndStaysInvalid) {
  u8 buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  zuNetWriter w(buffer, 6);
  w.putUInt32(0x01020304);
  struct Case {
    const char* name;
    void (*write)(zuNetWriter&);
  };
  const Case cases[] = {
      {"u32", [](zuNetWriter& x) { x.putUInt32(1); }},
      {"string whose NUL does not fit", [](zuNetWriter& x) { x.putString("ab"); }},
      {"date", [](zuNetWriter& x) { x.putDate(zuDate()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.write(w);
      ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "zuNetWriter::resizeIfNeeded");
    }
    EXPECT_EQ(w.size(), 4u);
    EXPECT_FALSE(w.isValid());
  }
  EXPECT_EQ(buffer[4], 0xEE);
  EXPECT_EQ(buffer[6], 0xEE);
  // Still invalid after a write that fits.
  w.putUInt16(0xAABB);
  EXPECT_FALSE(w.isValid());
  EXPECT_EQ(w.size(), 6u);
  w.reset();
  EXPECT_TRUE(w.isValid());
  EXPECT_EQ(w.size(), 0u);
}

// size + n in 32 bits would wrap to a small number and pass the check.
TEST(zuNetWriterTest, HugeCountIsRefusedNotWrapped) {
  u8 buffer[16];
  zuNetWriter w(buffer, sizeof buffer);
  w.putUInt8(1);
  EXPECT_THROW(w.putData(buffer, 0xFFFFFFFFu), std::out_of_range);
  EXPECT_EQ(w.size(), 1u);
}

TEST(zuNetWriterTest, UnputStopsAtTheStart) {
  u8 buffer[8];
  zuNetWriter w(buffer, sizeof buffer);
  w.putUInt32(0x11223344);
  w.unput(1);
  w.putUInt8(0x55);
  EXPECT_EQ(bytesOf(w), fromHex("11223355"));
  w.unput(100);
  EXPECT_EQ(w.size(), 0u);
  EXPECT_EQ(w.getCurrent(), buffer);
}

TEST(zuNetWriterTest, AssignmentCopiesTheContentIntoTheOwnBuffer) {
  zuDynamicNetWriter source;
  source.putString("hello");
  u8 big[16];
  zuNetWriter fixed(big, sizeof big);
  fixed.putUInt8(9);
  fixed = source;
  EXPECT_EQ(bytesOf(fixed), fromHex("68656c6c6f00"));
  EXPECT_EQ(fixed.getStart(), big);

  u8 small[3];
  zuNetWriter tooSmall(small, sizeof small);
  EXPECT_THROW(tooSmall = source, std::out_of_range);
  EXPECT_FALSE(tooSmall.isValid());

  zuDynamicNetWriter copy(source);
  source.reset();
  source.putUInt8(1);
  EXPECT_EQ(bytesOf(copy), fromHex("68656c6c6f00"));
  copy = source;
  EXPECT_EQ(bytesOf(copy), fromHex("01"));
}

}  // namespace
