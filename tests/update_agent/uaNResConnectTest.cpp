#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <string>

#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/TestSupport.h"
#include "update_agent/uaNResConnect.h"

namespace {

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());

// A client's Connect request: sends its payload, keeps the reply.
class ConnectRequest : public zuNetObject {
 public:
  explicit ConnectRequest(const std::string& payload) {
    outgoing().putData(payload.data(), static_cast<u32>(payload.size()));
    prepareSend();
  }
  u8 getType() const override { return zuNOT_Connect; }
  bool isRequest() const override { return true; }
  u16 processData(zuNetReader& reader, u32 length) override {
    reply.assign(reinterpret_cast<const char*>(reader.getCurrent()), length);
    setSendState(kStateDone);
    return 0;
  }
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override {
    const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
    if (last) setSendState(kStateIdle);
    return n;
  }
  void onFinished() override { done.set(); }

  std::string reply;
  zuSingleEvent done;
};

TEST(uaNResConnectTest, NamesAndValues) {
  uaNResConnect response;
  EXPECT_EQ(response.getType(), 2);
  EXPECT_STREQ(response.getTypeName(), "zuNOT_Connect");
  EXPECT_STREQ(response.getName(), "Connect");
  EXPECT_FALSE(response.requiresAuthority());
  EXPECT_FALSE(response.isRequest());
  EXPECT_EQ(response.protocolValue(), 256);
  EXPECT_EQ(response.versionText(), "6.2");
}

TEST(uaNResConnectTest, AnswersAnyConnectRequestBeforeLogin) {
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  ASSERT_TRUE(zuConnectEndpointPair(*a, *b));
  zuNetObjectHandler client(nullptr, std::move(a), false);
  zuNetObjectHandler server(nullptr, std::move(b), false);
  zuNetResponseFactoryMap factories;
  factories[zuNOT_Connect] = [](u8) { return std::make_unique<uaNResConnect>(); };
  server.setFactories(factories);
  ASSERT_FALSE(server.isLoggedIn());
  server.start();
  client.start();

  const std::string os = zuGetOSDescription();
  ASSERT_FALSE(os.empty());
  const std::string expected = std::string("\x01\x00\x01\x08", 4) + os + std::string("\0\x02", 2) +
                               "6.2" + std::string("\0\0", 2);
  // Requests outlive both handlers, which touch them as they end.
  std::list<ConnectRequest> requests;
  for (const std::string& payload : {std::string(), std::string("anything at all")}) {
    SCOPED_TRACE(payload);
    ConnectRequest& r = requests.emplace_back(payload);
    r.setHandler(&client);
    client.sendRequest(&r);
    ASSERT_TRUE(!zuThread::waitForObjects(kWait, &r.done));
    EXPECT_TRUE(r.isSucceeded());
    EXPECT_EQ(r.getErrorCode(), 0);
    EXPECT_TRUE(r.reply == expected) << r.reply.size();
  }
  client.stop();
  client.wait();
}

}  // namespace
