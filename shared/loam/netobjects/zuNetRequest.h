#pragma once
// The client side of one netobject exchange: the client code creates it,
// writes its payload, starts it on a connection handler and waits for its
// end; the handler's thread sends it, hands it the reply and ends it.
//
// A request belongs to its creator, never to the handler, and must outlive
// its exchange (the handler touches it until it ends, and when the handler
// itself ends). start may be called again once the request has ended.
#include <memory>
#include <mutex>

#include "loam/netobjects/zuNetObject.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuSingleEvent.h"

class zuEvent;
class zuNetObjectHandler;
class zuProgress;

class zuNetRequest : public zuNetObject {
 public:
  zuNetRequest();
  ~zuNetRequest() override;

  bool isRequest() const override;
  // Stores the state; on an end state runs onFinished, sets the completion
  // event when it exists, then the completion callback.
  void setState(u32 state) override;
  // On the last chunk of the reply processed without error: done (3).
  u16 receiveData(const u8* data, u32 length, bool last) override;
  // After the last chunk: wait for the reply (0).
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  // Clears what an earlier run left (reply data, error, state), makes the
  // writer's content the outgoing data and hands the request to the handler
  // (773 when it is not connected; the request is then in state 5).
  virtual void start(zuNetObjectHandler* handler);
  // 774 when the request is not registered with a handler.
  virtual void cancel();

  // Created on first use; set at once when the request has already ended.
  zuSingleEvent* completionEvent();
  // Waits without a time limit for the end, or until stopEvent (when not
  // null) is set; true when the request is in an end state. Once it has
  // returned true the handler no longer touches the request (unless a
  // completion callback is set), so the request may be destroyed; a caller
  // that waits on completionEvent itself calls wait afterwards for that.
  bool wait(zuEvent* stopEvent = nullptr);

  void setProgress(zuProgress* progress) { progress_ = progress; }
  zuProgress* progress() const { return progress_; }
  zuNetObjectHandler* requestHandler() const { return requestHandler_; }

 protected:
  // Streaming replies are not gathered; these types raise the bound to a
  // file below 4 GiB and a small head.
  static constexpr std::size_t kStreamingLimit = (std::size_t{1} << 32) + 8192;

  zuProgress* progress_ = nullptr;

 private:
  // Guards the event's creation against the handler's thread ending the
  // request meanwhile.
  std::mutex completionLock_;
  std::unique_ptr<zuSingleEvent> completion_;
  zuNetObjectHandler* requestHandler_ = nullptr;
};
