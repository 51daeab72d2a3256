// The endpoint source and sink between a network endpoint and a Crypto++
// pipeline.
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/terminal/zuEndpointSink.h"
#include "loam/terminal/zuEndpointSource.h"
#include "support/TimeTestSupport.h"

namespace {

// Records each put's bytes.
class PutRecorder : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const CryptoPP::byte* bytes, size_t length, int, bool) override {
    if (length != 0) puts.emplace_back(reinterpret_cast<const char*>(bytes), length);
    return 0;
  }
  std::string all() const {
    std::string s;
    for (const auto& p : puts) s += p;
    return s;
  }
  std::vector<std::string> puts;
};

// Refuses everything, as a decoder does with a protocol error.
class Refuser : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const CryptoPP::byte*, size_t, int, bool) override {
    throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "refused");
  }
};

u16 codeOf(const std::function<void()>& call, std::string* text = nullptr) {
  try {
    call();
  } catch (const zuException& e) {
    if (text != nullptr) *text = e.what();
    return e.code();
  }
  return 0;
}

TEST(EndpointSource, PumpAllWithNothingToReadGivesZero) {
  zuScriptedEndpoint endpoint;
  endpoint.addStatus(zuErrTimeout);
  auto* out = new PutRecorder;
  zuEndpointSource source(&endpoint, out);
  EXPECT_EQ(source.pumpAll(50), 0u);
  EXPECT_TRUE(out->puts.empty());
  ASSERT_EQ(endpoint.receiveTimeouts().size(), 1u);
  EXPECT_EQ(endpoint.receiveTimeouts()[0], 50u);
  EXPECT_EQ(endpoint.timeout(), 0u);
}

TEST(EndpointSource, PumpAllPutsPiecesOfAtMost4096AndOnlyTheFirstReadWaits) {
  zuScriptedEndpoint endpoint;
  std::string data;
  for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>(i * 7));
  endpoint.addBytes(data.substr(0, 6000));
  endpoint.addBytes(data.substr(6000));
  endpoint.addStatus(zuErrTimeout);
  auto* out = new PutRecorder;
  zuEndpointSource source(&endpoint, out);
  EXPECT_EQ(source.pumpAll(1000), 10000u);
  EXPECT_EQ(out->all(), data);
  for (const auto& p : out->puts) EXPECT_LE(p.size(), 4096u);
  ASSERT_GE(endpoint.receiveTimeouts().size(), 2u);
  EXPECT_EQ(endpoint.receiveTimeouts()[0], 1000u);
  for (std::size_t i = 1; i < endpoint.receiveTimeouts().size(); ++i)
    EXPECT_EQ(endpoint.receiveTimeouts()[i], 0u);
}

TEST(EndpointSource, PumpAllIsBoundedPerCall) {
  zuScriptedEndpoint endpoint;
  const std::string block(8192, 'x');
  for (u32 sent = 0; sent < 2 * zuEndpointSource::kPumpAllLimit; sent += 8192)
    endpoint.addBytes(block);
  auto* out = new PutRecorder;
  zuEndpointSource source(&endpoint, out);
  EXPECT_EQ(source.pumpAll(0), zuEndpointSource::kPumpAllLimit);
  EXPECT_EQ(source.pumpAll(0), zuEndpointSource::kPumpAllLimit);
}

TEST(EndpointSource, Pump2StopsAtTheDelimiterWithoutPassingItOn) {
  zuScriptedEndpoint endpoint;
  endpoint.addBytes("SSH-2.0-peer\nrest");
  auto* out = new PutRecorder;
  zuEndpointSource source(&endpoint, out);
  EXPECT_EQ(source.Pump2(100, 500, true, 10), 13u);
  EXPECT_EQ(out->all(), "SSH-2.0-peer");
  // Count limit, then a time-out ends with what was taken.
  EXPECT_EQ(source.Pump2(2, 500, false, 0), 2u);
  EXPECT_EQ(out->all(), "SSH-2.0-peerre");
  endpoint.setEndStatus(zuErrTimeout);
  EXPECT_EQ(source.Pump2(100, 500, false, 0), 2u);
  EXPECT_EQ(source.Pump2(0, 500, false, 0), 0u);
}

// The clock moves only inside the script's receives.
using EndpointSourceClock = tw::test::ClockSeamTest;

