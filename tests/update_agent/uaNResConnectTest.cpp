#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <string>

#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"
#include "update_agent/uaNResConnect.h"

namespace {

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());

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
  tw::test::HandlerPair pair = tw::test::connectHandlerPair();
  ASSERT_TRUE(pair.server);
  zuNetObjectHandler& client = *pair.client;
  zuNetObjectHandler& server = *pair.server;
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
  std::list<tw::test::ReplyRequest> requests;
  for (const std::string& payload : {std::string(), std::string("anything at all")}) {
    SCOPED_TRACE(payload);
    tw::test::ReplyRequest& r = requests.emplace_back(zuNOT_Connect, payload);
    tw::test::sendOn(client, r);
    ASSERT_TRUE(!zuThread::waitForObjects(kWait, &r.done));
    EXPECT_TRUE(r.isSucceeded());
    EXPECT_EQ(r.getErrorCode(), 0);
    EXPECT_TRUE(r.reply == expected) << r.reply.size();
  }
  client.stop();
  client.wait();
}

}  // namespace
