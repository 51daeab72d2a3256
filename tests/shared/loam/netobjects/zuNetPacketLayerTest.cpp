#include <cryptopp/filters.h>
#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuGatherBudget.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using namespace std::string_literals;

constexpr u32 kForever = 0xFFFFFFFF;
// Only bounds a failing test.
constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());

std::string be32(u32 v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  return std::string(b, 4);
}

std::string frame(char lead, const std::string& payload) {
  return lead + be32(static_cast<u32>(payload.size())) + payload + '>';
}

std::string randomBytes(std::size_t n, u32 seed) {
  std::string out(n, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return out;
}

std::string zlibOf(const std::string& data) {
  std::string out;
  CryptoPP::StringSource(data, true, new CryptoPP::ZlibCompressor(new CryptoPP::StringSink(out)));
  return out;
}

std::string inflated(const std::string& stream) {
  std::string out;
  CryptoPP::StringSource(stream, true,
                         new CryptoPP::ZlibDecompressor(new CryptoPP::StringSink(out)));
  return out;
}

// A packet layer over a scripted endpoint that the test keeps a handle on.
struct Layer {
  explicit Layer(bool compress = true) {
    auto owned = std::make_unique<zuScriptedEndpoint>();
    endpoint = owned.get();
    layer = std::make_unique<zuNetPacketLayer>(std::move(owned), compress);
  }
  // Sends the payload and returns what went on the wire.
  std::string send(const std::string& payload) {
    zuNetBuffer out(static_cast<u32>(payload.size()));
    if (!payload.empty()) std::memcpy(out.payload(), payload.data(), payload.size());
    const std::size_t before = endpoint->sent().size();
    EXPECT_EQ(layer->send(out, static_cast<u32>(payload.size())), 0);
    return endpoint->sent().substr(before);
  }
  u16 receive(std::string& payload, u32 wait = kForever) {
    u32 length = 0;
    const u16 status = layer->receive(buffer, length, wait);
    payload = status == 0 ? std::string(reinterpret_cast<const char*>(buffer.payload()), length)
                          : std::string();
    return status;
  }

  zuScriptedEndpoint* endpoint = nullptr;
  std::unique_ptr<zuNetPacketLayer> layer;
  zuNetBuffer buffer{100};
};

class zuNetPacketLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { zuPlatform::setFixedTickForTest(tick_); }
  void TearDown() override { zuPlatform::setFixedTickForTest(std::nullopt); }
  void setTick(u64 tick) {
    tick_ = tick;
    zuPlatform::setFixedTickForTest(tick_);
  }
  u64 tick_ = 50000;
};

TEST_F(zuNetPacketLayerTest, CompressesOnlyPayloadsOfAThousandBytesThatShrink) {
  struct Case {
    const char* name;
    std::string payload;
    bool compress;
    char lead;
  } const cases[] = {
      {"999 repeated bytes", std::string(999, 'x'), true, '<'},
      {"1000 random bytes", randomBytes(1000, 7), true, '<'},
      {"1000 repeated bytes", std::string(1000, 'x'), true, '('},
      {"30000 random bytes", randomBytes(30000, 8), true, '<'},
      {"compression off", std::string(1000, 'x'), false, '<'},
  };
  for (const Case& c : cases) {
    Layer sender(c.compress);
    const std::string wire = sender.send(c.payload);
    ASSERT_GE(wire.size(), 6u) << c.name;
    EXPECT_EQ(wire[0], c.lead) << c.name;
    EXPECT_EQ(wire.back(), '>') << c.name;
    EXPECT_EQ(wire.substr(1, 4), be32(static_cast<u32>(wire.size() - 6))) << c.name;
    // The whole frame goes out in one send.
    EXPECT_EQ(sender.endpoint->sendSizes().size(), 1u) << c.name;
    const std::string body = wire.substr(5, wire.size() - 6);
    if (c.lead == '<') {
      EXPECT_EQ(body, c.payload) << c.name;
    } else {
      EXPECT_LT(body.size(), c.payload.size()) << c.name;
      EXPECT_EQ(inflated(body), c.payload) << c.name;
    }
    // And it reads back.
    Layer receiver;
    receiver.endpoint->addBytes(wire);
    std::string got;
    EXPECT_EQ(receiver.receive(got), 0) << c.name;
    EXPECT_EQ(got, c.payload) << c.name;
  }
}

