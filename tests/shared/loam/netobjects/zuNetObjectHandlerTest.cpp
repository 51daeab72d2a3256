#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"

namespace {

// Only bounds a failing test.
constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
constexpr u8 kEcho = 2;

bool waitFor(zuEvent& event) { return !zuThread::waitForObjects(kWait, &event); }

std::string pattern(std::size_t n, u32 seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed) % 251);
  return s;
}

std::string serialised(const zuErrorMessage& message) {
  std::vector<u8> buffer(1000);
  zuNetWriter writer(buffer.data(), static_cast<u32>(buffer.size()));
  writer.putErrorMessage(message);
  return std::string(reinterpret_cast<const char*>(buffer.data()), writer.size());
}

class TestHandler : public zuNetObjectHandler {
 public:
  using zuNetObjectHandler::zuNetObjectHandler;
  // The thread makes virtual calls: it must end before this part goes.
  ~TestHandler() override {
    stop();
    wait();
  }
  void setNextId(u32 id) { nextId_ = id; }
};

// What the responses of one test report back.
struct Probe {
  zuSingleEvent processed;
  zuSingleEvent deleted;
  std::atomic<int> processCount{0};
  std::atomic<int> deleteCount{0};
  std::string seen;
  zuNetObject* held = nullptr;
  // When set, processData returns its result (or throws) instead of
  // echoing.
  std::function<u16()> fail;
  bool hold = false;
  bool authority = false;
  std::size_t limit = zuNetObject::kDefaultMaxGatheredBytes;
  std::atomic<int> createCount{0};
};

// Echoes the request back, holds it for the test, or fails.
class EchoResponse : public zuNetObject {
 public:
  EchoResponse(u8 type, Probe& probe) : type_(type), probe_(probe) {}
  ~EchoResponse() override {
    ++probe_.deleteCount;
    probe_.deleted.set();
  }
  u8 getType() const override { return type_; }
  bool isRequest() const override { return false; }
  bool requiresAuthority() const override { return probe_.authority; }
  std::size_t maxGatheredBytes() const override { return probe_.limit; }
  u16 processData(zuNetReader& reader, u32 length) override {
    probe_.seen.assign(reinterpret_cast<const char*>(reader.getCurrent()), length);
    ++probe_.processCount;
    u16 result = 0;
    if (probe_.fail) {
      result = probe_.fail();
    } else if (probe_.hold) {
      probe_.held = this;
      setSendState(kStateIdle);
    } else {
      outgoing().putData(reader.getCurrent(), length);
      prepareSend();
    }
    probe_.processed.set();
    return result;
  }
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override {
    const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
    if (last) setSendState(kStateDone);
    return n;
  }

 private:
  u8 type_;
  Probe& probe_;
};

class TestRequest : public zuNetObject {
 public:
  u8 getType() const override { return kEcho; }
  bool isRequest() const override { return true; }
  u16 processData(zuNetReader& reader, u32 length) override {
    reply.assign(reinterpret_cast<const char*>(reader.getCurrent()), length);
    setSendState(kStateDone);
    return result;
  }
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override {
    const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
    if (last) setSendState(kStateIdle);  // wait for the reply
    return n;
  }
  void onFinished() override { done.set(); }
  void setId(u16 id) override {
    if (id != 0) registeredId = id;
    zuNetObject::setId(id);
  }

  std::atomic<u16> registeredId{0};
  std::string reply;
  u16 result = 0;
  zuSingleEvent done;
};

struct Packet {
  zuNetMessageHeader header;
  std::string body;
};

// The other end of a handler's connection, speaking packets directly.
class Peer {
 public:
  explicit Peer(std::unique_ptr<zuNetEndpoint> endpoint) : layer_(std::move(endpoint), false) {}

