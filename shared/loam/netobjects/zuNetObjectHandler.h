#pragma once
// One connection of the netobject protocol, run on a thread of its own. It
// owns the packet layer over the connection's endpoint, registers the
// exchanges of both directions by message id, sends their data in chunks,
// hands incoming chunks to them, builds a response for each new incoming
// request from a table of factories keyed by type byte, answers failures with
// error messages, sends keep-alives and gives up on a silent peer.
//
// Other threads reach a handler only through sendRequest, cancelRequest and
// queueObject. The lock guards the two maps and the cancel and ready queues;
// the send queue and the waiting list belong to the handler's thread. The
// thread never holds the lock while it waits, while an object handles data,
// or while an object's completion runs (a response's completion may join a
// worker that is itself waiting for the lock in queueObject).
#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "loam/base/zuErrorMessage.h"
#include "loam/net/zuIPAddress.h"
#include "loam/net/zuNetEndpoint.h"
#include "loam/netobjects/zuGatherBudget.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetObject.h"
#include "loam/netobjects/zuNetObjectHandlerInterface.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuMemMutex.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"

class zuProgress;
class zuSecureTCPEndpoint;
struct zuConnectReply;

// Makes a new response for the request type byte it is given, or null.
using zuNetResponseFactory = std::function<std::unique_ptr<zuNetObject>(u8 type)>;
using zuNetResponseFactoryMap = std::map<u8, zuNetResponseFactory>;

class zuNetObjectHandler : public zuThread, public zuNetObjectHandlerInterface {
 public:
  using EndCallback = std::function<void(zuNetObjectHandler*)>;

  static constexpr u32 kChunkLimit = 30000;
  static constexpr u32 kPacketSize = kChunkLimit + 6;
  static constexpr u32 kKeepAliveInterval = 30000;
  static constexpr u32 kInactivityLimit = 240000;
  // Ids run 1 to kMaxId; 0 marks an unregistered object.
  static constexpr u32 kMaxId = 65534;
  // Responses open at once on one connection; the next request is refused
  // with 772.
  static constexpr u32 kMaxOpenExchanges = 32;
  // Response workers at once, on one connection and in the whole process.
  static constexpr u32 kMaxWorkersPerConnection = 4;
  static constexpr u32 kMaxWorkers = 16;
  // How long a connection past the limit waits for its admission.
  static constexpr u32 kAdmissionWaitMs = 15000;

  // Takes ownership of the endpoint. compress: compress outgoing packets.
  zuNetObjectHandler(zuThread* parent, std::unique_ptr<zuNetEndpoint> endpoint, bool compress);
  // Stops and joins the thread when it still runs.
  ~zuNetObjectHandler() override;

  void setName(const std::string& name);
  std::string name() const;
  // name ":" peer address "(" port ")".
  std::string connectionText() const override;
  const zuIPAddress& peerAddress() const { return peerAddress_; }

  // Set by the creator before the thread starts.
  void setFactories(const zuNetResponseFactoryMap& factories) { factories_ = factories; }
  const zuNetResponseFactoryMap& factories() const { return factories_; }
  // Run on the handler's thread when it ends; returns the previous one.
  EndCallback setEndCallback(EndCallback callback);
  void setKeepAliveInterval(u32 ms) { keepAliveInterval_ = ms; }
  // Also bounds each packet send: a peer that stops reading loses its
  // connection.
  void setInactivityLimit(u32 ms) {
    inactivityLimit_ = ms;
    packetLayer_.setSendTimeout(ms);
  }
  u32 keepAliveInterval() const { return keepAliveInterval_; }
  u32 inactivityLimit() const { return inactivityLimit_; }

  // For a handler that is not started (too many connections): a type-5
  // message with 1030, then the connection is closed.
  void rejectConnection();
  // Set before the start, for a connection accepted without its secure
  // handshake: the thread runs the server handshake first (under its own
  // stop event) and takes the compression it settles; a failed handshake
  // ends the thread quietly. With reject, the thread then only rejects the
  // connection (rejectConnection) and ends.
  void setHandshakeOnStart(bool reject);
  // Set before the start, with setHandshakeOnStart, for a connection that
  // came when every slot was taken: after its handshake the thread sets
  // wanted and waits (at most kAdmissionWaitMs) for admit. Refused, or not
  // admitted in time, it rejects the connection like rejectConnection.
  void setAdmissionAfterHandshake(zuSingleEvent* wanted);
  // Any thread: the creator's answer to a connection waiting for admission.
  // Only the first answer counts: false when the connection had settled
  // already (its wait ran out or it was stopped, so it is refused).
  bool admit(bool admitted);
  // Any thread. Still in the secure handshake (not ended).
  bool inHandshake() const;
  // Any thread. Handshake done, waiting for admit (not answered yet).
  bool awaitsAdmission() const;
  // Any thread. Milliseconds since the last packet other than a keep-alive
  // arrived (or since the handshake ended); 0 before the handshake has
  // ended, while a response worker runs, and once the thread ends.
  u64 idleMs() const;
  bool isConnected() const;

  // Any thread. Registers the request under a new id and queues it; 773
  // when not connected, 261 when every id is taken (the request is then in
  // state 5).
  virtual void sendRequest(zuNetObject* request);
  // Any thread. 774 when the request is null, ended or not registered here,
  // 773 when not connected.
  virtual void cancelRequest(zuNetObject* request);
  virtual bool isLoggedIn() const { return loggedIn_; }
  virtual void setLoggedIn(bool loggedIn) { loggedIn_ = loggedIn; }
  // Any thread. Ignores null, ended and unregistered objects.
  void queueObject(zuNetObject* object) override;
  // Any thread. Within both worker bounds above.
  bool acquireWorker() override;
  void releaseWorker() override;
  // Workers running now, on all connections.
  static u32 workerCount();
  // Bytes this connection holds for its unfinished exchanges.
  std::size_t gatheredBytes() const { return budget_.taken(); }

