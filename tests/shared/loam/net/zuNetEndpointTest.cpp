// The endpoint base's buffering and time-out accounting, driven through a
// scripted transport.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "loam/net/zuNetEndpoint.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/platform/zuPlatformTime.h"

namespace {

// Holds the tick count still unless a script step moves it.
class zuNetEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { zuPlatform::setFixedTickForTest(tick_); }
  void TearDown() override { zuPlatform::setFixedTickForTest(std::nullopt); }

  // A script step that moves the clock on.
  std::function<void()> advance(u64 ms) {
    return [this, ms] {
      tick_ += ms;
      zuPlatform::setFixedTickForTest(tick_);
    };
  }

  u64 tick_ = 100000;
};

std::string bytes(std::size_t n, char fill) { return std::string(n, fill); }

TEST_F(zuNetEndpointTest, WritesAtMostHalfTheBufferAreBuffered) {
  struct Case {
    const char* name;
    std::vector<u32> writes;
    std::vector<u32> sendsBeforeFlush;
  } const cases[] = {
      {"half the buffer is buffered", {5120}, {}},
      {"one more goes straight out", {5121}, {5121}},
      {"pending bytes are flushed first", {100, 5121}, {100, 5121}},
      {"buffered while there is room", {5000, 5000}, {}},
      {"no room: flush, then buffer", {5000, 5000, 300}, {10000}},
      {"empty write", {0}, {}},
  };
  for (const Case& c : cases) {
    zuScriptedEndpoint endpoint;
    std::string expected;
    char fill = 'a';
    for (u32 n : c.writes) {
      const std::string data = bytes(n, fill++);
      expected += data;
      EXPECT_EQ(endpoint.write(data.data(), n), 0) << c.name;
    }
    EXPECT_EQ(endpoint.sendSizes(), c.sendsBeforeFlush) << c.name;
    EXPECT_EQ(endpoint.flush(), 0) << c.name;
    EXPECT_EQ(endpoint.sent(), expected) << c.name;
    EXPECT_EQ(endpoint.bytesSent(), expected.size()) << c.name;
  }
}

TEST_F(zuNetEndpointTest, FailedFlushDropsTheBufferedBytes) {
  zuScriptedEndpoint endpoint;
  ASSERT_EQ(endpoint.write("lost", 4), 0);
  endpoint.setSendStatus(zuErrConnectionBroken);
  EXPECT_EQ(endpoint.flush(), zuErrConnectionBroken);
  endpoint.setSendStatus(0);
  EXPECT_EQ(endpoint.flush(), 0);
  ASSERT_EQ(endpoint.write("kept", 4), 0);
  EXPECT_EQ(endpoint.flush(), 0);
  EXPECT_EQ(endpoint.sent(), "kept");
  EXPECT_EQ(endpoint.bytesSent(), 4u);
}

TEST_F(zuNetEndpointTest, BufferSizeZeroSendsEveryWriteAtOnce) {
  zuScriptedEndpoint endpoint;
  endpoint.setBufferSize(0);
  ASSERT_EQ(endpoint.write("a", 1), 0);
  ASSERT_EQ(endpoint.write("bc", 2), 0);
  EXPECT_EQ(endpoint.sendSizes(), (std::vector<u32>{1, 2}));
  EXPECT_EQ(endpoint.sent(), "abc");
}

TEST_F(zuNetEndpointTest, GrowingTheBufferKeepsPendingBytes) {
  zuScriptedEndpoint endpoint;
  ASSERT_EQ(endpoint.write("head", 4), 0);
  endpoint.setBufferSize(40000);
  const std::string big = bytes(15000, 'x');  // within half of the new size
  ASSERT_EQ(endpoint.write(big.data(), 15000), 0);
  EXPECT_TRUE(endpoint.sendSizes().empty());
  ASSERT_EQ(endpoint.flush(), 0);
  EXPECT_EQ(endpoint.sent(), "head" + big);
}