  void send(u16 id, u8 type, u8 flags, u16 error = 0, const std::string& body = "") {
    ASSERT_EQ(tw::test::sendPacket(layer_, buffer_, id, type, flags, error, body), 0);
  }
  u16 receive(Packet& packet, u32 wait = kWait) {
    u32 length = 0;
    const u16 status = layer_.receive(buffer_, length, wait);
    if (status != 0) return status;
    EXPECT_EQ(packet.header.read(buffer_.payload(), length), 6u);
    packet.body.assign(reinterpret_cast<const char*>(buffer_.payload()) + 6, length - 6);
    return 0;
  }
  Packet next() {
    Packet p;
    EXPECT_EQ(receive(p), 0);
    return p;
  }
  // A keep-alive that asks for an answer; when the answer is the next
  // packet, the handler has dealt with everything sent before it.
  void ping() {
    send(0, 0, 9);
    const Packet p = next();
    EXPECT_EQ(p.header.type, 0);
    EXPECT_EQ(p.header.flags, 8);
  }
  void close() { layer_.close(); }

 private:
  zuNetPacketLayer layer_;
  zuNetBuffer buffer_{40000};
};

void expectHeader(const Packet& p, u16 id, u8 type, u8 flags, u16 error) {
  EXPECT_EQ(p.header.id, id);
  EXPECT_EQ(p.header.type, type);
  EXPECT_EQ(u32{p.header.flags}, u32{flags});
  EXPECT_EQ(p.header.error, error);
}

zuErrorMessage bodyError(const Packet& p) {
  zuErrorMessage m;
  zuNetReader reader(p.body.data(), static_cast<u32>(p.body.size()));
  reader.getErrorMessage(m);
  EXPECT_EQ(reader.bytesLeft(), 0u);
  return m;
}

class zuNetObjectHandlerTest : public ::testing::Test {
 protected:
  struct Connection {
    std::unique_ptr<TestHandler> handler;
    std::unique_ptr<Peer> peer;
  };

  // A handler over one end of a socket pair and the raw other end.
  Connection connect() {
    auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
    auto b = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
    EXPECT_TRUE(zuConnectEndpointPair(*a, *b));
    Connection c;
    c.handler = std::make_unique<TestHandler>(nullptr, std::move(a), false);
    c.peer = std::make_unique<Peer>(std::move(b));
    return c;
  }
  zuNetResponseFactoryMap echoFactories(Probe& probe) {
    zuNetResponseFactoryMap map;
    map[kEcho] = [&probe](u8 type) {
      ++probe.createCount;
      return std::make_unique<EchoResponse>(type, probe);
    };
    return map;
  }
  TestRequest& newRequest(const std::string& payload, zuNetObjectHandler& handler) {
    TestRequest& r = requests_.emplace_back();
    r.outgoing().putData(payload.data(), static_cast<u32>(payload.size()));
    r.prepareSend();
    r.setHandler(&handler);
    return r;
  }
  static bool ended(zuNetObjectHandler& handler) { return waitFor(*handler.finishedEvent()); }

  // Requests outlive every handler, which touches them as it ends.
  std::list<TestRequest> requests_;
};

TEST_F(zuNetObjectHandlerTest, ConnectionTextNamesHandlerAndPeer) {
  struct Accepted : zuScriptedEndpoint {
    Accepted() {
      peerAddress_ = zuIPAddress("10.0.0.7");
      peerPort_ = 50123;
    }
  };
  zuNetObjectHandler handler(nullptr, std::make_unique<Accepted>(), false);
  EXPECT_EQ(handler.connectionText(), ":10.0.0.7(50123)");
  handler.setName("agent");
  EXPECT_EQ(handler.connectionText(), "agent:10.0.0.7(50123)");
  EXPECT_EQ(handler.peerAddress(), zuIPAddress("10.0.0.7"));
}