TEST_F(zuNetPacketLayerTest, EmptyPacketIsSixBytes) {
  Layer sender;
  EXPECT_EQ(sender.send(""), std::string("<\0\0\0\0>", 6));
  Layer receiver;
  receiver.endpoint->addBytes(std::string("<\0\0\0\0>", 6));
  std::string got = "stale";
  EXPECT_EQ(receiver.receive(got), 0);
  EXPECT_EQ(got, "");
}

TEST_F(zuNetPacketLayerTest, SendFailuresAndBadArguments) {
  Layer sender;
  sender.endpoint->setSendStatus(zuErrConnectionBroken);
  zuNetBuffer buffer(10);
  EXPECT_EQ(sender.layer->send(buffer, 10), zuErrConnectionBroken);
  EXPECT_EQ(sender.layer->send(buffer, 11), zuErrFailed);
  // The failed frame may be torn on the wire: nothing more goes after it.
  sender.endpoint->setSendStatus(0);
  EXPECT_EQ(sender.layer->send(buffer, 1), zuErrNetwork);
  EXPECT_EQ(sender.endpoint->sent(), "");

  zuNetPacketLayer none(nullptr, true);
  u32 length = 0;
  EXPECT_EQ(none.send(buffer, 1), zuErrNetwork);
  EXPECT_EQ(none.receive(buffer, length, 0), zuErrNetwork);
}

TEST_F(zuNetPacketLayerTest, PacketFedOneBytePerCallArrivesWhole) {
  Layer receiver;
  const std::string payload = "one byte at a time";
  const std::string wire = frame('<', payload);
  for (char c : wire) {
    receiver.endpoint->addBytes(std::string(1, c));
    receiver.endpoint->addStatus(zuErrTimeout);
  }
  std::string got;
  std::size_t calls = 0;
  u16 status;
  while ((status = receiver.receive(got, 10)) == zuErrTimeout) ++calls;
  EXPECT_EQ(status, 0);
  EXPECT_EQ(got, payload);
  // Every call but the last read one byte and kept it.
  EXPECT_EQ(calls, wire.size() - 1);
}

TEST_F(zuNetPacketLayerTest, QuietStatusesKeepTheProgress) {
  for (u16 quiet : {zuErrStopped, zuErrTimeout, zuErrNoData}) {
    for (std::size_t cut :
         {1u, 5u, 7u, 10u}) {  // in the head, after it, in the payload, before the trailer
      Layer receiver;
      const std::string wire = frame('<', "hello");
      receiver.endpoint->addBytes(wire.substr(0, cut));
      receiver.endpoint->addStatus(quiet);
      receiver.endpoint->addBytes(wire.substr(cut));
      std::string got;
      EXPECT_EQ(receiver.receive(got), quiet) << quiet << " at " << cut;
      EXPECT_EQ(receiver.receive(got), 0) << quiet << " at " << cut;
      EXPECT_EQ(got, "hello") << quiet << " at " << cut;
    }
  }
}

TEST_F(zuNetPacketLayerTest, OtherEndpointFailuresBreakTheLayer) {
  for (u16 failure : {zuErrConnectionBroken, zuErrFailed, zuErrNetwork}) {
    Layer receiver;
    const std::string wire = frame('<', "hello");
    receiver.endpoint->addBytes(wire.substr(0, 3));
    receiver.endpoint->addStatus(failure);
    receiver.endpoint->addBytes(wire);
    std::string got;
    EXPECT_EQ(receiver.receive(got), failure);
    EXPECT_EQ(receiver.layer->receiveState(), zuNetPacketLayer::kStateBroken);
    EXPECT_EQ(receiver.receive(got), zuErrNetwork);
    EXPECT_FALSE(receiver.endpoint->scriptDone());  // broken: not even tried
  }
}

