#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "loam/dns/zuFieldInfo.h"
#include "loam/dns/zuFieldValue.h"
#include "loam/dns/zuNetStringList.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"
#include "shared/loam/netobjects/NetTestSupport.h"

namespace {

using nettest::bytesOf;
using nettest::fromHex;

TEST(zuFieldWireTest, StringListBytes) {
  zuDynamicNetWriter empty;
  writeStringList(empty, {});
  EXPECT_EQ(bytesOf(empty), fromHex("00000000"));

  zuDynamicNetWriter two;
  writeStringList(two, {"a", "bc"});
  EXPECT_EQ(bytesOf(two), fromHex("00000002 6100 626300"));
}

TEST(zuFieldWireTest, StringListReadAppends) {
  const std::vector<u8> bytes = fromHex("00000002 6100 626300");
  zuNetReader reader(bytes.data(), static_cast<u32>(bytes.size()));
  std::vector<std::string> list = {"kept"};
  readStringList(reader, list);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "a", "bc"}));
  EXPECT_EQ(reader.bytesLeft(), 0u);
}

TEST(zuFieldWireTest, StringListWithLyingCountFailsInsideTheData) {
  // A count of four billion with two bytes behind it: refused by the reader's
  // bounds, not by an allocation of the announced size.
  const std::vector<u8> bytes = fromHex("FFFFFFFF 6100");
  zuNetReader reader(bytes.data(), static_cast<u32>(bytes.size()));
  std::vector<std::string> list;
  EXPECT_THROW(readStringList(reader, list), std::out_of_range);
  EXPECT_EQ(list, std::vector<std::string>{"a"});
  EXPECT_LE(list.capacity(), 16u);
}

TEST(zuFieldWireTest, FieldValueBytesAndReadBack) {
  zuDynamicNetWriter w;
  zuFieldValue{"n", "v", true}.write(w);
  EXPECT_EQ(bytesOf(w), fromHex("6E00 7600 01"));
  zuNetReader reader(w.getStart(), w.size());
  zuFieldValue back;
  back.read(reader);
  EXPECT_EQ(back.name, "n");
  EXPECT_EQ(back.value, "v");
  EXPECT_TRUE(back.flag);
}

TEST(zuFieldWireTest, DescriptorBytesAndReadBack) {
  zuFieldInfo field("p", "P", "d", "7", true, false, -2, 9);
  field.setExtraValue1(0x01020304);
  field.setExtraValue2(5);
  zuDynamicNetWriter w;
  field.write(w);
  EXPECT_EQ(bytesOf(w), fromHex("00000010 7000 5000 6400 01 00 3700 FFFFFFFE 00000009"
                                "01020304 00000005 00 00 00000000"));

  const std::vector<std::string> allowed = {"x", "y"};
  const zuFieldInfo text("t", "T", "", "", false, true, true, true, &allowed);
  zuDynamicNetWriter tw;
  text.write(tw);
  zuNetReader reader(tw.getStart(), tw.size());
  zuFieldInfo back("old", "Old", {"z"}, "", "", false);
  back.read(reader);
  EXPECT_EQ(reader.bytesLeft(), 0u);
  EXPECT_EQ(back.type(), 1u);
  EXPECT_EQ(back.name(), "t");
  EXPECT_TRUE(back.mandatory());
  EXPECT_TRUE(back.textFlag());
  EXPECT_TRUE(back.requireFQDN());
  EXPECT_EQ(back.allowedValues(), allowed);  // replaced, not appended to "z"
}

TEST(zuFieldWireTest, DescriptorReadOfEveryTruncationThrows) {
  const zuFieldInfo field("p", "P", "d", "7", true, false, -2, 9);
  zuDynamicNetWriter w;
  field.write(w);
  for (u32 n = 0; n < w.size(); ++n) {
    zuNetReader reader(w.getStart(), n);
    zuFieldInfo back;
    EXPECT_THROW(back.read(reader), std::out_of_range) << n;
  }
}

}  // namespace
