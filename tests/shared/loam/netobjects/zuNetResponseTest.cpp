#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/netobjects/zuNetResponse.h"
#include "loam/netobjects/zuNetWriter.h"
#include "loam/netobjects/zuResponseThread.h"
#include "loam/netobjects/zuThreadedNetResponse.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"

namespace {

using tw::test::connectHandlerPair;
using tw::test::ErrorLines;
using tw::test::HandlerPair;
using tw::test::ReplyRequest;
using tw::test::sendOn;

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
constexpr u8 kType = 6;

bool waitFor(zuEvent& event) { return !zuThread::waitForObjects(kWait, &event); }

// What the server's responses report back to the test.
struct Probe {
  std::atomic<zuThread*> workThread{nullptr};
  std::atomic<zuThread*> handlerThread{nullptr};
  // What the work saw of its own thread.
  std::atomic<bool> onResponseThread{false};
  std::mutex textLock;
  std::string workThreadText;
  zuSingleEvent workStarted;
  zuSingleEvent workEnded;
  zuSingleEvent deleted;
  std::atomic<bool> endedBeforeDelete{false};
  std::atomic<int> workCount{0};
  std::atomic<u16> errorAtDelete{0};
};

// Answers with its request reversed.
class ReverseResponse : public zuNetResponse {
 public:
  explicit ReverseResponse(Probe& probe) : probe_(probe) {}
  ~ReverseResponse() override { probe_.deleted.set(); }
  u8 getType() const override { return kType; }
  const char* getName() const override { return "Reverse"; }
  bool requiresAuthority() const override { return false; }
  u16 processData(zuNetReader& reader, u32 length) override {
    probe_.handlerThread = zuThread::currentThread();
    std::string s(reinterpret_cast<const char*>(reader.getCurrent()), length);
    outgoing().putData(std::string(s.rbegin(), s.rend()).data(), length);
    return 0;
  }

 private:
  Probe& probe_;
};

// Threaded work chosen by the first payload byte: 'u' upper-cases the rest,
// 'f' fails with 772 and a message of its own, 'r' reads past the end, 'w'
// waits for the stop event.
class WorkResponse : public zuThreadedNetResponse {
 public:
  explicit WorkResponse(Probe& probe) : probe_(probe) {}
  ~WorkResponse() override {
    stopWork();
    probe_.endedBeforeDelete = probe_.workEnded.isSet();
    probe_.errorAtDelete = getErrorCode();
    probe_.deleted.set();
  }
  u8 getType() const override { return kType; }
  const char* getName() const override { return "Work"; }
  bool requiresAuthority() const override { return false; }
  // Room for the several-chunk request below.
  std::size_t maxGatheredBytes() const override { return 1u << 20; }
  u16 run(zuNetReader& reader) override {
    zuThread* self = zuThread::currentThread();
    probe_.workThread = self;
    probe_.onResponseThread = self != nullptr && self == responseThread();
    if (self) {
      std::lock_guard<std::mutex> hold(probe_.textLock);
      probe_.workThreadText = self->text();
    }
    ++probe_.workCount;
    probe_.workStarted.set();
    struct Ended {
      Probe& p;
      ~Ended() { p.workEnded.set(); }
    } ended{probe_};
    const u8 op = reader.getUInt8();
    std::string rest(reinterpret_cast<const char*>(reader.getCurrent()), reader.bytesLeft());
    switch (op) {
      case 'u':
        for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        outgoing().putData(rest.data(), static_cast<u32>(rest.size()));
        return 0;
      case 'f':
        setError(zuErrUnexpectedData, "Bad \"$f\".", 'f', rest);
        logError(errorMessage());
        return zuErrUnexpectedData;
      case 'r':
        reader.getUInt32();
        reader.getUInt32();
        return 0;
      case 'w':
        zuThread::waitForObjects(0xFFFFFFFF, getStopEvent());
        return isStopRequested() ? 0 : 1;
      case 'e':
        // Keeps writing its own error until stopped.
        do {
          setError(1500, "Busy $n.", 'n', rest);
        } while (zuThread::waitForObjects(1, getStopEvent()));
        return 0;
      default:
        return 0;
    }
  }

 private:
  Probe& probe_;
};

class zuNetResponseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorLines::clear();
    zuLog::addListener(&ErrorLines::capture);
  }
  void TearDown() override { zuLog::removeListener(&ErrorLines::capture); }

  template <typename Response>
  void connect() {
    HandlerPair pair = connectHandlerPair();
    ASSERT_TRUE(pair.server);
    client_ = std::move(pair.client);
    server_ = std::move(pair.server);
    zuNetResponseFactoryMap factories;
    factories[kType] = [this](u8) { return std::make_unique<Response>(probe_); };
    server_->setFactories(factories);
    server_->start();
    client_->start();
  }
  ReplyRequest& send(const std::string& payload) {
    ReplyRequest& r = requests_.emplace_back(kType, payload);
    sendOn(*client_, r);
    return r;
  }

  Probe probe_;
  // Requests outlive the handlers, which touch them as they end.
  std::list<ReplyRequest> requests_;
  std::unique_ptr<zuNetObjectHandler> client_;
  std::unique_ptr<zuNetObjectHandler> server_;
};