TEST_F(zuNetObjectHandlerTest, RequestsThatGetNoResponseAreRefused) {
  Probe probe;
  Connection c = connect();
  zuNetResponseFactoryMap factories;
  factories[6] = [](u8) { return std::unique_ptr<zuNetObject>(); };
  factories[7] = [&probe](u8 type) { return std::make_unique<EchoResponse>(type, probe); };
  probe.authority = true;
  c.handler->setFactories(factories);
  c.handler->start();

  const char* unsupported =
      "Request of type \"$t\" is not supported. The server and the client might be "
      "incompatible.";
  struct Case {
    u8 type;
    u16 code;
    const char* text;
    const char* t;
  } cases[] = {
      {9, zuErrUnsupportedType, unsupported, "9"},  // no factory
      {6, zuErrUnsupportedType, unsupported, "6"},  // the factory gives null
      {7, zuErrInvalidAuthority, "Invalid authority for user \"$u\".", nullptr},
  };
  u16 id = 40;
  for (const Case& k : cases) {
    SCOPED_TRACE(int{k.type});
    c.peer->send(++id, k.type, 11, 0, "payload");
    const Packet p = c.peer->next();
    expectHeader(p, id, k.type, 8, k.code);
    const zuErrorMessage m = bodyError(p);
    EXPECT_EQ(m.code(), k.code);
    EXPECT_EQ(m.text(), k.text);
    if (k.t) {
      EXPECT_EQ(m.paramRef('t'), k.t);
    } else {
      EXPECT_EQ(m.paramCount(), 0u);
    }
  }
  // The refused response was deleted; the connection goes on.
  EXPECT_EQ(probe.deleteCount.load(), 1);
  EXPECT_EQ(probe.processCount.load(), 0);
  c.peer->ping();
  EXPECT_TRUE(c.handler->isRunning());
}

TEST_F(zuNetObjectHandlerTest, RequestAndReplyInSeveralChunksArriveWhole) {
  Probe probe;
  probe.limit = 70000;
  Connection c = connect();
  c.handler->setFactories(echoFactories(probe));
  c.handler->start();

  const std::string message = pattern(70000, 3);
  c.peer->send(12, kEcho, 3, 0, message.substr(0, 30000));
  c.peer->send(12, kEcho, 1, 0, message.substr(30000, 30000));
  c.peer->send(12, kEcho, 9, 0, message.substr(60000));

  std::string reply;
  const u8 flags[] = {0, 0, 8};
  const std::size_t sizes[] = {30000, 30000, 10000};
  for (int i = 0; i < 3; ++i) {
    const Packet p = c.peer->next();
    expectHeader(p, 12, kEcho, flags[i], 0);
    EXPECT_EQ(p.body.size(), sizes[i]);
    reply += p.body;
  }
  EXPECT_TRUE(reply == message);
  EXPECT_EQ(probe.processCount.load(), 1);
  EXPECT_TRUE(waitFor(probe.deleted));
}

TEST_F(zuNetObjectHandlerTest, RequestBetweenTwoHandlers) {
  Probe probe;
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  ASSERT_TRUE(zuConnectEndpointPair(*a, *b));
  TestHandler client(nullptr, std::move(a), true);
  TestHandler server(nullptr, std::move(b), true);
  server.setFactories(echoFactories(probe));
  server.start();
  client.start();

  for (u16 expectedId = 1; expectedId <= 2; ++expectedId) {
    const std::string payload = pattern(65000, expectedId);
    TestRequest& r = newRequest(payload, client);
    client.sendRequest(&r);
    ASSERT_TRUE(waitFor(r.done));
    EXPECT_EQ(r.registeredId.load(), expectedId);
    EXPECT_TRUE(r.isSucceeded());
    EXPECT_EQ(r.getId(), 0);
    EXPECT_TRUE(r.reply == payload);
    EXPECT_EQ(r.getSendCount(), 3u);
  }
  client.stop();
  client.wait();
  server.stop();
  server.wait();
  EXPECT_EQ(client.state(), zuThread::kStateEnded);
  EXPECT_EQ(client.lastError().code(), 0);
  EXPECT_EQ(probe.deleteCount.load(), 2);
}