TEST_F(zuNetPacketLayerTest, BadFramesBreakTheLayer) {
  struct Case {
    const char* name;
    std::string wire;
  } const cases[] = {
      {"lead byte", "[" + be32(2) + "hi>"},
      {"NUL lead byte", std::string(1, '\0') + be32(2) + "hi>"},
      {"trailer", "<" + be32(2) + "hi]"},
      {"length past the limit", "<" + be32(zuNetPacketLayer::kMaxPayload + 1) + "hi>"},
      {"length of all ones", "<" + be32(0xFFFFFFFF) + "hi>"},
      {"compressed, all ones", "(" + be32(0xFFFFFFFF) + "hi>"},
  };
  for (const Case& c : cases) {
    Layer receiver;
    receiver.endpoint->addBytes(c.wire);
    receiver.endpoint->addBytes(frame('<', "next"));
    std::string got;
    EXPECT_EQ(receiver.receive(got), zuErrNetwork) << c.name;
    EXPECT_EQ(receiver.receive(got), zuErrNetwork) << c.name;
    EXPECT_EQ(receiver.buffer.capacity(), 100u) << c.name;
  }
}

TEST_F(zuNetPacketLayerTest, LargePacketsGrowTheCallersBuffer) {
  for (u32 size : {20000u, zuNetPacketLayer::kMaxPayload}) {
    Layer receiver;
    const std::string payload = randomBytes(size, size);
    receiver.endpoint->addBytes(frame('<', payload));
    std::string got;
    ASSERT_EQ(receiver.receive(got), 0) << size;
    EXPECT_EQ(got, payload) << size;
    EXPECT_GE(receiver.buffer.capacity(), size);
  }
}

// A peer that follows the protocol compresses only when the handshake
// agreed on it.
TEST_F(zuNetPacketLayerTest, CompressedFrameWithoutAgreedCompressionBreaksTheLayer) {
  const std::string text(3000, 'z');
  for (bool agreed : {true, false}) {
    Layer receiver(agreed);
    receiver.endpoint->addBytes(frame('<', "plain") + frame('(', zlibOf(text)) +
                                frame('<', "next"));
    std::string got;
    ASSERT_EQ(receiver.receive(got), 0) << agreed;
    EXPECT_EQ(got, "plain");
    EXPECT_EQ(receiver.receive(got), agreed ? 0 : zuErrNetwork) << agreed;
    EXPECT_EQ(receiver.receive(got), agreed ? 0 : zuErrNetwork) << agreed;
  }
}