TEST_F(zuNetResponseTest, PlainResponseAnswersOnTheHandlerThread) {
  connect<ReverseResponse>();
  ReplyRequest& r = send("abcdef");
  ASSERT_TRUE(waitFor(r.done));
  EXPECT_TRUE(r.isSucceeded());
  EXPECT_EQ(r.reply, "fedcba");
  EXPECT_EQ(probe_.handlerThread.load(), server_.get());
  // Its exchange over, the handler deleted it.
  EXPECT_TRUE(waitFor(probe_.deleted));
}

TEST_F(zuNetResponseTest, ThreadedWorkRunsOnItsOwnThreadAndReplies) {
  connect<WorkResponse>();
  // Several chunks: the work starts only once the last has come.
  const std::string text(70000, 'x');
  ReplyRequest& r = send("u" + text);
  ASSERT_TRUE(waitFor(r.done));
  EXPECT_TRUE(r.isSucceeded());
  EXPECT_EQ(r.reply, std::string(70000, 'X'));
  EXPECT_EQ(probe_.workCount.load(), 1);
  EXPECT_TRUE(waitFor(probe_.deleted));
  // Only compared: the thread went with its response.
  EXPECT_NE(probe_.workThread.load(), nullptr);
  EXPECT_NE(probe_.workThread.load(), server_.get());
  EXPECT_TRUE(probe_.onResponseThread.load());
  EXPECT_EQ(probe_.workThreadText, "Work");
  EXPECT_TRUE(probe_.endedBeforeDelete.load());
}

TEST_F(zuNetResponseTest, FailuresAreLoggedAndSentBackWithTheirCode) {
  connect<WorkResponse>();
  struct Case {
    std::string payload;
    u16 code;
    std::string text;  // formatted
  } cases[] = {
      {"fpart", zuErrUnexpectedData, "Bad \"part\"."},
      // An exception that escapes the work becomes the thread's error.
      {"r", 261,
       "An unexpected exception \"zuNetReader::getData\" occurred.  Please notify Tarnwell "
       "Technical Support."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.payload);
    ErrorLines::clear();
    probe_.deleted.reset();
    ReplyRequest& r = send(k.payload);
    ASSERT_TRUE(waitFor(r.done));
    EXPECT_EQ(r.getState(), zuNetObject::kStateFailed);
    EXPECT_EQ(r.getErrorCode(), k.code);
    EXPECT_EQ(r.errorMessage().toString(), k.text);
    ASSERT_TRUE(waitFor(probe_.deleted));
    EXPECT_EQ(ErrorLines::lines(), std::vector<std::string>{"Work: " + k.text});
  }
}

TEST_F(zuNetResponseTest, CancelMidWorkJoinsTheWorker) {
  connect<WorkResponse>();
  ReplyRequest& r = send("w");
  ASSERT_TRUE(waitFor(probe_.workStarted));
  EXPECT_FALSE(probe_.workEnded.isSet());
  client_->cancelRequest(&r);
  ASSERT_TRUE(waitFor(probe_.deleted));
  EXPECT_TRUE(probe_.endedBeforeDelete.load());
  // The client's request ends when the peer's acknowledgement arrives, which
  // may come after the server side has deleted its response.
  ASSERT_TRUE(waitFor(r.done));
  EXPECT_EQ(r.getState(), zuNetObject::kStateCancelled);
  // Nothing was logged: a stopped work is no failure.
  EXPECT_TRUE(ErrorLines::lines().empty());
}

TEST_F(zuNetResponseTest, PeerErrorForARunningWorkEndsItWithoutTouchingItsError) {
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  ASSERT_TRUE(zuConnectEndpointPair(*a, *b));
  zuNetObjectHandler server(nullptr, std::move(a), false);
  zuNetResponseFactoryMap factories;
  factories[kType] = [this](u8) { return std::make_unique<WorkResponse>(probe_); };
  server.setFactories(factories);
  server.start();
  zuNetPacketLayer peer(std::move(b), false);
  zuNetBuffer buffer(1000);
  const auto send = [&](u8 type, u8 flags, u16 error, const std::string& body) {
    ASSERT_EQ(tw::test::sendPacket(peer, buffer, 9, type, flags, error, body), 0);
  };

  send(kType, 11, 0, "eX");
  ASSERT_TRUE(waitFor(probe_.workStarted));
  // The peer fails its own request while the work writes its error.
  zuErrorMessage theirs(1234, "Theirs.");
  std::vector<u8> bytes(200);
  zuNetWriter writer(bytes.data(), static_cast<u32>(bytes.size()));
  writer.putErrorMessage(theirs);
  send(kType, 9, 1234, std::string(reinterpret_cast<const char*>(bytes.data()), writer.size()));
  ASSERT_TRUE(waitFor(probe_.deleted));
  EXPECT_TRUE(probe_.endedBeforeDelete.load());
  EXPECT_EQ(probe_.errorAtDelete.load(), 1500);
  // Nothing was answered and the connection goes on.
  send(0, 9, 0, "");
  u32 length = 0;
  ASSERT_EQ(peer.receive(buffer, length, kWait), 0);
  zuNetMessageHeader answer;
  answer.read(buffer.payload(), length);
  EXPECT_EQ(answer.type, 0);
}