TEST_F(zuNetEndpointTest, ReadSomeTakesTheDirectOrTheBufferedPath) {
  zuScriptedEndpoint endpoint;
  std::string piece;
  for (int i = 0; i < 8000; ++i) piece += static_cast<char>('A' + i % 26);
  endpoint.addBytes(piece);
  std::vector<char> out(8000);

  // More room than half the buffer: straight into the caller's buffer.
  u32 n = 6000;
  ASSERT_EQ(endpoint.readSome(out.data(), &n), 0);
  ASSERT_EQ(n, 6000u);
  EXPECT_EQ(std::string(out.data(), n), piece.substr(0, 6000));

  // Less: the read buffer is filled and the caller gets a part of it.
  n = 100;
  ASSERT_EQ(endpoint.readSome(out.data(), &n), 0);
  ASSERT_EQ(n, 100u);
  EXPECT_EQ(std::string(out.data(), n), piece.substr(6000, 100));

  // The rest comes from the read buffer without the transport.
  const std::size_t calls = endpoint.receiveTimeouts().size();
  n = 6000;
  ASSERT_EQ(endpoint.readSome(out.data(), &n), 0);
  ASSERT_EQ(n, 1900u);
  EXPECT_EQ(std::string(out.data(), n), piece.substr(6100));
  EXPECT_EQ(endpoint.receiveTimeouts().size(), calls);
  EXPECT_EQ(endpoint.bytesReceived(), 8000u);
}

TEST_F(zuNetEndpointTest, DatagramEndpointReadsOnlyAfterItHasSent) {
  zuScriptedEndpoint endpoint;
  endpoint.setKind(zuNetEndpoint::kKindDatagram);
  endpoint.addBytes("reply");
  char out[8];
  u32 n = sizeof out;
  EXPECT_EQ(endpoint.readSome(out, &n), zuErrNoData);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(endpoint.read(out, 5), zuErrNoData);
  ASSERT_EQ(endpoint.write("ask", 3), 0);
  ASSERT_EQ(endpoint.flush(), 0);
  EXPECT_EQ(endpoint.read(out, 5), 0);
  EXPECT_EQ(std::string(out, 5), "reply");
}

TEST_F(zuNetEndpointTest, ReadOfNothingLeavesTheTransportAlone) {
  zuScriptedEndpoint endpoint;
  endpoint.addStatus(zuErrConnectionBroken);
  char out[1];
  EXPECT_EQ(endpoint.read(out, 0), 0);
  EXPECT_TRUE(endpoint.receiveTimeouts().empty());
  EXPECT_FALSE(endpoint.scriptDone());
}

TEST_F(zuNetEndpointTest, ReadCollectsExactlyAndRestoresItsTimeOut) {
  constexpr u32 kNone = zuNetEndpoint::kNoTimeout;
  struct Step {
    const char* bytes;  // null: a status or a clock step
    u16 status;
    u64 advance;
  };
  struct Case {
    const char* name;
    u32 timeout;
    std::vector<Step> script;
    u16 result;
    const char* received;
    std::vector<u32> transportTimeouts;
  };
  const Case cases[] = {
      {"one piece", 1000, {{"abcd", 0, 0}}, 0, "abcd", {1000}},
      {"the time left shrinks",
       1000,
       {{"ab", 0, 0}, {nullptr, 0, 300}, {"c", 0, 0}, {"d", 0, 0}},
       0,
       "abcd",
       {1000, 1000, 700}},
      // Past the time one receive that does not wait is still made; bytes on
      // their way are taken, and no receive follows it.
      {"time runs out with bytes missing",
       1000,
       {{"a", 0, 0}, {nullptr, 0, 1500}, {"b", 0, 0}, {"c", 0, 0}, {"d", 0, 0}},
       zuErrTimeout,
       "abc",
       {1000, 1000, 0}},
      {"the receive that does not wait finds nothing",
       1000,
       {{"ab", 0, 0}, {nullptr, 0, 1500}, {"c", 0, 0}, {nullptr, zuErrTimeout, 0}},
       zuErrTimeout,
       "abc",
       {1000, 1000, 0}},
      {"a poll takes what has arrived", 0, {{nullptr, 0, 5}, {"abcd", 0, 0}}, 0, "abcd", {0}},
      {"time runs out as the last byte comes",
       1000,
       {{"ab", 0, 0}, {nullptr, 0, 1500}, {"cd", 0, 0}},
       0,
       "abcd",
       {1000, 1000}},
      {"the transport fails",
       1000,
       {{"ab", 0, 0}, {nullptr, zuErrConnectionBroken, 0}},
       zuErrConnectionBroken,
       "ab",
       {1000, 1000}},
      {"a stop in the first piece", 1000, {{nullptr, zuErrStopped, 0}}, zuErrStopped, "", {1000}},
      {"no limit stays without limit",
       kNone,
       {{"ab", 0, 0}, {nullptr, 0, 5000}, {"c", 0, 0}, {"d", 0, 0}},
       0,
       "abcd",
       {kNone, kNone, kNone}},
  };
  for (const Case& c : cases) {
    zuScriptedEndpoint endpoint(nullptr, c.timeout);
    for (const Step& s : c.script) {
      if (s.bytes)
        endpoint.addBytes(s.bytes);
      else if (s.advance)
        endpoint.addAction(advance(s.advance));
      else
        endpoint.addStatus(s.status);
    }
    char out[4] = {};
    EXPECT_EQ(endpoint.read(out, 4), c.result) << c.name;
    EXPECT_EQ(std::string(out, std::strlen(c.received)), c.received) << c.name;
    EXPECT_EQ(endpoint.timeout(), c.timeout) << c.name;
    EXPECT_EQ(endpoint.receiveTimeouts(), c.transportTimeouts) << c.name;
  }
}

