#include "loam/netobjects/zuThreadedNetResponse.h"

#include <new>

#include "loam/base/zuMessage.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/netobjects/zuNetObjectHandlerInterface.h"
#include "loam/netobjects/zuResponseThread.h"

zuThreadedNetResponse::zuThreadedNetResponse() = default;

zuThreadedNetResponse::~zuThreadedNetResponse() {
  stopWork();
  thread_.reset();
  reader_.reset();
}

void zuThreadedNetResponse::stopWork() {
  {
    std::lock_guard<std::mutex> hold(handoff_);
    ended_ = true;
  }
  filedChanged_.notify_all();
  if (thread_ && thread_->state() != zuThread::kStateEnded) {
    thread_->stop(0);
    thread_->wait();
  }
}

u16 zuThreadedNetResponse::receiveData(const u8* data, u32 length, bool last) {
  appendReceived(data, length);
  if (!last) return 0;
  // The handler leaves the response alone until the work ends.
  setSendState(kStateIdle);
  reader_ = std::make_unique<zuNetReader>(received_.data(), static_cast<u32>(received_.size()));
  {
    std::lock_guard<std::mutex> hold(handoff_);
    // Without a handler nobody files the response: the work may begin.
    filed_ = handler_ == nullptr;
    ended_ = false;
  }
  // Workers are bounded per connection and per process: a peer that sends
  // requests faster than they end must not multiply threads.
  if (handler_ != nullptr) {
    if (!handler_->acquireWorker()) {
      setError(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
      logMessage(4, zuMessage("no place for another worker."));
      return kzuCodeMemoryExhausted;
    }
    holdsWorker_ = true;
  }
  // Stored before the start: the work may ask for its stop event at once.
  thread_ = std::make_unique<zuResponseThread>(*this);
  try {
    thread_->start();
  } catch (...) {
    thread_.reset();
    releaseWorker();
    throw;
  }
  return 0;
}

void zuThreadedNetResponse::releaseWorker() {
  if (!holdsWorker_) return;
  holdsWorker_ = false;
  handler_->releaseWorker();
}

void zuThreadedNetResponse::setState(u32 state) {
  if (isEndState(state)) {
    {
      // Waits for a hand-off under way; none follows.
      std::lock_guard<std::mutex> hold(handoff_);
      ended_ = true;
    }
    filedChanged_.notify_all();
    // May delete the response.
    zuNetResponse::setState(state);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(handoff_);
    zuNetResponse::setState(state);
    filed_ = true;
  }
  filedChanged_.notify_all();
}

u16 zuThreadedNetResponse::run(zuNetReader&) { return 0; }

zuSingleEvent* zuThreadedNetResponse::getStopEvent() {
  return thread_ ? thread_->stopEvent() : nullptr;
}

bool zuThreadedNetResponse::isStopRequested() const {
  return thread_ && thread_->stopEvent()->isSet();
}

void zuThreadedNetResponse::runWork(zuResponseThread&) {
  {
    std::unique_lock<std::mutex> hold(handoff_);
    filedChanged_.wait(hold, [this] { return filed_ || ended_; });
    if (ended_) return;
  }
  const u16 result = run(*reader_);
  if (result != 0 && result != getErrorCode()) setErrorCode(result);
}

void zuThreadedNetResponse::onThreadExit(zuResponseThread& thread) {
  // Before the reply goes: a peer that waits for it may send the next
  // request at once.
  releaseWorker();
  std::lock_guard<std::mutex> hold(handoff_);
  if (ended_) return;
  const zuErrorMessage escaped = thread.lastError();
  if (getErrorCode() == 0 && escaped.code() != 0) {
    errorMessage() = escaped;
    logError(escaped);
  }
  try {
    prepareSend();
  } catch (const std::bad_alloc&) {
    // The reply could not be built whole: the peer gets the failure instead.
    if (getErrorCode() == 0) {
      setError(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
      logError(errorMessage());
    }
  }
  setSendState(kStateQueued);
  queueWithHandler();
}