// The room of a large packet is charged to the process's budget while it is
// held and given back after it. With the budget spent a large plain packet
// breaks the layer (259) and a compressed one arrives cut short, while
// packets of the library's own size still pass.
TEST_F(zuNetPacketLayerTest, LargePacketsAreChargedAndTheirRoomGoesBack) {
  const std::size_t base = zuGatherBudget::processTaken();
  const std::string usual = randomBytes(30006, 8);
  struct Case {
    char lead;
    std::string payload;
  } const cases[] = {
      {'<', randomBytes(zuNetPacketLayer::kMaxPayload, 7)},
      {'(', std::string(zuNetPacketLayer::kMaxPayload, 'q')},
  };
  for (bool spent : {false, true}) {
    const std::size_t filler = zuGatherBudget::kLargeLimit - base - 1000;
    if (spent) {
      ASSERT_TRUE(zuGatherBudget::takeProcess(filler, true));
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(1, c.lead) + (spent ? " spent" : ""));
      Layer receiver;
      receiver.buffer.chargeAbove(zuNetPacketLayer::kUnchargedSize);
      const std::string wire = c.lead == '<' ? c.payload : zlibOf(c.payload);
      receiver.endpoint->addBytes(frame('<', usual) + frame(c.lead, wire) + frame('<', "next"));
      std::string got;
      ASSERT_EQ(receiver.receive(got), 0);
      EXPECT_EQ(got, usual);
      EXPECT_FALSE(receiver.layer->lastPacketCut());
      if (spent && c.lead == '<') {
        EXPECT_EQ(receiver.receive(got), kzuCodeMemoryExhausted);
        continue;
      }
      ASSERT_EQ(receiver.receive(got), 0);
      EXPECT_EQ(receiver.layer->lastPacketCut(), spent);
      if (spent) {
        // What the buffer had room for, and the layer goes on.
        EXPECT_EQ(got, c.payload.substr(0, receiver.buffer.capacity()));
        EXPECT_GE(got.size(), usual.size());
        ASSERT_EQ(receiver.receive(got), 0);
        EXPECT_EQ(got, "next");
        continue;
      }
      EXPECT_EQ(got, c.payload);
      // The layer's own room is back; the caller's buffer holds the packet
      // until it shrinks.
      EXPECT_EQ(zuGatherBudget::processTaken(),
                base + receiver.buffer.capacity() - zuNetPacketLayer::kUnchargedSize);
      receiver.buffer.shrinkTo(100);
      EXPECT_EQ(zuGatherBudget::processTaken(), base);
    }
    if (spent) zuGatherBudget::giveProcess(filler);
  }
  EXPECT_EQ(zuGatherBudget::processTaken(), base);
}

TEST_F(zuNetPacketLayerTest, BackToBackFramesInOnePiece) {
  Layer receiver;
  receiver.endpoint->addBytes(frame('<', "first") + frame('(', zlibOf(std::string(3000, 'z'))) +
                              frame('<', ""));
  std::string got;
  ASSERT_EQ(receiver.receive(got), 0);
  EXPECT_EQ(got, "first");
  ASSERT_EQ(receiver.receive(got), 0);
  EXPECT_EQ(got, std::string(3000, 'z'));
  ASSERT_EQ(receiver.receive(got), 0);
  EXPECT_EQ(got, "");
}

TEST_F(zuNetPacketLayerTest, WaitOfZeroStillMakesOneAttempt) {
  Layer receiver;
  receiver.endpoint->addBytes("<\0\0"s);
  receiver.endpoint->addStatus(zuErrTimeout);
  std::string got;
  EXPECT_EQ(receiver.receive(got, 0), zuErrTimeout);
  // One attempt, with no waiting, then the used-up wait ends the call.
  EXPECT_EQ(receiver.endpoint->receiveTimeouts(), (std::vector<u32>{0}));
}

TEST_F(zuNetPacketLayerTest, WaitIsSharedByTheReadsOfOneCall) {
  Layer receiver;
  const std::string wire = frame('<', "abc");
  receiver.endpoint->addBytes(wire.substr(0, 2));
  receiver.endpoint->addAction([this] { setTick(tick_ + 30); });
  receiver.endpoint->addBytes(wire.substr(2, 4));
  receiver.endpoint->addAction([this] { setTick(tick_ + 80); });
  receiver.endpoint->addBytes(wire.substr(6, 1));
  receiver.endpoint->addBytes(wire.substr(7));
  std::string got;
  // The third read may wait only for what is left; once the wait is used up
  // the call ends without trying again.
  EXPECT_EQ(receiver.receive(got, 100), zuErrTimeout);
  EXPECT_EQ(receiver.endpoint->receiveTimeouts(), (std::vector<u32>{100, 100, 70}));
  EXPECT_EQ(receiver.receive(got, kForever), 0);
  EXPECT_EQ(got, "abc");
  EXPECT_EQ(receiver.endpoint->receiveTimeouts().back(), kForever);
}