TEST_F(zuNetEndpointTest, ReadLineStopsAtLineFeedAndTruncatesSafely) {
  struct Case {
    const char* name;
    std::string input;
    u32 size;
    u16 result;
    std::string line;
    std::string unread;
  } const cases[] = {
      {"plain line", "abc\r\n", 16, 0, "abc", ""},
      {"next line stays", "abc\nxyz", 16, 0, "abc", "xyz"},
      {"carriage returns are skipped", "a\rb\r\r\n", 16, 0, "ab", ""},
      {"empty line", "\r\nabc", 16, 0, "", "abc"},
      {"room for one byte", "abc\r\n", 2, 0, "a", "c\r\n"},
      {"exactly full", "abc\n", 4, 0, "abc", ""},
      {"one too long", "abcd\n", 4, 0, "abc", "\n"},
      {"room for the NUL only", "abc\n", 1, 0, "", "bc\n"},
      {"no line feed before the end", "abc", 16, zuErrConnectionBroken, "abc", ""},
  };
  for (const Case& c : cases) {
    zuScriptedEndpoint endpoint(nullptr, 1000);
    endpoint.addBytes(c.input);
    std::vector<char> buffer(c.size + 8, '#');
    u32 length = c.size;
    EXPECT_EQ(endpoint.readLine(buffer.data(), &length), c.result) << c.name;
    EXPECT_EQ(length, c.line.size()) << c.name;
    EXPECT_STREQ(buffer.data(), c.line.c_str()) << c.name;
    EXPECT_EQ(std::string(buffer.begin() + c.size, buffer.end()), std::string(8, '#'))
        << c.name << ": wrote past the buffer";
    EXPECT_EQ(endpoint.timeout(), 1000u) << c.name;
    std::string rest;
    char byte;
    while (endpoint.read(&byte, 1) == 0) rest += byte;
    EXPECT_EQ(rest, c.unread) << c.name;
  }
}

TEST_F(zuNetEndpointTest, ReadLineWithNoRoomReadsNothing) {
  zuScriptedEndpoint endpoint;
  endpoint.addBytes("abc\n");
  char buffer[1] = {'#'};
  u32 length = 0;
  EXPECT_EQ(endpoint.readLine(buffer, &length), zuErrFailed);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_TRUE(endpoint.receiveTimeouts().empty());
}