TEST_F(zuNetObjectHandlerTest, ChunksAfterTheLastChunkAreDropped) {
  Probe probe;
  probe.hold = true;
  Connection c = connect();
  c.handler->setFactories(echoFactories(probe));
  c.handler->start();

  c.peer->send(5, kEcho, 11, 0, "abc");
  c.peer->send(5, kEcho, 9, 0, "xyz");
  c.peer->send(5, kEcho, 1, 0, "more");
  c.peer->ping();  // nothing came back for the extra chunks
  EXPECT_EQ(probe.processCount.load(), 1);
  EXPECT_EQ(probe.seen, "abc");
  ASSERT_NE(probe.held, nullptr);
  EXPECT_EQ(probe.held->getReceivedCount(), 1u);

  // Finishing the held work sends what the first message held.
  zuNetObject* held = probe.held;
  held->outgoing().putData(probe.seen.data(), static_cast<u32>(probe.seen.size()));
  held->prepareSend();
  EXPECT_TRUE(held->queueWithHandler());
  const Packet p = c.peer->next();
  expectHeader(p, 5, kEcho, 8, 0);
  EXPECT_EQ(p.body, "abc");
  EXPECT_TRUE(waitFor(probe.deleted));

  // A chunk for an id that has no response and no first-chunk flag.
  c.peer->send(6, kEcho, 9, 0, "stray");
  c.peer->ping();
  EXPECT_EQ(probe.processCount.load(), 1);
}

TEST_F(zuNetObjectHandlerTest, GatheringStopsAtTheResponsesLimit) {
  // A limit of 65536 bytes: chunks of 30000, 30000 and the rest.
  struct Case {
    u32 last;
    bool fits;
  } cases[] = {{5536, true}, {5537, false}};
  u16 id = 20;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.last);
    Probe probe;
    Connection c = connect();
    c.handler->setFactories(echoFactories(probe));
    c.handler->start();
    ++id;
    c.peer->send(id, kEcho, 3, 0, pattern(30000, 1));
    c.peer->send(id, kEcho, 1, 0, pattern(30000, 2));
    // Sent without the last flag: the limit, not the end, must end it.
    c.peer->send(id, kEcho, k.fits ? 9 : 1, 0, pattern(k.last, 3));
    if (k.fits) {
      std::size_t echoed = 0;
      while (echoed < 65536) echoed += c.peer->next().body.size();
      EXPECT_EQ(probe.processCount.load(), 1);
      continue;
    }
    const Packet p = c.peer->next();
    expectHeader(p, id, kEcho, 8, zuErrUnexpectedData);
    EXPECT_EQ(bodyError(p).text(), kzuUnexpectedDataText);
    EXPECT_TRUE(waitFor(probe.deleted));
    // Later chunks of that id are not kept and not answered.
    c.peer->send(id, kEcho, 9, 0, "tail");
    c.peer->ping();
    EXPECT_EQ(probe.processCount.load(), 0);
    EXPECT_EQ(probe.createCount.load(), 1);
  }
}

TEST_F(zuNetObjectHandlerTest, OpenExchangesPerConnectionAreBounded) {
  Probe probe;
  probe.hold = true;
  Connection c = connect();
  c.handler->setFactories(echoFactories(probe));
  c.handler->start();
  // Each held response stays open; one past the bound is refused uncreated.
  for (u16 id = 1; id <= zuNetObjectHandler::kMaxOpenExchanges; ++id)
    c.peer->send(id, kEcho, 11, 0, "x");
  c.peer->ping();
  EXPECT_EQ(probe.processCount.load(), 32);
  for (u16 id = 33; id <= 40; ++id) {
    c.peer->send(id, kEcho, 11, 0, "x");
    const Packet p = c.peer->next();
    expectHeader(p, id, kEcho, 8, zuErrUnexpectedData);
    EXPECT_EQ(bodyError(p).text(), kzuUnexpectedDataText);
  }
  EXPECT_EQ(probe.createCount.load(), 32);
  EXPECT_EQ(probe.deleteCount.load(), 0);
}

