#pragma once
// One exchange of the netobject protocol, as either end holds it: a request
// or the response built for it. The connection handler registers it under a
// message id, files it by its send state, cuts its outgoing data into chunks
// and hands it the incoming chunks; the object only produces and consumes
// bytes.
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "loam/base/zuByteBlock.h"
#include "loam/base/zuErrorMessage.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/platform/zuTypes.h"

class zuNetObjectHandlerInterface;

class zuNetObject {
 public:
  // States; 3, 5 and 6 are end states. Send states use the same numbers.
  static constexpr u32 kStateIdle = 0;  // new, or waiting for the peer
  static constexpr u32 kStateQueued = 1;
  static constexpr u32 kStateWaiting = 2;
  static constexpr u32 kStateDone = 3;
  static constexpr u32 kStateCancelling = 4;
  static constexpr u32 kStateCancelled = 5;
  static constexpr u32 kStateFailed = 6;

  // Run when the object reaches an end state; may delete the object.
  using CompletionCallback = void (*)(zuNetObject*);

  zuNetObject();
  zuNetObject(const zuNetObject&) = delete;
  zuNetObject& operator=(const zuNetObject&) = delete;
  virtual ~zuNetObject();

  virtual bool isSucceeded() const;
  virtual u8 getType() const = 0;
  virtual const char* getTypeName() const;
  virtual const char* getName() const;
  // Whether a response of this type is served only to a logged-in peer.
  virtual bool requiresAuthority() const;
  virtual bool isRequest() const = 0;
  virtual void setHandler(zuNetObjectHandlerInterface* handler);
  // Stores the state; on an end state runs onFinished and then the
  // completion callback, after which the object may be gone.
  virtual void setState(u32 state);
  virtual void setSendState(u32 sendState);
  virtual u16 getId() const;
  virtual void setId(u16 id);
  virtual void onFinished();
  // Milliseconds until the object wants to leave the handler's waiting list.
  virtual u32 timeToNextAction();
  // One incoming chunk (the received chunk count already counts it). The
  // message is processed when its last chunk comes: straight from the chunk
  // when it is the only one, otherwise from the bytes gathered.
  virtual u16 receiveData(const u8* data, u32 length, bool last);
  virtual u16 processData(zuNetReader& reader, u32 length);
  // Copies the next outgoing bytes, at most maximum; last is set when none
  // remain, error is the object's error code.
  virtual u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last);
  // The outgoing writer's content becomes the data to send, send state 1;
  // std::bad_alloc when the writer is not valid.
  virtual void prepareSend();

  // The most data bytes the handler hands this object in one exchange. A
  // peer picks how many chunks it sends, so without this bound one exchange
  // could make the object gather gigabytes. Objects that stream what they
  // receive instead of gathering it may raise it.
  static constexpr std::size_t kDefaultMaxGatheredBytes = 65536;
  virtual std::size_t maxGatheredBytes() const;
  // Whether the object keeps the chunks it is handed until its exchange
  // ends: what it keeps counts against its handler's gathering budget.
  // Objects that write each chunk out as it comes return false.
  virtual bool keepsChunks() const { return true; }
  // Sets the error the exchange ends with when a chunk would take it past
  // maxGatheredBytes: 772 with the unexpected-data text.
  virtual void setGatheringLimitError();

  // The handler's entry for an incoming data chunk: counts it and calls
  // receiveData. Once the message's last chunk has been delivered, further
  // chunks never reach the object (a worker may be reading the received
  // data): they are dropped and logged at level 4, with dropped set, and 0
  // is returned.
  u16 deliverChunk(const u8* data, u32 length, bool last, bool& dropped);
  // Starts a new exchange: chunk counts 0, nothing received.
  void resetCounts();
  bool lastChunkDelivered() const { return lastDelivered_; }
  // Data bytes delivered in this exchange so far.
  std::size_t deliveredBytes() const { return deliveredBytes_; }
  // Whether a chunk of length more bytes stays within maxGatheredBytes.
  bool fitsGathering(u32 length) const {
    const std::size_t limit = maxGatheredBytes();
    return deliveredBytes_ <= limit && length <= limit - deliveredBytes_;
  }

  static bool isEndState(u32 state) {
    return state == kStateDone || state == kStateCancelled || state == kStateFailed;
  }
  // Other threads read it (cancelRequest, queueObject, a waiting client).
  u32 getState() const { return state_.load(std::memory_order_acquire); }
  u32 getSendState() const { return sendState_; }
  zuNetObjectHandlerInterface* getHandler() const { return handler_; }
  u32 getReceivedCount() const { return receivedCount_; }
  u32 getSendCount() const { return sendCount_; }
  void incrementSendCount() { ++sendCount_; }
  u32 getOutgoingRemaining() const { return outgoingRemaining_; }
  zuDynamicNetWriter& outgoing() { return outgoing_; }
  // Gathered chunks: pages of their own once large, so that they go back to
  // the system with the exchange.
  const zuByteBlock& receivedData() const { return received_; }

  // What the handler has charged to its gathering budget for this exchange;
  // it gives it back when the exchange ends.
  void addGatherCharge(std::size_t bytes) { gatherCharge_ += bytes; }
  std::size_t takeGatherCharge() {
    const std::size_t bytes = gatherCharge_;
    gatherCharge_ = 0;
    return bytes;
  }

  // The error code is the error message's code.
  u16 getErrorCode() const { return error_.code(); }
  void setErrorCode(u16 code) { error_.setCode(code); }
  zuErrorMessage& errorMessage() { return error_; }
  const zuErrorMessage& errorMessage() const { return error_; }
  // A new error message: the code, the literal text and at most one
  // parameter.
  void setError(u16 code, const std::string& text);
  void setError(u16 code, const std::string& text, char key, const std::string& value);
  // 772 with the unexpected-data text.
  void setUnexpectedDataError();
  // 1538 "Error opening file "$f" error: $e.".
  void setFileOpenError(const std::string& fileName, const std::string& errorText);

  // Returns the previous callback.
  CompletionCallback setCompletionCallback(CompletionCallback callback);
  // Makes the object delete itself on reaching an end state.
  CompletionCallback setDeleteWhenDone();
  // Passes the object to its handler's queue; false without a handler.
  bool queueWithHandler();
  // The handler's connection text; empty without a handler.
  std::string peerAddressText() const;

 protected:
  // Appends a chunk to the received data.
  void appendReceived(const u8* data, u32 length);

  zuNetObjectHandlerInterface* handler_ = nullptr;
  zuByteBlock received_;
  zuDynamicNetWriter outgoing_;
  u16 id_ = 0;
  std::atomic<u32> state_{kStateIdle};
  u32 sendState_ = kStateIdle;
  CompletionCallback callback_ = nullptr;
  u32 receivedCount_ = 0;
  u32 sendCount_ = 0;
  u32 outgoingRemaining_ = 0;
  // Offset into the outgoing writer rather than a pointer, so it stays
  // right if the writer's storage moves.
  u32 outgoingOffset_ = 0;
  zuErrorMessage error_;

 private:
  bool lastDelivered_ = false;
  std::size_t deliveredBytes_ = 0;
  std::size_t gatherCharge_ = 0;
};