// A line's time-out bounds the waits, never the bytes already here: the
// clock moves only inside the transport's receives (the script's actions).
TEST_F(zuNetEndpointTest, ReadLineTimeOutBoundsOnlyTheWaits) {
  struct Step {
    const char* bytes;  // null: a status, or a clock step when advance is set
    u16 status;
    u64 advance;
  };
  struct Case {
    const char* name;
    u32 timeout;
    std::vector<Step> script;
    u16 result;
    const char* line;
    const char* unread;
    std::vector<u32> transportTimeouts;
  };
  const Case cases[] = {
      // The clock passes the time-out while the rest of the line arrives in
      // one piece: the whole line, not its first byte with 258.
      {"rest of the line already here",
       100,
       {{"a", 0, 0}, {nullptr, 0, 60}, {"b", 0, 0}, {nullptr, 0, 60}, {"cd\r\nnext\n", 0, 0}},
       0,
       "abcd",
       "next\n",
       {100, 100, 40}},
      // A poll: the tick moving during the one receive must not cut the line.
      {"poll with the tick moving",
       0,
       {{nullptr, 0, 5}, {"next\r\nmore\n", 0, 0}},
       0,
       "next",
       "more\n",
       {0}},
      {"poll that finds nothing",
       0,
       {{nullptr, zuErrTimeout, 0}, {"late\n", 0, 0}},
       zuErrTimeout,
       "",
       "late\n",
       {0}},
      // A peer that dribbles: after the time is up one receive that does not
      // wait, then 258, with the next bytes left unread.
      {"dribbled line ends",
       100,
       {{"a", 0, 0},
        {nullptr, 0, 60},
        {"b", 0, 0},
        {nullptr, 0, 60},
        {"c", 0, 0},
        {"d", 0, 0},
        {"e\n", 0, 0}},
       zuErrTimeout,
       "abcd",
       "e\n",
       {100, 100, 40, 0}},
      // Carriage returns are stored nowhere, so only the clock can end them.
      {"carriage returns after the time",
       100,
       {{nullptr, 0, 150}, {"\r\r", 0, 0}, {"\r", 0, 0}, {"\r\n", 0, 0}},
       zuErrTimeout,
       "",
       "\r\n",
       {100, 0}},
  };
  for (const Case& c : cases) {
    zuScriptedEndpoint endpoint(nullptr, c.timeout);
    for (const Step& s : c.script) {
      if (s.bytes)
        endpoint.addBytes(s.bytes);
      else if (s.advance)
        endpoint.addAction(advance(s.advance));
      else
        endpoint.addStatus(s.status);
    }
    char buffer[16];
    u32 length = sizeof buffer;
    EXPECT_EQ(endpoint.readLine(buffer, &length), c.result) << c.name;
    EXPECT_STREQ(buffer, c.line) << c.name;
    EXPECT_EQ(length, std::strlen(c.line)) << c.name;
    EXPECT_EQ(endpoint.receiveTimeouts(), c.transportTimeouts) << c.name;
    EXPECT_EQ(endpoint.timeout(), c.timeout) << c.name;
    endpoint.setTimeout(zuNetEndpoint::kNoTimeout);
    std::string rest;
    char byte;
    while (endpoint.read(&byte, 1) == 0) rest += byte;
    EXPECT_EQ(rest, c.unread) << c.name;
  }
}

TEST_F(zuNetEndpointTest, NumbersTravelBigEndian) {
  zuScriptedEndpoint endpoint;
  ASSERT_EQ(endpoint.writeU16(u16{0x1234}), 0);
  ASSERT_EQ(endpoint.writeU16(i16{-2}), 0);
  ASSERT_EQ(endpoint.writeU32(u32{0x89ABCDEF}), 0);
  ASSERT_EQ(endpoint.writeU32(i32{-3}), 0);
  ASSERT_EQ(endpoint.writeLine("ok"), 0);
  ASSERT_EQ(endpoint.writeString("!"), 0);
  ASSERT_EQ(endpoint.flush(), 0);
  const std::string wire = endpoint.sent();
  EXPECT_EQ(wire, std::string("\x12\x34\xFF\xFE\x89\xAB\xCD\xEF\xFF\xFF\xFF\xFDok\r\n!", 17));

  zuScriptedEndpoint reader;
  reader.addBytes(wire);
  u16 a = 0;
  i16 b = 0;
  u32 c = 0;
  i32 d = 0;
  EXPECT_EQ(reader.readU16(a), 0);
  EXPECT_EQ(reader.readU16(b), 0);
  EXPECT_EQ(reader.readU32(c), 0);
  EXPECT_EQ(reader.readU32(d), 0);
  EXPECT_EQ(a, 0x1234);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 0x89ABCDEFu);
  EXPECT_EQ(d, -3);

  zuScriptedEndpoint shortOne;
  shortOne.addBytes("\x01");
  u32 value = 7;
  EXPECT_EQ(shortOne.readU32(value), zuErrConnectionBroken);
  EXPECT_EQ(value, 7u);
}

}  // namespace
