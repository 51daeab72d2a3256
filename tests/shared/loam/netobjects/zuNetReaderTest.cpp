#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "loam/base/zuDate.h"
#include "loam/base/zuDateTime.h"
#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuProperties.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/net/zuIPAddress.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"

namespace {

using nettest::bytesOf;
using nettest::fromHex;

zuDate dateOf(u16 day, u16 month, u16 year) {
  zuDate d;
  d.set(day, month, year);
  return d;
}

zuTimeOfDay timeOf(u16 h, u16 m, u16 s, u16 ms) {
  zuTimeOfDay t;
  t.set(h, m, s, ms);
  return t;
}

void expectSameError(const zuErrorMessage& got, const zuErrorMessage& want) {
  EXPECT_EQ(got.code(), want.code());
  EXPECT_EQ(got.id(), want.id());
  EXPECT_EQ(got, want);  // id, literal text and parameters
}

// One value of each kind written and read back; the reader must end exactly
// at the end of what was written.
struct RoundTrip {
  const char* name;
  u32 encodedSize;
  std::function<void(zuNetWriter&)> write;
  std::function<void(zuNetReader&)> readAndCheck;
};

TEST(zuNetReaderTest, EveryTypeRoundTrips) {
  const zuErrorMessage literal(1538, "Error opening file \"$f\" error: $e.", 'f', "a.txt", 'e',
                               "0x2");
  zuErrorMessage catalog(259, "");
  catalog.setId(42);
  catalog.setParam('a', "1");
  const std::vector<RoundTrip> cases = {
      {"bool true", 1, [](zuNetWriter& w) { w.putBool(true); },
       [](zuNetReader& r) { EXPECT_TRUE(r.getBool()); }},
      {"bool false", 1, [](zuNetWriter& w) { w.putBool(false); },
       [](zuNetReader& r) { EXPECT_FALSE(r.getBool()); }},
      {"i8 extremes", 2,
       [](zuNetWriter& w) {
         w.putInt8(-128);
         w.putInt8(127);
       },
       [](zuNetReader& r) {
         EXPECT_EQ(r.getInt8(), -128);
         EXPECT_EQ(r.getInt8(), 127);
       }},
      {"u8", 1, [](zuNetWriter& w) { w.putUInt8(255); },
       [](zuNetReader& r) { EXPECT_EQ(r.getUInt8(), 255); }},
      {"i16 extremes", 4,
       [](zuNetWriter& w) {
         w.putInt16(-32768);
         w.putInt16(32767);
       },
       [](zuNetReader& r) {
         EXPECT_EQ(r.getInt16(), -32768);
         EXPECT_EQ(r.getInt16(), 32767);
       }},
      {"u16", 2, [](zuNetWriter& w) { w.putUInt16(0xBEEF); },
       [](zuNetReader& r) { EXPECT_EQ(r.getUInt16(), 0xBEEF); }},
      {"i32 extremes", 8,
       [](zuNetWriter& w) {
         w.putInt32(INT32_MIN);
         w.putInt32(INT32_MAX);
       },
       [](zuNetReader& r) {
         EXPECT_EQ(r.getInt32(), INT32_MIN);
         EXPECT_EQ(r.getInt32(), INT32_MAX);
       }},
      {"u32", 4, [](zuNetWriter& w) { w.putUInt32(0xFFFFFFFFu); },
       [](zuNetReader& r) { EXPECT_EQ(r.getUInt32(), 0xFFFFFFFFu); }},
      {"string", 4, [](zuNetWriter& w) { w.putString("abc"); },
       [](zuNetReader& r) { EXPECT_EQ(r.getStdString(), "abc"); }},
      {"empty string", 1, [](zuNetWriter& w) { w.putString(""); },
       [](zuNetReader& r) { EXPECT_STREQ(r.getConstString(), ""); }},
      {"C string", 3, [](zuNetWriter& w) { w.putCString("hi"); },
       [](zuNetReader& r) { EXPECT_STREQ(r.getNewString().get(), "hi"); }},
      {"IPv6 address", 16,
       [](zuNetWriter& w) { w.putAddress(zuIPAddress("2001:db8::ff00:42:8329")); },
       [](zuNetReader& r) {
         zuIPAddress a;
         r.getAddress(a);
         EXPECT_EQ(a, zuIPAddress("2001:db8::ff00:42:8329"));
       }},
      {"date", 4, [](zuNetWriter& w) { w.putDate(dateOf(31, 12, 2050)); },
       [](zuNetReader& r) {
         zuDate d;
         r.getDate(d);
         EXPECT_TRUE(d == dateOf(31, 12, 2050));
       }},
      {"time of day", 5, [](zuNetWriter& w) { w.putTimeOfDay(timeOf(23, 59, 59, 999)); },
       [](zuNetReader& r) {
         zuTimeOfDay t;
         r.getTimeOfDay(t);
         EXPECT_EQ(t.hour(), 23);
         EXPECT_EQ(t.minute(), 59);
         EXPECT_EQ(t.second(), 59);
         EXPECT_EQ(t.millisecond(), 999);
       }},
      {"date-time", 4, [](zuNetWriter& w) { w.putDateTime(zuDateTime(0xFFFFFFFEu)); },
       [](zuNetReader& r) {
         zuDateTime t;
         r.getDateTime(t);
         EXPECT_EQ(t.seconds(), 0xFFFFFFFEu);
       }},
      {"error message with literal text", 59, [&](zuNetWriter& w) { w.putErrorMessage(literal); },
       [&](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
         expectSameError(m, literal);
       }},
      {"property list in insertion order", 4 + 2 + 2 + 3 + 2 + 2 + 1,
       [](zuNetWriter& w) {
         zuProperties p;
         p.set("b", "1");
         p.set("A", "22");
         p.set("c", "");
         w.putProperties(p);
       },
       [](zuNetReader& r) {
         zuProperties p;
         r.getProperties(p);
         ASSERT_EQ(p.count(), 3u);
         std::string name, value;
         p.getAt(0, name, value);
         EXPECT_EQ(name + "=" + value, "b=1");
         p.getAt(1, name, value);
         EXPECT_EQ(name + "=" + value, "a=22");
         p.getAt(2, name, value);
         EXPECT_EQ(name + "=" + value, "c=");
       }},
      {"empty property list", 4, [](zuNetWriter& w) { w.putProperties(zuProperties()); },
       [](zuNetReader& r) {
         zuProperties p;
         r.getProperties(p);
         EXPECT_EQ(p.count(), 0u);
       }},
      {"error message by catalog id", 15, [&](zuNetWriter& w) { w.putErrorMessage(catalog); },
       [&](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
         expectSameError(m, catalog);
       }},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    zuDynamicNetWriter w;
    c.write(w);
    EXPECT_EQ(w.size(), c.encodedSize);
    const std::vector<u8> bytes = bytesOf(w);
    zuNetReader r(bytes.data(), static_cast<u32>(bytes.size()));
    c.readAndCheck(r);
    EXPECT_EQ(r.bytesLeft(), 0u);
    EXPECT_TRUE(r.isValid());
  }
}

// The expected bytes are Python's struct.pack output (hex() of it), written
// down once:
//   struct.pack('>II', 771, 65535) + b'x\0' + struct.pack('>I', 0)
//   struct.pack('>II', 1538, 65535) + b'Error opening file "$f" error: $e.\0'
//       + struct.pack('>I', 2) + b'e0x2\0' + b'fa.txt\0'
//   struct.pack('>II', 259, 42) + struct.pack('>I', 1) + b'a1\0'
//   struct.pack('>BBH', 7, 3, 2009)
//   struct.pack('>BBBH', 13, 45, 9, 250)
//   struct.pack('>I', 1234567890)
//   struct.pack('>bBhHiI?', -2, 200, -2, 0x1234, -2, 0xDEADBEEF, True)
//   struct.pack('>I', 2) + b'name\0' + b'agent\0' + b'port\0' + b'4152\0'
//   struct.pack('>10x2B4B', 0xFF, 0xFF, 10, 0, 0, 7)
struct Golden {
  const char* name;
  const char* hex;
  std::function<void(zuNetWriter&)> write;
  std::function<void(zuNetReader&)> readAndCheck;
};

TEST(zuNetReaderTest, EncodingsMatchPythonStructBytes) {
  const zuErrorMessage e771(771, "x");
  const zuErrorMessage e1538(1538, "Error opening file \"$f\" error: $e.", 'f', "a.txt", 'e',
                             "0x2");
  zuErrorMessage e259(259, "");
  e259.setId(42);
  e259.setParam('a', "1");
  const std::vector<Golden> cases = {
      {"error message, no parameters", "000003030000ffff780000000000",
       [&](zuNetWriter& w) { w.putErrorMessage(e771); },
       [&](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
         expectSameError(m, e771);
       }},
      {"error message, parameters in key order",
       "000006020000ffff4572726f72206f70656e696e672066696c652022246622206572726f723a2024652e00"
       "00000002653078320066612e74787400",
       [&](zuNetWriter& w) { w.putErrorMessage(e1538); },
       [&](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
         expectSameError(m, e1538);
       }},
      {"error message by id, no text", "000001030000002a00000001613100",
       [&](zuNetWriter& w) { w.putErrorMessage(e259); },
       [&](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
         expectSameError(m, e259);
       }},
      {"date", "070307d9", [](zuNetWriter& w) { w.putDate(dateOf(7, 3, 2009)); },
       [](zuNetReader& r) {
         zuDate d;
         r.getDate(d);
         EXPECT_TRUE(d == dateOf(7, 3, 2009));
       }},
      {"time of day", "0d2d0900fa", [](zuNetWriter& w) { w.putTimeOfDay(timeOf(13, 45, 9, 250)); },
       [](zuNetReader& r) {
         zuTimeOfDay t;
         r.getTimeOfDay(t);
         EXPECT_TRUE(t == timeOf(13, 45, 9, 250));
       }},
      {"date-time", "499602d2", [](zuNetWriter& w) { w.putDateTime(zuDateTime(1234567890u)); },
       [](zuNetReader& r) {
         zuDateTime t;
         r.getDateTime(t);
         EXPECT_EQ(t.seconds(), 1234567890u);
       }},
      {"property list", "000000026e616d65006167656e7400706f7274003431353200",
       [](zuNetWriter& w) {
         zuProperties p;
         p.set("name", "agent");
         p.set("port", "4152");
         w.putProperties(p);
       },
       [](zuNetReader& r) {
         zuProperties p;
         r.getProperties(p);
         EXPECT_EQ(p.count(), 2u);
         EXPECT_EQ(p.valueRef("name"), "agent");
         EXPECT_EQ(p.valueRef("port"), "4152");
       }},
      {"IPv4 address in its mapped form", "00000000000000000000ffff0a000007",
       [](zuNetWriter& w) { w.putAddress(zuIPAddress("10.0.0.7")); },
       [](zuNetReader& r) {
         zuIPAddress a;
         r.getAddress(a);
         EXPECT_TRUE(a.isIPv4());
         EXPECT_EQ(a.toString(), "10.0.0.7");
       }},
      {"integers and bool", "fec8fffe1234fffffffedeadbeef01",
       [](zuNetWriter& w) {
         w.putInt8(-2);
         w.putUInt8(200);
         w.putInt16(-2);
         w.putUInt16(0x1234);
         w.putInt32(-2);
         w.putUInt32(0xDEADBEEF);
         w.putBool(true);
       },
       [](zuNetReader& r) {
         EXPECT_EQ(r.getInt8(), -2);
         EXPECT_EQ(r.getUInt8(), 200);
         EXPECT_EQ(r.getInt16(), -2);
         EXPECT_EQ(r.getUInt16(), 0x1234);
         EXPECT_EQ(r.getInt32(), -2);
         EXPECT_EQ(r.getUInt32(), 0xDEADBEEFu);
         EXPECT_TRUE(r.getBool());
       }},
  };
  for (const Golden& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<u8> expected = fromHex(c.hex);
    zuDynamicNetWriter w;
    c.write(w);
    EXPECT_EQ(bytesOf(w), expected);
    zuNetReader r(expected.data(), static_cast<u32>(expected.size()));
    c.readAndCheck(r);
    EXPECT_EQ(r.bytesLeft(), 0u);
  }
}

TEST(zuNetReaderTest, AnyNonZeroByteIsTrue) {
  const u8 data[] = {0x00, 0x01, 0x7F, 0xFF};
  zuNetReader r(data, sizeof data);
  EXPECT_FALSE(r.getBool());
  EXPECT_TRUE(r.getBool());
  EXPECT_TRUE(r.getBool());
  EXPECT_TRUE(r.getBool());
}

// Each getter on data one byte short of what it needs (or without a NUL).
struct Overrun {
  const char* name;
  std::vector<u8> data;
  std::function<void(zuNetReader&)> read;
  const char* text;
};

TEST(zuNetReaderTest, OverrunThrowsTheOperationsNameAndKeepsThePosition) {
  char buffer[8];
  const std::vector<Overrun> cases = {
      {"getData", {1, 2}, [&](zuNetReader& r) { r.getData(buffer, 3); }, "zuNetReader::getData"},
      {"getUInt8", {}, [](zuNetReader& r) { r.getUInt8(); }, "zuNetReader::getData"},
      {"getInt8", {}, [](zuNetReader& r) { r.getInt8(); }, "zuNetReader::getData"},
      {"getBool", {}, [](zuNetReader& r) { r.getBool(); }, "zuNetReader::getData"},
      {"getUInt16", {1}, [](zuNetReader& r) { r.getUInt16(); }, "zuNetReader::getData"},
      {"getInt16", {1}, [](zuNetReader& r) { r.getInt16(); }, "zuNetReader::getData"},
      {"getUInt32 with 3 bytes left",
       {1, 2, 3},
       [](zuNetReader& r) { r.getUInt32(); },
       "zuNetReader::getData"},
      {"getInt32", {1, 2, 3}, [](zuNetReader& r) { r.getInt32(); }, "zuNetReader::getData"},
      {"getAddress", std::vector<u8>(15, 1),
       [](zuNetReader& r) {
         zuIPAddress a;
         r.getAddress(a);
       },
       "zuNetReader::getData"},
      {"getDate",
       {7, 3, 7},
       [](zuNetReader& r) {
         zuDate d;
         r.getDate(d);
       },
       "zuNetReader::getData"},
      {"getTimeOfDay",
       {1, 2, 3, 4},
       [](zuNetReader& r) {
         zuTimeOfDay t;
         r.getTimeOfDay(t);
       },
       "zuNetReader::getData"},
      {"getDateTime",
       {1, 2, 3},
       [](zuNetReader& r) {
         zuDateTime t;
         r.getDateTime(t);
       },
       "zuNetReader::getData"},
      {"getConstString without NUL",
       {'a', 'b'},
       [](zuNetReader& r) { r.getConstString(); },
       "zuNetReader::getConstString"},
      {"getConstString on nothing",
       {},
       [](zuNetReader& r) { r.getConstString(); },
       "zuNetReader::getConstString"},
      {"getStdString without NUL",
       {'a'},
       [](zuNetReader& r) { r.getStdString(); },
       "zuNetReader::getConstString"},
      {"getString without NUL",
       {'a', 'b'},
       [&](zuNetReader& r) { r.getString(buffer, 8); },
       "zuNetReader::getString"},
      {"getNewString without NUL",
       {'a'},
       [](zuNetReader& r) { r.getNewString(); },
       "zuNetReader::getString"},
      {"error message cut in its code",
       {0, 0, 3},
       [](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
       },
       "zuNetReader::getData"},
      {"error message text without NUL", fromHex("000003030000ffff78"),
       [](zuNetReader& r) {
         zuErrorMessage m;
         r.getErrorMessage(m);
       },
       "zuNetReader::getConstString"},
  };
  for (const Overrun& c : cases) {
    SCOPED_TRACE(c.name);
    // One byte read first, so "the position stays" is not just "at the start".
    std::vector<u8> data = c.data;
    data.insert(data.begin(), 0x55);
    zuNetReader r(data.data(), static_cast<u32>(data.size()));
    r.getUInt8();
    const u8* before = r.getCurrent();
    try {
      c.read(r);
      ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
    EXPECT_EQ(r.getCurrent(), before);
    EXPECT_EQ(r.bytesLeft(), c.data.size());
    EXPECT_FALSE(r.isValid());
  }
}

TEST(zuNetReaderTest, AnOverrunLeavesTheReaderInvalidEvenAfterGoodReads) {
  const u8 data[] = {1, 2, 3};
  zuNetReader r(data, sizeof data);
  EXPECT_THROW(r.getUInt32(), std::out_of_range);
  EXPECT_EQ(r.getUInt8(), 1);  // what is there can still be read
  EXPECT_FALSE(r.isValid());
  EXPECT_EQ(r.getNewString(), nullptr);  // refuses once not valid
  EXPECT_EQ(r.bytesLeft(), 2u);          // and reads nothing
}

// A count near 2^32 must not wrap the bounds check into a pass.
TEST(zuNetReaderTest, HugeCountIsAnOverrunNotAWrap) {
  const u8 data[8] = {};
  zuNetReader r(data, sizeof data);
  r.getUInt8();
  u8 sink[8];
  try {
    r.getData(sink, 0xFFFFFFFFu);
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "zuNetReader::getData");
  }
  EXPECT_EQ(r.bytesLeft(), 7u);
}

TEST(zuNetReaderTest, ConstStringPointsIntoTheDataAndEndsAtTheFirstNul) {
  const char data[] = "ab\0cd";  // with its own final NUL: 6 bytes
  zuNetReader r(data, sizeof data);
  const char* first = r.getConstString();
  EXPECT_EQ(first, data);
  EXPECT_STREQ(first, "ab");
  EXPECT_EQ(r.getConstString(), data + 3);
  EXPECT_EQ(r.bytesLeft(), 0u);
}

TEST(zuNetReaderTest, GetStringCutsToTheDestinationAndSkipsTheWholeString) {
  const char data[] = "abcdef\0z";
  struct Case {
    u32 size;
    const char* expected;
  };
  for (const Case& c : {Case{4, "abc"}, Case{1, ""}, Case{7, "abcdef"}, Case{50, "abcdef"}}) {
    SCOPED_TRACE(c.size);
    zuNetReader r(data, sizeof data);
    char dest[100];
    std::memset(dest, 'X', sizeof dest);
    r.getString(dest, c.size);
    EXPECT_STREQ(dest, c.expected);
    EXPECT_EQ(dest[c.size], 'X') << "wrote past the size";
    EXPECT_STREQ(r.getConstString(), "z");
  }
}

TEST(zuNetReaderTest, GetStringWithSizeZeroCopiesNothingAndStillSkips) {
  const char data[] = "abc\0z";
  zuNetReader r(data, sizeof data);
  char dest = 'X';
  r.getString(&dest, 0);
  EXPECT_EQ(dest, 'X');
  EXPECT_STREQ(r.getConstString(), "z");
}

TEST(zuNetReaderTest, UngetStopsAtTheStart) {
  const u8 data[] = {1, 2, 3, 4};
  zuNetReader r(data, sizeof data);
  r.getUInt16();
  EXPECT_EQ(r.bytesLeft(), 2u);
  r.unget(1);
  EXPECT_EQ(r.getUInt8(), 2);
  r.unget(100);
  EXPECT_EQ(r.getCurrent(), data);
  EXPECT_EQ(r.bytesLeft(), 4u);
  EXPECT_EQ(r.getUInt32(), 0x01020304u);
}

TEST(zuNetReaderTest, FailedErrorMessageReadLeavesTheMessageAlone) {
  // A literal text and one parameter whose value has no NUL.
  const std::vector<u8> data = fromHex(
      "000003030000ffff780000000001"
      "61"
      "7a7a");
  zuNetReader r(data.data(), static_cast<u32>(data.size()));
  zuErrorMessage m(5, "before", 'q', "kept");
  EXPECT_THROW(r.getErrorMessage(m), std::out_of_range);
  EXPECT_EQ(m.code(), 5);
  EXPECT_EQ(m.text(), "before");
  EXPECT_EQ(m.paramRef('q'), "kept");
  EXPECT_FALSE(m.hasParam('a'));
  EXPECT_EQ(r.bytesLeft(), data.size());
}

TEST(zuNetReaderTest, FailedPropertyListReadSetsNoEntry) {
  // Two entries announced; the second value has no NUL.
  const std::vector<u8> data = fromHex(
      "00000002"
      "6100"
      "3100"
      "6200"
      "32");
  zuNetReader r(data.data(), static_cast<u32>(data.size()));
  zuProperties p;
  p.set("kept", "yes");
  try {
    r.getProperties(p);
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "zuNetReader::getConstString");
  }
  EXPECT_EQ(p.count(), 1u);
  EXPECT_FALSE(p.exists("a"));
  EXPECT_EQ(r.bytesLeft(), data.size());
  EXPECT_FALSE(r.isValid());
}