TEST_F(zuNetObjectHandlerTest, PeerThatStopsReadingLosesItsConnection) {
  Probe probe;
  probe.limit = 1u << 20;
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, 1000);
  ASSERT_TRUE(zuConnectEndpointPair(*a, *b));
  TestHandler handler(nullptr, std::move(a), false);
  handler.setInactivityLimit(500);
  handler.setFactories(echoFactories(probe));
  handler.start();

  // Requests whose echoes are never read, until the handler, stuck on a
  // full connection, stops taking more.
  zuNetPacketLayer peer(std::move(b), false);
  zuNetBuffer buffer(30006);
  const std::string body = pattern(30000, 7);
  u16 status = 0;
  for (u32 i = 0; i < 10000 && status == 0; ++i)
    status =
        tw::test::sendPacket(peer, buffer, static_cast<u16>(i % 30000 + 1), kEcho, 11, 0, body);
  // Either this end filled up too, or the handler gave up first.
  EXPECT_TRUE(status == zuErrTimeout || status == zuErrConnectionBroken) << status;
  ASSERT_TRUE(ended(handler));
  // Ended by its send's time limit, not by a silent peer.
  EXPECT_EQ(handler.lastError().code(), zuErrTimeout);
}

TEST_F(zuNetObjectHandlerTest, RepliesMadeWhileReceivingAreSentUnderTheStopEventAlone) {
  // Records the stop event that each send runs under: a wake from another
  // thread must not be able to cut a frame short.
  struct Recording : zuScriptedEndpoint {
    u16 sendRaw(const void* data, u32 count) override {
      stopEvents.push_back(stopEvent());
      return zuScriptedEndpoint::sendRaw(data, count);
    }
    std::vector<zuEvent*> stopEvents;
  };
  const auto packet = [](u16 id, u8 type, u8 flags, const std::string& body) {
    std::string p(1, '<');
    const u32 n = static_cast<u32>(6 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8) p += static_cast<char>((n >> shift) & 0xFF);
    p += static_cast<char>(id >> 8);
    p += static_cast<char>(id & 0xFF);
    p += static_cast<char>(type);
    p += static_cast<char>(flags);
    p += std::string(2, '\0') + body + ">";
    return p;
  };
  auto owned = std::make_unique<Recording>();
  Recording& endpoint = *owned;
  endpoint.addBytes(packet(0, 0, 9, ""));       // keep-alive to answer
  endpoint.addBytes(packet(3, 9, 11, "x"));     // unsupported type: error reply
  endpoint.addBytes(packet(4, kEcho, 13, ""));  // a cancel to acknowledge
  Probe probe;
  TestHandler handler(nullptr, std::move(owned), false);
  handler.setFactories(echoFactories(probe));
  handler.start();
  ASSERT_TRUE(ended(handler));
  ASSERT_GE(endpoint.stopEvents.size(), 2u);
  for (zuEvent* e : endpoint.stopEvents) EXPECT_EQ(e, handler.stopEvent());
}

TEST_F(zuNetObjectHandlerTest, KeepAlivesAreAnsweredOnlyWhenAsked) {
  Connection c = connect();
  c.handler->start();
  c.peer->send(0, 0, 8);  // not to be answered
  c.peer->send(0, 0, 9);
  c.peer->send(3, 9, 11);
  const Packet answer = c.peer->next();
  expectHeader(answer, 0, 0, 8, 0);
  EXPECT_TRUE(answer.body.empty());
  expectHeader(c.peer->next(), 3, 9, 8, zuErrUnsupportedType);
}

TEST_F(zuNetObjectHandlerTest, IdleHandlerSendsKeepAlivesAndEndsWhenNothingArrives) {
  Connection c = connect();
  c.handler->setKeepAliveInterval(20);
  c.handler->setInactivityLimit(500);
  c.handler->start();
  int keepAlives = 0;
  Packet p;
  u16 status = 0;
  while ((status = c.peer->receive(p)) == 0) {
    expectHeader(p, 0, 0, 8, 0);
    EXPECT_TRUE(p.body.empty());
    ++keepAlives;
  }
  EXPECT_EQ(status, zuErrConnectionBroken);
  EXPECT_GE(keepAlives, 2);
  ASSERT_TRUE(ended(*c.handler));
  c.handler->wait();
  EXPECT_EQ(c.handler->state(), zuThread::kStateEnded);
  const zuErrorMessage e = c.handler->lastError();
  EXPECT_EQ(e.code(), zuErrHandlerNotRunning);
  EXPECT_EQ(e.text(), "Unable to complete operation. Netobject handler not running.");
  EXPECT_FALSE(c.handler->isConnected());
}