TEST_F(EndpointSourceClock, Pump2TimeBoundsThePumpNotEachByte) {
  u64 tick = 100000;
  zuPlatform::setFixedTickForTest(tick);
  zuScriptedEndpoint endpoint;
  // One byte every 200 ms, each well within the pump's 500 ms.
  for (int i = 0; i < 20; ++i) {
    endpoint.addAction([&tick] {
      tick += 200;
      zuPlatform::setFixedTickForTest(tick);
    });
    endpoint.addBytes("x");
  }
  auto* out = new PutRecorder;
  zuEndpointSource source(&endpoint, out);
  // 200, 400, 600 ms: the time is up; one receive that does not wait, then
  // the pump ends with what it took.
  EXPECT_EQ(source.Pump2(100, 500, false, 0), 4u);
  EXPECT_EQ(endpoint.receiveTimeouts(), (std::vector<u32>{500, 300, 100, 0}));
}

TEST(EndpointSource, Failures) {
  std::string text;
  {
    zuEndpointSource source(nullptr, new PutRecorder);
    EXPECT_EQ(codeOf([&] { source.pumpAll(0); }, &text), zuErrFailed);
    EXPECT_EQ(text, "no endpoint defined.");
    EXPECT_EQ(codeOf([&] { source.Pump2(1, 0, false, 0); }), zuErrFailed);
  }
  {
    zuScriptedEndpoint endpoint;
    endpoint.addBytes("ab");
    endpoint.setEndStatus(zuErrConnectionBroken);
    auto* out = new PutRecorder;
    zuEndpointSource source(&endpoint, out);
    EXPECT_EQ(codeOf([&] { source.pumpAll(0); }, &text), zuErrConnectionBroken);
    EXPECT_EQ(text, "error reading endpoint.");
    EXPECT_EQ(out->all(), "ab");
  }
  {
    zuScriptedEndpoint endpoint;
    endpoint.addBytes("x");
    zuEndpointSource source(&endpoint, new Refuser);
    EXPECT_THROW(source.pumpAll(0), CryptoPP::Exception);
  }
}

TEST(EndpointSink, EveryPutReachesTheTransportAtOnce) {
  zuScriptedEndpoint endpoint;
  zuEndpointSink sink(&endpoint);
  sink.Put(reinterpret_cast<const CryptoPP::byte*>("packet"), 6);
  EXPECT_EQ(endpoint.sent(), "packet");
  sink.Put('!');
  EXPECT_EQ(endpoint.sent(), "packet!");
  sink.MessageEnd();
  sink.Flush(true);
  EXPECT_EQ(endpoint.sendSizes(), (std::vector<u32>{6, 1}));
}

// Records the time-out each send runs with.
class TimedSendEndpoint : public zuScriptedEndpoint {
 public:
  u16 sendRaw(const void* data, u32 count) override {
    sendTimeouts.push_back(timeout());
    return zuScriptedEndpoint::sendRaw(data, count);
  }
  std::vector<u32> sendTimeouts;
};

TEST(EndpointSink, WritesRunWithTheSinksTimeoutNotTheReadersZero) {
  TimedSendEndpoint endpoint;
  // As a pump leaves it: a write with no time at all would fail at once on a
  // full socket buffer.
  endpoint.setTimeout(0);
  zuEndpointSink sink(&endpoint);
  sink.setWriteTimeout(7000);
  sink.Put(reinterpret_cast<const CryptoPP::byte*>("packet"), 6);
  sink.Put(reinterpret_cast<const CryptoPP::byte*>(std::string(9000, 'p').data()), 9000);
  EXPECT_EQ(endpoint.sendTimeouts, (std::vector<u32>{7000, 7000}));
  EXPECT_EQ(endpoint.timeout(), 0u);
}

TEST(EndpointSink, Failures) {
  std::string text;
  {
    zuScriptedEndpoint endpoint;
    endpoint.setSendStatus(zuErrConnectionBroken);
    zuEndpointSink sink(&endpoint);
    EXPECT_EQ(codeOf([&] { sink.Put('x'); }, &text), zuErrConnectionBroken);
    EXPECT_EQ(text, "error while writing to endpoint.");
  }
  {
    zuEndpointSink sink(nullptr);
    EXPECT_EQ(codeOf([&] { sink.Put('x'); }, &text), zuErrFailed);
    EXPECT_EQ(text, "no endpoint defined.");
  }
}

}  // namespace