TEST_F(zuNetPacketLayerTest, TimersFollowTraffic) {
  Layer layer;
  setTick(60000);
  layer.send("x");
  EXPECT_EQ(layer.layer->sendTimer().stamp(), 60000u);
  EXPECT_EQ(layer.endpoint->timeout(), kForever);
  const std::string wire = frame('<', "y");
  layer.endpoint->addBytes(wire.substr(0, 2));
  layer.endpoint->addAction([this] { setTick(61000); });
  layer.endpoint->addBytes(wire.substr(2));
  std::string got;
  ASSERT_EQ(layer.receive(got), 0);
  EXPECT_EQ(layer.layer->receiveTimer().stamp(), 61000u);
  EXPECT_EQ(layer.layer->sendTimer().stamp(), 60000u);
}

TEST_F(zuNetPacketLayerTest, CloseClearsTheStopEventAndClosesTheEndpoint) {
  zuSingleEvent stop;
  auto owned = std::make_unique<zuScriptedEndpoint>(&stop);
  zuScriptedEndpoint* endpoint = owned.get();
  zuNetPacketLayer layer(std::move(owned), false);
  EXPECT_EQ(layer.close(), 0);
  EXPECT_EQ(endpoint->stopEvent(), nullptr);
  EXPECT_FALSE(endpoint->isOpen());
}

TEST_F(zuNetPacketLayerTest, BadCompressedPayloadsBreakTheLayer) {
  const std::string text = [] {
    std::string t;
    for (int i = 0; i < 200; ++i) t += "line " + std::to_string(i % 17) + " of the payload\n";
    return t;
  }();
  const std::string good = zlibOf(text);
  ASSERT_EQ(inflated(good), text);
  std::string wrongAdler = good;
  wrongAdler.back() = static_cast<char>(wrongAdler.back() ^ 1);
  // FDICT set with a valid header check, then a dictionary id.
  const std::string presetDictionary = "\x78\x20"s + "\x01\x02\x03\x04" + good.substr(2);

  struct Case {
    const char* name;
    std::string stream;
  } const cases[] = {
      {"empty", ""},
      {"header only", good.substr(0, 2)},
      {"truncated body", good.substr(0, good.size() / 2)},
      {"truncated checksum", good.substr(0, good.size() - 2)},
      {"wrong Adler-32", wrongAdler},
      {"preset dictionary", presetDictionary},
      {"a byte after the end", good + '\0'},
      {"a second stream after the end", good + good},
      {"bad header check", "\x78\x9d"s + good.substr(2)},
      {"not deflate", "\x77\x09"s + good.substr(2)},
      {"window over 32 KiB", "\x88\x1c"s + good.substr(2)},
      {"garbage body", "\x78\x9c"s + std::string(16, '\xFF')},
      {"bomb", zlibOf(std::string(zuNetPacketLayer::kMaxPayload + 1, '\0'))},
  };
  for (const Case& c : cases) {
    Layer receiver;
    receiver.endpoint->addBytes(frame('(', c.stream));
    receiver.endpoint->addBytes(frame('<', "next"));
    std::string got;
    EXPECT_EQ(receiver.receive(got), zuErrNetwork) << c.name;
    EXPECT_EQ(receiver.receive(got), zuErrNetwork) << c.name;
  }

  // The limit itself still inflates.
  Layer receiver;
  const std::string full(zuNetPacketLayer::kMaxPayload, '\0');
  receiver.endpoint->addBytes(frame('(', zlibOf(full)));
  std::string got;
  ASSERT_EQ(receiver.receive(got), 0);
  EXPECT_EQ(got, full);
}

// Over real sockets: a pair of stream endpoints in this process.
TEST_F(zuNetPacketLayerTest, PacketsOverAnEndpointPair) {
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  ASSERT_TRUE(zuConnectEndpointPair(*a, *b));
  zuNetPacketLayer left(std::move(a), true);
  zuNetPacketLayer right(std::move(b), true);
  std::string payload(4000, '\0');
  for (u32 i = 0; i < 4000; ++i) payload[i] = static_cast<char>(i % 7);
  zuNetBuffer out(4000);
  std::memcpy(out.payload(), payload.data(), payload.size());
  ASSERT_EQ(left.send(out, 4000), 0);
  zuNetBuffer in(10);
  u32 length = 0;
  ASSERT_EQ(right.receive(in, length, kWait), 0);
  ASSERT_EQ(length, 4000u);
  EXPECT_TRUE(std::string(reinterpret_cast<char*>(in.payload()), length) == payload);
  EXPECT_EQ(right.receive(in, length, 0), zuErrTimeout);
  left.close();
  EXPECT_EQ(right.receive(in, length, kWait), zuErrConnectionBroken);
  EXPECT_EQ(right.receive(in, length, kWait), zuErrNetwork);
}