TEST_F(zuNetObjectHandlerTest, BrokenConnectionEndsHandlerAndCancelsItsExchanges) {
  Connection c = connect();
  zuSingleEvent callbackRan;
  zuNetObjectHandler* calledWith = nullptr;
  c.handler->setEndCallback([&](zuNetObjectHandler* h) {
    calledWith = h;
    callbackRan.set();
  });
  c.handler->start();
  TestRequest& r = newRequest("question", *c.handler);
  c.handler->sendRequest(&r);
  expectHeader(c.peer->next(), 1, kEcho, 11, 0);
  c.peer->close();

  ASSERT_TRUE(ended(*c.handler));
  ASSERT_TRUE(waitFor(callbackRan));
  EXPECT_EQ(calledWith, c.handler.get());
  const zuErrorMessage e = c.handler->lastError();
  EXPECT_EQ(e.code(), zuErrConnectionBroken);
  EXPECT_EQ(e.text(), "Network connection was unexpectedly broken.");
  EXPECT_EQ(r.getState(), zuNetObject::kStateCancelled);
  EXPECT_EQ(r.getErrorCode(), zuErrConnectionBroken);
  EXPECT_EQ(r.errorMessage().text(), e.text());
  EXPECT_EQ(r.getId(), 0);
  c.handler->wait();
  EXPECT_EQ(c.handler->state(), zuThread::kStateEnded);
  EXPECT_THROW(c.handler->sendRequest(&newRequest("x", *c.handler)), zuException);
}

TEST_F(zuNetObjectHandlerTest, ConnectionLevelErrorEndsHandler) {
  zuErrorMessage sent(zuErrTooManyConnections, "Too many $n.", 'n', "connections");
  struct Case {
    std::string body;
    std::string text;
  } cases[] = {{"", ""}, {serialised(sent), "Too many $n."}};
  for (const Case& k : cases) {
    Connection c = connect();
    c.handler->start();
    c.peer->send(0, 5, 1, zuErrTooManyConnections, k.body);
    ASSERT_TRUE(ended(*c.handler));
    c.handler->wait();
    const zuErrorMessage e = c.handler->lastError();
    EXPECT_EQ(e.code(), zuErrTooManyConnections);
    EXPECT_EQ(e.text(), k.text);
    Packet p;
    EXPECT_EQ(c.peer->receive(p), zuErrConnectionBroken);
  }
}

TEST_F(zuNetObjectHandlerTest, RejectedConnectionGetsTooManyConnections) {
  Connection c = connect();
  c.handler->rejectConnection();
  const Packet p = c.peer->next();
  expectHeader(p, 0, 5, 1, zuErrTooManyConnections);
  EXPECT_TRUE(p.body.empty());
  Packet none;
  EXPECT_EQ(c.peer->receive(none), zuErrConnectionBroken);

  EXPECT_FALSE(c.handler->isConnected());
  TestRequest& r = newRequest("x", *c.handler);
  try {
    c.handler->sendRequest(&r);
    ADD_FAILURE() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrHandlerNotRunning);
  }
  EXPECT_EQ(r.getState(), zuNetObject::kStateCancelled);
}

