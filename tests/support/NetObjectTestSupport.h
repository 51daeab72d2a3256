#pragma once
// Client-side pieces for tests that talk to net object responses: a request
// that keeps its reply, a pair of handlers over a loopback connection, a
// secure client, and a capture of level-0 log lines. Header-only, so each
// test program links the libraries it already uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"
#include "support/TestSupport.h"

namespace tw::test {

inline constexpr u32 kNetWait = static_cast<u32>(kFailBound.count());

// The client's side of one exchange: sends its payload, keeps the reply.
class ReplyRequest : public zuNetObject {
 public:
  explicit ReplyRequest(u8 type, const std::string& payload = std::string()) : type_(type) {
    outgoing().putData(payload.data(), static_cast<u32>(payload.size()));
    prepareSend();
  }
  u8 getType() const override { return type_; }
  bool isRequest() const override { return true; }
  // Tests check replies larger than the default bound.
  std::size_t maxGatheredBytes() const override { return 1u << 20; }
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

 private:
  u8 type_;
};

// One packet as a peer writes it: the 6-byte message header, then body;
// the layer's status.
inline u16 sendPacket(zuNetPacketLayer& layer, zuNetBuffer& buffer, u16 id, u8 type, u8 flags,
                      u16 error, const std::string& body) {
  zuNetMessageHeader header;
  header.id = id;
  header.type = type;
  header.flags = flags;
  header.error = error;
  buffer.ensureCapacity(static_cast<u32>(6 + body.size()));
  header.write(buffer.payload());
  std::copy(body.begin(), body.end(), buffer.payload() + 6);
  return layer.send(buffer, static_cast<u32>(6 + body.size()));
}

// Hands the request to the handler that carries it.
inline void sendOn(zuNetObjectHandler& handler, zuNetObject& request) {
  request.setHandler(&handler);
  handler.sendRequest(&request);
}

// Two handlers, not yet started, over a connected loopback pair; both empty
// when the pair could not be connected.
struct HandlerPair {
  std::unique_ptr<zuNetObjectHandler> client;
  std::unique_ptr<zuNetObjectHandler> server;
};

inline HandlerPair connectHandlerPair() {
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kNetWait);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kNetWait);
  if (!zuConnectEndpointPair(*a, *b)) return {};
  HandlerPair pair;
  pair.client = std::make_unique<zuNetObjectHandler>(nullptr, std::move(a), false);
  pair.server = std::make_unique<zuNetObjectHandler>(nullptr, std::move(b), false);
  return pair;
}

// The same over a secure connection on loopback (the handshake done, both
// sides compressing when they agreed to).
inline HandlerPair connectSecureHandlerPair() {
  zuSecureTCPEndpoint listener(nullptr, kNetWait, true);
  if (listener.listen(0, zuIPAddress("127.0.0.1")) != 0) return {};
  std::unique_ptr<zuNetEndpoint> accepted;
  std::thread accepting([&] { accepted = listener.accept(); });
  auto client = std::make_unique<zuSecureTCPEndpoint>(nullptr, kNetWait, true);
  const u16 status = client->connect(zuIPAddress("127.0.0.1"), listener.localPort());
  accepting.join();
  if (status != 0 || !accepted) return {};
  const bool compress = client->compressionAgreed();
  HandlerPair pair;
  pair.client = std::make_unique<zuNetObjectHandler>(nullptr, std::move(client), compress);
  pair.server = std::make_unique<zuNetObjectHandler>(nullptr, std::move(accepted), compress);
  return pair;
}

// A client handler over a secure connection to a server.
class SecureClient {
 public:
  SecureClient(const zuIPAddress& at, u16 port) {
    auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, kNetWait, true);
    status = endpoint->connect(at, port);
    const bool compress = endpoint->compressionAgreed();
    handler = std::make_unique<zuNetObjectHandler>(nullptr, std::move(endpoint), compress);
    if (status == 0) handler->start();
  }
  ~SecureClient() {
    handler->stop();
    handler->wait();
  }
  SecureClient(const SecureClient&) = delete;
  SecureClient& operator=(const SecureClient&) = delete;

  // Sends and waits; the request's state, error code and reply tell the rest.
  ReplyRequest& ask(u8 type, const std::string& payload) {
    ReplyRequest& r = requests_.emplace_back(type, payload);
    sendOn(*handler, r);
    EXPECT_TRUE(!zuThread::waitForObjects(kNetWait, &r.done));
    return r;
  }

  u16 status = 0;
  // Requests outlive the handler, which touches them as it ends.
  std::list<ReplyRequest> requests_;
  std::unique_ptr<zuNetObjectHandler> handler;
};

// Level-0 log lines; install capture with zuLog::addListener.
class ErrorLines {
 public:
  static void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.clear();
  }
  static bool capture(u32 level, const char* text) {
    if (level != 0) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.emplace_back(text);
    return true;
  }
  static std::vector<std::string> lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }

 private:
  static inline std::mutex mutex_;
  static inline std::vector<std::string> lines_;
};

}  // namespace tw::test