// Python's zlib as an independent peer.
class zuNetPacketLayerPythonTest : public zuNetPacketLayerTest {
 protected:
  void SetUp() override {
    zuNetPacketLayerTest::SetUp();
    if (!tw::test::haveTool(tw::test::kPython)) GTEST_FAIL() << "python3 is a test peer";
  }
  std::string python(const std::string& script) {
    const std::string path = dir_.file("script.py");
    tw::test::writeFileBytes(path, script);
    std::string out;
    EXPECT_EQ(tw::test::runTool(std::string(tw::test::kPython) + " " + tw::test::shellQuote(path), &out), 0) << out;
    return out;
  }
  tw::test::ScratchDir dir_;
};

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

TEST_F(zuNetPacketLayerPythonTest, ReadsStreamsOfEveryLevelAndWindow) {
  std::string payload;
  for (int i = 0; i < 40; ++i) payload += randomBytes(100, 3) + "block " + std::to_string(i) + ";";
  payload += randomBytes(2000, 4) + payload.substr(0, 3000);
  tw::test::writeFileBytes(dir_.file("payload"), payload);

  const std::string out = python(
      "import zlib\n"
      "data = open(" +
      tw::test::shellQuote(dir_.file("payload")) +
      ", 'rb').read()\n"
      "for level in range(10):\n"
      "    for wbits in range(9, 16):\n"
      "        c = zlib.compressobj(level, zlib.DEFLATED, wbits)\n"
      "        print(level, wbits, (c.compress(data) + c.flush()).hex())\n");
  std::istringstream lines(out);
  int level = 0;
  int wbits = 0;
  std::string hex;
  int count = 0;
  while (lines >> level >> wbits >> hex) {
    Layer receiver;
    receiver.endpoint->addBytes(frame('(', fromHex(hex)));
    std::string got;
    EXPECT_EQ(receiver.receive(got), 0) << "level " << level << " window " << wbits;
    EXPECT_EQ(got, payload) << "level " << level << " window " << wbits;
    ++count;
  }
  EXPECT_EQ(count, 70);
}

TEST_F(zuNetPacketLayerPythonTest, OurCompressedPayloadsInflateInPython) {
  const std::string payloads[] = {
      std::string(1000, 'x'),
      [] {
        std::string t;
        for (int i = 0; i < 1500; ++i) t += "entry " + std::to_string(i % 50) + "\n";
        return t;
      }(),
      randomBytes(600, 5) + std::string(29400, '\x01'),
  };
  std::string script = "import zlib, sys\nok = True\n";
  int index = 0;
  for (const std::string& payload : payloads) {
    Layer sender;
    const std::string wire = sender.send(payload);
    ASSERT_EQ(wire[0], '(');
    const std::string name = std::to_string(index++);
    tw::test::writeFileBytes(dir_.file(name + ".z"), wire.substr(5, wire.size() - 6));
    tw::test::writeFileBytes(dir_.file(name + ".raw"), payload);
    script +=
        "d = zlib.decompressobj()\n"
        "out = d.decompress(open(" +
        tw::test::shellQuote(dir_.file(name + ".z")) +
        ", 'rb').read())\n"
        "ok = ok and d.eof and not d.unused_data and out == open(" +
        tw::test::shellQuote(dir_.file(name + ".raw")) + ", 'rb').read()\n";
  }
  script += "print('same' if ok else 'different')\n";
  EXPECT_EQ(python(script), "same\n");
}

}  // namespace