TEST_F(zuNetObjectHandlerTest, CancelledRequestIsAnnouncedAndItsLateReplyDropped) {
  Connection c = connect();
  c.handler->start();
  TestRequest& r = newRequest("question", *c.handler);
  c.handler->sendRequest(&r);
  expectHeader(c.peer->next(), 1, kEcho, 11, 0);

  c.handler->cancelRequest(&r);
  const Packet cancel = c.peer->next();
  expectHeader(cancel, 1, kEcho, 13, 0);
  EXPECT_TRUE(cancel.body.empty());
  ASSERT_TRUE(waitFor(r.done));
  EXPECT_EQ(r.getState(), zuNetObject::kStateCancelled);
  EXPECT_EQ(r.getId(), 0);

  c.peer->send(1, kEcho, 8, 0, "late answer");
  c.peer->ping();
  EXPECT_EQ(r.reply, "");
  EXPECT_EQ(r.getReceivedCount(), 0u);

  TestRequest& never = newRequest("x", *c.handler);
  for (zuNetObject* o : {static_cast<zuNetObject*>(&r), static_cast<zuNetObject*>(&never),
                         static_cast<zuNetObject*>(nullptr)}) {
    try {
      c.handler->cancelRequest(o);
      ADD_FAILURE() << "no exception";
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), zuErrObjectNotRegistered);
      EXPECT_STREQ(e.what(), "Object not registered.");
    }
  }
}

TEST_F(zuNetObjectHandlerTest, PeerCancelsItsRequest) {
  Probe probe;
  probe.hold = true;
  Connection c = connect();
  c.handler->setFactories(echoFactories(probe));
  c.handler->start();
  c.peer->send(8, kEcho, 11, 0, "work");
  ASSERT_TRUE(waitFor(probe.processed));
  c.peer->send(8, kEcho, 13);
  const Packet ack = c.peer->next();
  expectHeader(ack, 8, kEcho, 12, 0);
  EXPECT_TRUE(ack.body.empty());
  EXPECT_TRUE(waitFor(probe.deleted));
}

TEST_F(zuNetObjectHandlerTest, FailingResponseSendsItsError) {
  Probe probe;
  Connection c = connect();
  c.handler->setFactories(echoFactories(probe));
  c.handler->start();

  const std::string internalAt =
      "An internal error occurred in \"$f\" line \"$l\".  Please notify Tarnwell Tech Support.";
  struct Case {
    const char* name;
    std::function<u16()> fail;
    u16 code;
    std::string text;
    const char* line;  // the "l" parameter, when there is one
  } cases[] = {
      {"returns a code", [] { return u16{1234}; }, 1234, "", nullptr},
      {"returns 772", [] { return u16{772}; }, 772, kzuUnexpectedDataText, nullptr},
      {"returns 261", [] { return u16{261}; }, 261, internalAt, "321"},
      {"overruns", []() -> u16 { throw std::out_of_range("zuNetReader::getData"); }, 772,
       kzuUnexpectedDataText, nullptr},
      {"runs out of memory", []() -> u16 { throw std::bad_alloc(); }, 259, kzuMemoryExhaustedText,
       nullptr},
      {"throws another exception", []() -> u16 { throw std::runtime_error("odd"); }, 261,
       internalAt, "286"},
      {"throws its own", []() -> u16 { throw zuException(1500, "Custom $x.", 'x', "y"); }, 1500,
       "Custom $x.", nullptr},
  };
  u16 id = 100;
  int deleted = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    probe.fail = k.fail;
    c.peer->send(++id, kEcho, 11, 0, "data");
    const Packet p = c.peer->next();
    expectHeader(p, id, kEcho, 8, k.code);
    const zuErrorMessage m = bodyError(p);
    EXPECT_EQ(m.code(), k.code);
    EXPECT_EQ(m.text(), k.text);
    if (k.line) {
      EXPECT_EQ(m.paramRef('f'), ".\\shared\\loam\\netobjects\\zuNetObjectHandler");
      EXPECT_EQ(m.paramRef('l'), k.line);
    }
    ASSERT_TRUE(tw::test::eventually([&] { return probe.deleteCount.load() == deleted + 1; }));
    ++deleted;
  }
  c.peer->ping();
}

