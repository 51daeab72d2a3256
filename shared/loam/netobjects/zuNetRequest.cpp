#include "loam/netobjects/zuNetRequest.h"

#include "loam/base/zuException.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuThread.h"

zuNetRequest::zuNetRequest() = default;

zuNetRequest::~zuNetRequest() = default;

bool zuNetRequest::isRequest() const { return true; }

void zuNetRequest::setState(u32 state) {
  {
    std::lock_guard<std::mutex> hold(completionLock_);
    state_ = state;
  }
  if (!isEndState(state)) return;
  onFinished();
  // Read before the event is set: a waiter may destroy the request then.
  const CompletionCallback callback = callback_;
  {
    // Set under the lock, which wait takes before it returns, so the lock
    // is released before the waiter can let the request go.
    std::lock_guard<std::mutex> hold(completionLock_);
    if (completion_) completion_->set();
  }
  if (callback) callback(this);
}

u16 zuNetRequest::receiveData(const u8* data, u32 length, bool last) {
  const u16 result = zuNetObject::receiveData(data, length, last);
  if (last && result == 0 && getErrorCode() == 0) setSendState(kStateDone);
  return result;
}

u32 zuNetRequest::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
  if (last) setSendState(kStateIdle);
  return n;
}

void zuNetRequest::start(zuNetObjectHandler* handler) {
  setHandler(handler);
  requestHandler_ = handler;
  // A restarted request begins clean: nothing of its last reply or error,
  // and no end state that a wait would take for this run's end.
  errorMessage().clear();
  resetCounts();
  {
    std::lock_guard<std::mutex> hold(completionLock_);
    state_ = kStateIdle;
    if (completion_ && completion_->isSet()) completion_->reset();
  }
  prepareSend();
  if (handler == nullptr) {
    setState(kStateCancelled);
    throw zuException(zuErrHandlerNotRunning, kzuHandlerNotRunningText);
  }
  handler->sendRequest(this);
}

void zuNetRequest::cancel() {
  if (requestHandler_ == nullptr)
    throw zuException(zuErrObjectNotRegistered, kzuObjectNotRegisteredText);
  requestHandler_->cancelRequest(this);
}

zuSingleEvent* zuNetRequest::completionEvent() {
  std::lock_guard<std::mutex> hold(completionLock_);
  if (!completion_) {
    completion_ = std::make_unique<zuSingleEvent>();
    if (isEndState(state_)) completion_->set();
  }
  return completion_.get();
}

bool zuNetRequest::wait(zuEvent* stopEvent) {
  zuSingleEvent* done = completionEvent();
  if (stopEvent == nullptr) {
    zuThread::waitForObjects(0xFFFFFFFF, done);
  } else {
    zuMultiEvent events(done, stopEvent);
    zuThread::waitForObjects(0xFFFFFFFF, &events);
  }
  std::lock_guard<std::mutex> hold(completionLock_);
  return isEndState(state_);
}