TEST_F(zuNetResponseTest, HandlerEndingMidWorkJoinsTheWorker) {
  connect<WorkResponse>();
  send("w");
  ASSERT_TRUE(waitFor(probe_.workStarted));
  server_.reset();
  EXPECT_TRUE(probe_.deleted.isSet());
  EXPECT_TRUE(probe_.endedBeforeDelete.load());
}

TEST(zuNetResponseWorkers, WorkersAreBoundedPerConnectionAndInTheProcess) {
  Probe probe;
  // Requests outlive the handlers, which touch them as they end.
  std::list<ReplyRequest> requests;
  std::vector<HandlerPair> links;
  zuNetResponseFactoryMap factories;
  factories[kType] = [&probe](u8) { return std::make_unique<WorkResponse>(probe); };
  for (int i = 0; i < 5; ++i) {
    HandlerPair& link = links.emplace_back(connectHandlerPair());
    ASSERT_TRUE(link.server);
    link.server->setFactories(factories);
    link.server->start();
    link.client->start();
  }
  const auto send = [&](std::size_t link, const std::string& payload) -> ReplyRequest& {
    ReplyRequest& r = requests.emplace_back(kType, payload);
    sendOn(*links[link].client, r);
    return r;
  };

  // Four connections with four waiting workers each fill the process.
  std::vector<ReplyRequest*> waiting;
  for (std::size_t link = 0; link < 4; ++link)
    for (int k = 0; k < 4; ++k) waiting.push_back(&send(link, "w"));
  ASSERT_TRUE(tw::test::eventually([&] { return probe.workCount.load() == 16; }));
  EXPECT_EQ(zuNetObjectHandler::workerCount(), 16u);

  // One more on a full connection, and one on a fresh connection.
  for (std::size_t link : {std::size_t{0}, std::size_t{4}}) {
    SCOPED_TRACE(link);
    ReplyRequest& refused = send(link, "u");
    ASSERT_TRUE(waitFor(refused.done));
    EXPECT_EQ(refused.getErrorCode(), kzuCodeMemoryExhausted);
    EXPECT_EQ(refused.errorMessage().toString(), kzuMemoryExhaustedText);
  }
  EXPECT_EQ(probe.workCount.load(), 16);

  // A worker that ends gives its place back.
  links[1].client->cancelRequest(waiting[4]);
  ASSERT_TRUE(waitFor(waiting[4]->done));
  ASSERT_TRUE(tw::test::eventually([] { return zuNetObjectHandler::workerCount() == 15; }));
  ReplyRequest& served = send(4, "uok");
  ASSERT_TRUE(waitFor(served.done));
  EXPECT_TRUE(served.isSucceeded());
  EXPECT_EQ(served.reply, "OK");

  links.clear();
  EXPECT_EQ(zuNetObjectHandler::workerCount(), 0u);
}

class Paced : public zuNetResponse {
 public:
  u8 getType() const override { return kType; }
};

TEST(zuNetResponsePacing, WaitsOutTheIntervalAfterEachParking) {
  zuPlatform::setFixedTickForTest(1000000);
  Paced response;
  response.setState(zuNetObject::kStateWaiting);
  EXPECT_EQ(response.waitingCount(), 1u);
  EXPECT_EQ(response.getSendState(), zuNetObject::kStateQueued);
  EXPECT_EQ(response.timeToNextAction(), 500u);
  zuPlatform::setFixedTickForTest(1000499);
  EXPECT_EQ(response.timeToNextAction(), 1u);
  zuPlatform::setFixedTickForTest(1000500);
  EXPECT_EQ(response.timeToNextAction(), 0u);
  // Parking again restarts the interval.
  response.setState(zuNetObject::kStateWaiting);
  EXPECT_EQ(response.waitingCount(), 2u);
  EXPECT_EQ(response.timeToNextAction(), 500u);
  zuPlatform::setFixedTickForTest(std::nullopt);
}

TEST(zuNetResponseLog, EmptyTextsAreNotLoggedAsErrors) {
  ErrorLines::clear();
  zuLog::addListener(&ErrorLines::capture);
  Paced response;
  response.logError(zuMessage(""));
  response.logMessage(0, zuMessage(""));
  response.logError(zuMessage("lost $f", 'f', std::string("x")));
  zuLog::removeListener(&ErrorLines::capture);
  EXPECT_EQ(ErrorLines::lines(), (std::vector<std::string>{"NetObject: ", "NetObject: lost x"}));
}

}  // namespace