TEST_F(zuNetObjectHandlerTest, ErrorsForOwnRequests) {
  Connection c = connect();
  c.handler->start();

  // The peer's response fails: the request takes over its error.
  TestRequest& failed = newRequest("q1", *c.handler);
  c.handler->sendRequest(&failed);
  expectHeader(c.peer->next(), 1, kEcho, 11, 0);
  c.peer->send(1, kEcho, 8, 1500, serialised(zuErrorMessage(1500, "Refused.")));
  ASSERT_TRUE(waitFor(failed.done));
  EXPECT_EQ(failed.getState(), zuNetObject::kStateFailed);
  EXPECT_EQ(failed.getErrorCode(), 1500);
  EXPECT_EQ(failed.errorMessage().text(), "Refused.");

  // Our handling of the reply's last chunk fails: the request fails and the
  // peer, whose exchange is over, hears nothing.
  TestRequest& bad = newRequest("q2", *c.handler);
  bad.result = 1600;
  c.handler->sendRequest(&bad);
  expectHeader(c.peer->next(), 2, kEcho, 11, 0);
  c.peer->send(2, kEcho, 8, 0, "reply");
  ASSERT_TRUE(waitFor(bad.done));
  EXPECT_EQ(bad.getState(), zuNetObject::kStateFailed);
  EXPECT_EQ(bad.getErrorCode(), 1600);
  c.peer->ping();
}

// A reply that begins while the request is still being sent must not file
// the request a second time: it would be sent on after its last chunk.
TEST_F(zuNetObjectHandlerTest, ReplyDuringSendingKeepsOneChunkSequence) {
  Connection c = connect();
  c.handler->start();
  const std::string payload = pattern(20 * 30000, 9);
  TestRequest& r = newRequest(payload, *c.handler);
  c.handler->sendRequest(&r);
  expectHeader(c.peer->next(), 1, kEcho, 3, 0);
  c.peer->send(1, kEcho, 0, 0, "part ");
  for (int i = 2; i <= 20; ++i) {
    SCOPED_TRACE(i);
    const Packet p = c.peer->next();
    expectHeader(p, 1, kEcho, i == 20 ? 9 : 1, 0);
    EXPECT_EQ(p.body.size(), 30000u);
  }
  c.peer->ping();
  c.peer->send(1, kEcho, 8, 0, "rest");
  ASSERT_TRUE(waitFor(r.done));
  EXPECT_TRUE(r.isSucceeded());
  EXPECT_EQ(r.reply, "part rest");
  EXPECT_EQ(r.getSendCount(), 20u);
}

TEST_F(zuNetObjectHandlerTest, IdsWrapAndSkipThoseInUse) {
  Connection c = connect();
  TestRequest& a = newRequest("a", *c.handler);
  TestRequest& b = newRequest("b", *c.handler);
  TestRequest& d = newRequest("d", *c.handler);
  c.handler->setNextId(65533);
  c.handler->sendRequest(&a);
  c.handler->sendRequest(&b);
  EXPECT_EQ(a.getId(), 65534);
  EXPECT_EQ(b.getId(), 1);
  c.handler->setNextId(65533);
  c.handler->sendRequest(&d);
  EXPECT_EQ(d.getId(), 2);
}

TEST_F(zuNetObjectHandlerTest, NoFreeIdIsAnInternalError) {
  Connection c = connect();
  // One object under every id fills the space as well as 65534 would.
  TestRequest& filler = newRequest("f", *c.handler);
  for (u32 i = 0; i < zuNetObjectHandler::kMaxId; ++i) c.handler->sendRequest(&filler);
  TestRequest& r = newRequest("r", *c.handler);
  try {
    c.handler->sendRequest(&r);
    ADD_FAILURE() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), 261);
    EXPECT_EQ(e.message().paramRef('f'), ".\\shared\\loam\\netobjects\\zuNetObjectHandler");
    EXPECT_EQ(e.message().paramRef('l'), "586");
  }
  EXPECT_EQ(r.getState(), zuNetObject::kStateCancelled);
  EXPECT_EQ(r.getId(), 0);
}

}  // namespace