  // The message of a caught exception, put into error unless error already
  // has a zuException's code.
  static void exceptionToError(const std::exception& e, zuErrorMessage& error);
  // Gives a message that has no text of its own the standard text of its
  // code.
  static void fillDefaultText(zuErrorMessage& error);

 protected:
  void run() override;
  void onExit() override;
  void handleException(const std::exception& e) override;

  virtual void createResponse(u16 id, u8 type, zuNetObject*& object);
  virtual void processQueues();
  virtual void processWaiting();
  virtual void sendPending();
  virtual void receive(u32 wait);
  virtual void requeueObject(zuNetObject* object);
  virtual void cleanup();

  // Writes a header (and the error message, when given) into the packet
  // buffer and sends it; the request bit follows asRequest.
  void sendControl(bool asRequest, u16 id, u8 type, u16 error, const zuErrorMessage* message,
                   u8 flags);
  void sendKeepAlive() { sendControl(false, 0, 0, 0, nullptr, 8); }
  void setObjectState(zuNetObject* object, u32 state);

  std::map<u32, zuNetObject*> requests_;
  std::map<u32, zuNetObject*> responses_;
  std::deque<zuNetObject*> cancelQueue_;
  std::deque<zuNetObject*> readyQueue_;
  std::list<zuNetObject*> sendQueue_;
  std::list<zuNetObject*> waitingList_;
  zuNetPacketLayer packetLayer_;
  zuNetResponseFactoryMap factories_;
  mutable zuMemMutex lock_;
  zuSingleEvent wakeEvent_;
  u32 nextId_ = 0;
  bool loggedIn_ = false;

 private:
  // The list an object in this state is in, if any.
  std::list<zuNetObject*>* listOf(u32 state);
  void unlist(zuNetObject* object);
  void rebuildConnectionText();
  void handleIncoming(u32 length);
  // Charges a data chunk for the object to the budget; false when it would
  // pass this connection's bound or the process's.
  bool chargeChunk(zuNetObject* object, u32 length);
  // Gives back what the object's exchange was charged.
  void releaseCharge(zuNetObject* object);
  // The server handshake of a connection accepted without it; false when
  // it failed.
  bool runHandshake();

  std::string name_;
  zuIPAddress peerAddress_;
  u16 peerPort_ = 0;
  std::string connectionText_;
  zuNetBuffer packet_{kPacketSize};
  u32 keepAliveInterval_ = kKeepAliveInterval;
  u32 inactivityLimit_ = kInactivityLimit;
  EndCallback endCallback_;
  // What ends a wait for incoming packets: new work or a stop. Only that
  // wait uses it; sends run under the stop event alone, so a wake never
  // cuts a frame short.
  zuEvent* receiveStop_ = nullptr;
  std::atomic<u32> workers_{0};
  // The bytes gathered for this connection's exchanges.
  zuGatherBudget budget_;
  bool handshakeOnStart_ = false;
  bool rejectOnStart_ = false;
  // Where the connection is: read by the server's thread.
  enum Phase : u8 { kPhaseHandshake, kPhaseAdmission, kPhaseServing, kPhaseEnded };
  std::atomic<u8> phase_{kPhaseServing};
  zuSingleEvent* admissionWanted_ = nullptr;
  // 0 none yet, 1 admitted, 2 refused.
  std::atomic<u8> verdict_{0};
  // steady_clock nanoseconds of the last packet other than a keep-alive.
  std::atomic<i64> lastActivity_{0};
  void markActive();
  bool awaitAdmission();

 public:
  // ---- the client's side: opening a connection ----

  static constexpr u32 kConnectTimeout = 60000;

  // Opens a secure connection (compress: offer compression), starts a
  // handler on it (the main thread its parent) and runs the Connect exchange
  // into reply (may be null). With expectedProtocol not 0 the reply's
  // protocol value must equal it (775 otherwise). Failures throw zuException:
  // 515 "Unable to connect to the server "$s"." ($s serverText), 1030 when
  // the server refuses at its connection limit, 257 when stopEvent is set.
  // On every failure the handler is stopped, joined and deleted before the
  // exception leaves. progress (may be null) is advanced at each step.
  static std::unique_ptr<zuNetObjectHandler> connect(const zuIPAddress& address, u16 port,
                                                     const std::string& serverText,
                                                     zuEvent* stopEvent, u16 expectedProtocol,
                                                     zuProgress* progress, zuConnectReply* reply,
                                                     bool compress);
  // The same by host name; a failed lookup is 518 "Unable to locate the
  // server "$s".".
  static std::unique_ptr<zuNetObjectHandler> connectByName(const std::string& host, u16 port,
                                                           const std::string& serverText,
                                                           zuEvent* stopEvent, u16 expectedProtocol,
                                                           zuProgress* progress,
                                                           zuConnectReply* reply, bool compress);

 private:
  static std::unique_ptr<zuNetObjectHandler> runConnect(
      std::unique_ptr<zuSecureTCPEndpoint> endpoint, const std::string& serverText,
      zuEvent* stopEvent, u16 expectedProtocol, zuProgress* progress, zuConnectReply* reply);
};
