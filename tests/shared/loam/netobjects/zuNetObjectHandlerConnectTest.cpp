// The client's connect functions against small secure servers on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/netobjects/zuNetReqConnect.h"
#include "loam/netobjects/zuNetResConnect.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuProgress.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
const zuIPAddress kLoopback("127.0.0.1");
const std::string kServer = "test server";

class ConnectResponse : public zuNetResConnect {
 public:
  ConnectResponse() : zuNetResConnect(kProtocolValue, "9.1", true) {}
  u8 getType() const override { return zuNOT_Connect; }
};

// Accepts secure connections on loopback: serves Connect (or no type at
// all), refuses at its
// "limit" (after reading what the client sent, so the refusal is not lost to
// a reset), or holds the connection without a word.
class Server {
 public:
  enum class Mode { kServe, kNoConnect, kRefuse, kSilent };

  explicit Server(Mode mode) : mode_(mode), listener_(&stop_, kWait, true) {
    status = listener_.listen(0, kLoopback);
    if (status == 0) thread_ = std::thread([this] { loop(); });
  }
  ~Server() {
    stop_.set();
    if (thread_.joinable()) thread_.join();
    for (auto& h : handlers_) {
      h->stop();
      h->wait();
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  u16 port() const { return listener_.localPort(); }

  u16 status = 0;
  zuSingleEvent accepted;

 private:
  void loop() {
    while (!stop_.isSet()) {
      std::unique_ptr<zuNetEndpoint> e = listener_.accept();
      if (!e) continue;
      auto* secure = static_cast<zuSecureTCPEndpoint*>(e.get());
      const bool compress = secure->compressionAgreed();
      if (mode_ == Mode::kSilent) {
        held_.push_back(std::move(e));
      } else if (mode_ == Mode::kRefuse) {
        u8 buffer[256];
        u32 n = sizeof buffer;
        e->readSome(buffer, &n);
        zuNetObjectHandler refusing(nullptr, std::move(e), compress);
        refusing.rejectConnection();
      } else {
        auto h = std::make_unique<zuNetObjectHandler>(nullptr, std::move(e), compress);
        zuNetResponseFactoryMap factories;
        if (mode_ == Mode::kServe)
          factories[zuNOT_Connect] = [](u8) { return std::make_unique<ConnectResponse>(); };
        h->setFactories(factories);
        h->start();
        handlers_.push_back(std::move(h));
      }
      accepted.set();
    }
  }

  Mode mode_;
  zuSingleEvent stop_;
  zuSecureTCPEndpoint listener_;
  std::thread thread_;
  std::vector<std::unique_ptr<zuNetObjectHandler>> handlers_;
  std::vector<std::unique_ptr<zuNetEndpoint>> held_;
};

std::size_t clientHandlers() { return zuMainThread::instance().children().size(); }

void stopHandler(std::unique_ptr<zuNetObjectHandler>& h) {
  ASSERT_TRUE(h);
  h->stop();
  h->wait();
  h.reset();
}

// The exception of a connect call that must fail; code 0 when it did not.
template <typename F>
zuErrorMessage failureOf(F&& f) {
  try {
    std::unique_ptr<zuNetObjectHandler> h = f();
    stopHandler(h);
  } catch (const zuException& e) {
    return e.message();
  }
  return zuErrorMessage();
}

TEST(zuNetObjectHandlerConnect, RunsConnectAndFillsTheReplyRecord) {
  Server server(Server::Mode::kServe);
  ASSERT_EQ(server.status, 0);
  const std::size_t before = clientHandlers();
  zuProgress progress(0, 100, 0);
  zuConnectReply reply;
  auto handler = zuNetObjectHandler::connect(kLoopback, server.port(), kServer, nullptr, 256,
                                             &progress, &reply, true);
  ASSERT_TRUE(handler);
  EXPECT_TRUE(handler->isRunning());
  EXPECT_TRUE(handler->isConnected());
  EXPECT_EQ(handler->parent(), &zuMainThread::instance());
  EXPECT_EQ(reply.protocolValue, 256);
  EXPECT_TRUE(reply.firstFlag);
  EXPECT_EQ(reply.firstConstant, 8u);
  EXPECT_EQ(reply.osText, zuGetOSDescription());
  EXPECT_EQ(reply.secondConstant, 2u);
  EXPECT_EQ(reply.versionText, "9.1");
  EXPECT_FALSE(reply.lastFlag);
  u32 first = 0, total = 0, position = 0;
  progress.read(first, total, position);
  EXPECT_EQ(position, 4u);

  // The connection carries further requests.
  zuNetReqConnect again;
  again.setReplyTarget(nullptr);
  again.start(handler.get());
  ASSERT_FALSE(zuThread::waitForObjects(kWait, again.completionEvent()));
  EXPECT_TRUE(again.wait());
  EXPECT_TRUE(again.isSucceeded());
  EXPECT_EQ(again.reply().versionText, "9.1");
  stopHandler(handler);
  EXPECT_EQ(clientHandlers(), before);

  // By name: localhost.
  auto named = zuNetObjectHandler::connectByName("localhost", server.port(), kServer, nullptr, 0,
                                                 nullptr, nullptr, false);
  stopHandler(named);
}

TEST(zuNetObjectHandlerConnect, ProtocolMismatchTexts) {
  Server server(Server::Mode::kServe);
  ASSERT_EQ(server.status, 0);
  const std::size_t before = clientHandlers();
  struct Case {
    u16 expected;
    const char* text;
    std::string formatted;
  };
  for (const Case& c : std::vector<Case>{
           {255, "The server is a newer version. Please download a new program from Tarnwell.",
            "The server is a newer version. Please download a new program from Tarnwell."},
           {257,
            "The client is a newer version than the server \"$s\". Please download a new "
            "program from Tarnwell.",
            "The client is a newer version than the server \"test server\". Please download a "
            "new program from Tarnwell."}}) {
    SCOPED_TRACE(c.expected);
    const zuErrorMessage e = failureOf([&] {
      return zuNetObjectHandler::connect(kLoopback, server.port(), kServer, nullptr, c.expected,
                                         nullptr, nullptr, true);
    });
    EXPECT_EQ(e.code(), zuErrVersionMismatch);
    EXPECT_EQ(e.text(), c.text);
    EXPECT_EQ(e.toString(), c.formatted);
    // The handler is gone before the exception arrives.
    EXPECT_EQ(clientHandlers(), before);
  }
}

TEST(zuNetObjectHandlerConnect, FailuresNameTheServer) {
  const std::size_t before = clientHandlers();
  {
    Server refusing(Server::Mode::kRefuse);
    ASSERT_EQ(refusing.status, 0);
    const zuErrorMessage e = failureOf([&] {
      return zuNetObjectHandler::connect(kLoopback, refusing.port(), kServer, nullptr, 256, nullptr,
                                         nullptr, true);
    });
    EXPECT_EQ(e.code(), zuErrTooManyConnections);
    EXPECT_EQ(e.toString(),
              "Unable to connect to the server \"test server\". Too many open connections.");
    EXPECT_EQ(clientHandlers(), before);
  }
  u16 closedPort = 0;
  {
    Server gone(Server::Mode::kServe);
    closedPort = gone.port();
  }
  const zuErrorMessage e = failureOf([&] {
    return zuNetObjectHandler::connect(kLoopback, closedPort, kServer, nullptr, 0, nullptr, nullptr,
                                       true);
  });
  EXPECT_EQ(e.code(), 515);
  EXPECT_EQ(e.toString(), "Unable to connect to the server \"test server\".");

  // A server that answers Connect with an error (771 here).
  Server other(Server::Mode::kNoConnect);
  const zuErrorMessage unserved = failureOf([&] {
    return zuNetObjectHandler::connect(kLoopback, other.port(), kServer, nullptr, 0, nullptr,
                                       nullptr, true);
  });
  EXPECT_EQ(unserved.code(), 515);
  EXPECT_EQ(unserved.toString(), "Unable to connect to the server \"test server\".");

  Server serving(Server::Mode::kServe);
  zuSingleEvent stop;
  stop.set();
  const zuErrorMessage stopped = failureOf([&] {
    return zuNetObjectHandler::connect(kLoopback, serving.port(), kServer, &stop, 0, nullptr,
                                       nullptr, true);
  });
  EXPECT_EQ(stopped.code(), 257);
  EXPECT_EQ(clientHandlers(), before);
}

TEST(zuNetObjectHandlerConnect, StopEventEndsTheWaitForASilentServer) {
  Server silent(Server::Mode::kSilent);
  ASSERT_EQ(silent.status, 0);
  const std::size_t before = clientHandlers();
  zuSingleEvent stop;
  zuErrorMessage e;
  std::thread client([&] {
    e = failureOf([&] {
      return zuNetObjectHandler::connect(kLoopback, silent.port(), kServer, &stop, 0, nullptr,
                                         nullptr, true);
    });
  });
  ASSERT_FALSE(zuThread::waitForObjects(kWait, &silent.accepted));
  stop.set();
  client.join();
  EXPECT_EQ(e.code(), 257);
  EXPECT_EQ(clientHandlers(), before);
}

}  // namespace