TEST(zuNetReaderTest, ForgedParameterCountRunsOutOfData) {
  const std::vector<u8> data = fromHex(
      "00000303000000010fffffff"
      "6100");
  zuNetReader r(data.data(), static_cast<u32>(data.size()));
  zuErrorMessage m;
  EXPECT_THROW(r.getErrorMessage(m), std::out_of_range);
}

TEST(zuNetReaderTest, EmptyAndNullReadersHaveNothingToRead) {
  zuNetReader none;
  EXPECT_EQ(none.bytesLeft(), 0u);
  EXPECT_THROW(none.getUInt8(), std::out_of_range);
  zuNetReader null(nullptr, 10);
  EXPECT_EQ(null.bytesLeft(), 0u);
  EXPECT_THROW(null.getConstString(), std::out_of_range);
}

TEST(zuNetReaderTest, StreamOperatorsRoundTrip) {
  zuDynamicNetWriter w;
  w << true << u8{7} << i32{-5} << u32{4000000000u} << std::string("text");
  EXPECT_EQ(w.size(), 1u + 1 + 4 + 4 + 5);
  zuNetReader r(w.getStart(), w.size());
  bool b = false;
  u8 c = 0;
  i32 i = 0;
  u32 u = 0;
  std::string s;
  r >> b >> c >> i >> u >> s;
  EXPECT_TRUE(b);
  EXPECT_EQ(c, 7);
  EXPECT_EQ(i, -5);
  EXPECT_EQ(u, 4000000000u);
  EXPECT_EQ(s, "text");
  EXPECT_EQ(r.bytesLeft(), 0u);
}

}  // namespace
