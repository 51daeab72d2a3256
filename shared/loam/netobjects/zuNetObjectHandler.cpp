#include "loam/netobjects/zuNetObjectHandler.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuStopEventSwap.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuStMutex.h"
// For connect and connectByName.
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/netobjects/zuNetReqConnect.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuProgress.h"

namespace {

// How this file names itself in its internal errors, and the stable "lines"
// of the three places that raise one.
constexpr const char* kSourceFile = ".\\shared\\loam\\netobjects\\zuNetObjectHandler";
constexpr const char* kLineException = "286";
constexpr const char* kLineDefaultText = "321";
constexpr const char* kLineIdsExhausted = "586";

constexpr const char* kHandlerNotRunningText =
    "Unable to complete operation. Netobject handler not running.";
constexpr const char* kObjectNotRegisteredText = "Object not registered.";
constexpr const char* kNetworkErrorText = "Network error \"$e\" occurred.";
constexpr const char* kConnectionBrokenText = "Network connection was unexpectedly broken.";
constexpr const char* kUnsupportedTypeText =
    "Request of type \"$t\" is not supported. The server and the client might be incompatible.";
constexpr const char* kInvalidAuthorityText = "Invalid authority for user \"$u\".";

zuErrorMessage internalError(const char* line) {
  return zuErrorMessage(kzuCodeInternalError, kzuInternalErrorAtText, 'f', kSourceFile, 'l', line);
}

bool isQuiet(u16 status) { return status == 0 || status == zuErrStopped; }

void eraseAll(std::deque<zuNetObject*>& queue, zuNetObject* object) {
  queue.erase(std::remove(queue.begin(), queue.end(), object), queue.end());
}

}  // namespace

zuNetObjectHandler::zuNetObjectHandler(zuThread* parent, std::unique_ptr<zuNetEndpoint> endpoint,
                                       bool compress)
    : zuThread(parent), packetLayer_(std::move(endpoint), compress) {
  packetLayer_.setSendTimeout(inactivityLimit_);
  packet_.chargeAbove(zuNetPacketLayer::kUnchargedSize);
  if (zuNetEndpoint* e = packetLayer_.endpoint()) {
    peerAddress_ = e->peerAddress();
    peerPort_ = e->peerPort();
  }
  rebuildConnectionText();
}

zuNetObjectHandler::~zuNetObjectHandler() {
  // run must not outlive the members it uses.
  if (isRunning()) stop();
  wait();
}

void zuNetObjectHandler::setName(const std::string& name) {
  zuStMutex hold(lock_);
  name_ = name;
  rebuildConnectionText();
}

std::string zuNetObjectHandler::name() const {
  zuStMutex hold(lock_);
  return name_;
}

std::string zuNetObjectHandler::connectionText() const {
  zuStMutex hold(lock_);
  return connectionText_;
}

void zuNetObjectHandler::rebuildConnectionText() {
  connectionText_ =
      name_ + ":" + peerAddress_.toString() + "(" + std::to_string(u32{peerPort_}) + ")";
}

zuNetObjectHandler::EndCallback zuNetObjectHandler::setEndCallback(EndCallback callback) {
  EndCallback previous = std::move(endCallback_);
  endCallback_ = std::move(callback);
  return previous;
}

bool zuNetObjectHandler::isConnected() const {
  const zuNetEndpoint* e = packetLayer_.endpoint();
  return e != nullptr && e->isOpen();
}

void zuNetObjectHandler::rejectConnection() {
  if (isConnected()) {
    try {
      sendControl(true, 0, zuNOT_ConnectionError, zuErrTooManyConnections, nullptr, 0);
    } catch (const zuException&) {
      // The connection is dropped either way.
    }
  }
  packetLayer_.close();
}

void zuNetObjectHandler::setHandshakeOnStart(bool reject) {
  handshakeOnStart_ = true;
  rejectOnStart_ = reject;
  phase_ = kPhaseHandshake;
}

void zuNetObjectHandler::setAdmissionAfterHandshake(zuSingleEvent* wanted) {
  admissionWanted_ = wanted;
}

bool zuNetObjectHandler::admit(bool admitted) {
  // Only the first answer counts (the wait may have run out meanwhile).
  u8 none = 0;
  if (!verdict_.compare_exchange_strong(none, admitted ? 1 : 2)) return false;
  wakeEvent_.set();
  return true;
}

bool zuNetObjectHandler::inHandshake() const {
  return phase_ == kPhaseHandshake && state() != kStateEnded;
}

bool zuNetObjectHandler::awaitsAdmission() const {
  return phase_ == kPhaseAdmission && verdict_ == 0 && state() != kStateEnded;
}

void zuNetObjectHandler::markActive() {
  lastActivity_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

u64 zuNetObjectHandler::idleMs() const {
  if (phase_ != kPhaseServing || workers_ != 0 || state() == kStateEnded) return 0;
  const std::chrono::steady_clock::duration since =
      std::chrono::steady_clock::now().time_since_epoch() -
      std::chrono::steady_clock::duration(lastActivity_.load());
  return static_cast<u64>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool zuNetObjectHandler::awaitAdmission() {
  phase_ = kPhaseAdmission;
  admissionWanted_->set();
  zuMultiEvent events(&wakeEvent_, stopEvent());
  // A time-out only bounds a creator that never answers; a stop or the
  // time-out settles the answer as a refusal, so no later admit counts.
  (void)zuThread::waitForObjects(kAdmissionWaitMs, &events);
  u8 none = 0;
  (void)verdict_.compare_exchange_strong(none, 2);
  if (verdict_ == 1) {
    markActive();
    phase_ = kPhaseServing;
    return true;
  }
  phase_ = kPhaseEnded;
  return false;
}

bool zuNetObjectHandler::runHandshake() {
  zuNetEndpoint* const endpoint = packetLayer_.endpoint();
  if (endpoint == nullptr) return false;
  u16 status = 0;
  {
    // A stop of this thread ends a handshake that is still waiting.
    zuStopEventSwap swap(endpoint, stopEvent(), stopEvent());
    status = endpoint->checkKeysAndHandshake();
  }
  if (status != 0) {
    phase_ = kPhaseEnded;
    zuLog::logf(4, "%s: the secure handshake failed with %u.", connectionText().c_str(),
                u32{status});
    return false;
  }
  if (const auto* secure = dynamic_cast<const zuSecureTCPEndpoint*>(endpoint))
    packetLayer_.setCompress(secure->compressionAgreed());
  markActive();
  if (admissionWanted_ == nullptr) phase_ = kPhaseServing;
  return true;
}

// ---- calls from any thread ----

void zuNetObjectHandler::sendRequest(zuNetObject* request) {
  zuErrorMessage refusal;
  {
    zuStMutex hold(lock_);
    if (!isConnected()) {
      refusal = zuErrorMessage(zuErrHandlerNotRunning, kHandlerNotRunningText);
    } else {
      u32 id = 0;
      for (u32 tried = 0; tried < kMaxId; ++tried) {
        nextId_ = nextId_ >= kMaxId ? 1 : nextId_ + 1;
        if (requests_.find(nextId_) == requests_.end()) {
          id = nextId_;
          break;
        }
      }
      if (id != 0) {
        requests_[id] = request;
        request->setId(static_cast<u16>(id));
        request->resetCounts();
        readyQueue_.push_back(request);
        wakeEvent_.set();
        return;
      }
      refusal = internalError(kLineIdsExhausted);
    }
  }
  // Without the lock: the request's completion runs.
  request->setState(zuNetObject::kStateCancelled);
  throw zuException(refusal);
}

void zuNetObjectHandler::cancelRequest(zuNetObject* request) {
  if (request == nullptr || zuNetObject::isEndState(request->getState()))
    throw zuException(zuErrObjectNotRegistered, kObjectNotRegisteredText);
  zuStMutex hold(lock_);
  auto it = requests_.find(request->getId());
  if (it == requests_.end() || it->second != request)
    throw zuException(zuErrObjectNotRegistered, kObjectNotRegisteredText);
  if (!isConnected()) throw zuException(zuErrHandlerNotRunning, kHandlerNotRunningText);
  cancelQueue_.push_back(request);
  wakeEvent_.set();
}

void zuNetObjectHandler::queueObject(zuNetObject* object) {
  if (object == nullptr || zuNetObject::isEndState(object->getState())) return;
  zuStMutex hold(lock_);
  auto& map = object->isRequest() ? requests_ : responses_;
  auto it = map.find(object->getId());
  if (it == map.end() || it->second != object) return;
  readyQueue_.push_back(object);
  wakeEvent_.set();
}

namespace {

std::atomic<u32> g_workers{0};

// One more than the count, unless that would pass limit.
bool takeOne(std::atomic<u32>& count, u32 limit) {
  u32 now = count.load(std::memory_order_relaxed);
  do {
    if (now >= limit) return false;
  } while (!count.compare_exchange_weak(now, now + 1, std::memory_order_acq_rel));
  return true;
}

}  // namespace

bool zuNetObjectHandler::acquireWorker() {
  if (!takeOne(workers_, kMaxWorkersPerConnection)) return false;
  if (takeOne(g_workers, kMaxWorkers)) return true;
  workers_.fetch_sub(1, std::memory_order_acq_rel);
  return false;
}

void zuNetObjectHandler::releaseWorker() {
  workers_.fetch_sub(1, std::memory_order_acq_rel);
  g_workers.fetch_sub(1, std::memory_order_acq_rel);
}

u32 zuNetObjectHandler::workerCount() { return g_workers.load(std::memory_order_acquire); }

// ---- errors ----

void zuNetObjectHandler::exceptionToError(const std::exception& e, zuErrorMessage& error) {
  if (const auto* z = dynamic_cast<const zuException*>(&e)) {
    if (error.code() != z->code()) error = z->message();
  } else if (dynamic_cast<const std::out_of_range*>(&e)) {
    error = zuErrorMessage(zuErrUnexpectedData, kzuUnexpectedDataText);
  } else if (dynamic_cast<const std::bad_alloc*>(&e)) {
    error = zuErrorMessage(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
  } else {
    error = internalError(kLineException);
  }
}

void zuNetObjectHandler::fillDefaultText(zuErrorMessage& error) {
  if (error.id() != zuErrorMessage::kClearedId) return;
  switch (error.code()) {
    case kzuCodeMemoryExhausted:
      error = zuErrorMessage(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
      break;
    case kzuCodeInternalError:
    case 264: {
      const u16 code = error.code();
      error = internalError(kLineDefaultText);
      error.setCode(code);
      break;
    }
    case zuErrUnexpectedData:
      error = zuErrorMessage(zuErrUnexpectedData, kzuUnexpectedDataText);
      break;
    default:
      break;
  }
}

void zuNetObjectHandler::handleException(const std::exception& e) {
  zuErrorMessage error;
  error.clear();
  exceptionToError(e, error);
  setLastError(error);
}

// ---- the thread ----

void zuNetObjectHandler::run() {
  if (handshakeOnStart_ && !runHandshake()) return;
  if (admissionWanted_ != nullptr && !awaitAdmission()) {
    if (!stopEvent()->isSet()) rejectConnection();
    return;
  }
  markActive();
  if (rejectOnStart_) {
    rejectConnection();
    return;
  }
  zuMultiEvent events(&wakeEvent_, stopEvent());
  zuSingleEvent* const stop = stopEvent();
  receiveStop_ = &events;
  struct Forget {
    zuEvent*& slot;
    ~Forget() { slot = nullptr; }
  } forget{receiveStop_};
  if (zuNetEndpoint* endpoint = packetLayer_.endpoint()) endpoint->setStopEvent(stop);
  while (!stop->isSet()) {
    processQueues();
    if (stop->isSet()) break;
    processWaiting();
    if (stop->isSet()) break;
    sendPending();
    if (stop->isSet()) break;

    if (packetLayer_.sendTimer().elapsed() >= keepAliveInterval_) sendKeepAlive();

    u32 wait = 0;
    {
      zuStMutex hold(lock_);
      wakeEvent_.reset();
      if (cancelQueue_.empty() && readyQueue_.empty() && sendQueue_.empty()) {
        const u32 sent = packetLayer_.sendTimer().elapsed();
        wait = sent >= keepAliveInterval_ ? 0 : keepAliveInterval_ - sent;
        if (!waitingList_.empty()) wait = std::min(wait, waitingList_.front()->timeToNextAction());
      }
    }
    receive(wait);
    if (packetLayer_.receiveTimer().elapsed() >= inactivityLimit_)
      throw zuException(zuErrHandlerNotRunning, kHandlerNotRunningText);
  }
}

void zuNetObjectHandler::onExit() {
  cleanup();
  if (isConnected()) packetLayer_.close();
  if (endCallback_) endCallback_(this);
}

void zuNetObjectHandler::cleanup() {
  std::map<u32, zuNetObject*> requests;
  std::map<u32, zuNetObject*> responses;
  {
    zuStMutex hold(lock_);
    requests.swap(requests_);
    responses.swap(responses_);
    cancelQueue_.clear();
    readyQueue_.clear();
  }
  sendQueue_.clear();
  waitingList_.clear();
  const zuErrorMessage last = lastError();
  // Outside the lock: a response's completion deletes it.
  for (auto* map : {&requests, &responses}) {
    for (auto& [id, object] : *map) {
      object->setId(0);
      // Only requests take the connection's error: a response may have a
      // worker that writes its own, and nobody reads it any more.
      if (object->isRequest() && last.code() != 0 && object->getErrorCode() == 0)
        object->errorMessage() = last;
      releaseCharge(object);
      object->setState(zuNetObject::kStateCancelled);
    }
  }
}

void zuNetObjectHandler::sendControl(bool asRequest, u16 id, u8 type, u16 error,
                                     const zuErrorMessage* message, u8 flags) {
  u32 length = zuNetMessageHeader::kSize;
  if (message != nullptr) {
    zuNetWriter writer(packet_.payload() + zuNetMessageHeader::kSize, kChunkLimit);
    try {
      writer.putErrorMessage(*message);
      length += writer.size();
    } catch (const std::out_of_range&) {
      // Too large for one chunk: the code alone still tells the peer.
    }
  }
  zuNetMessageHeader header;
  header.id = id;
  header.type = type;
  header.flags = zuNetMessageHeader::controlFlags(asRequest, flags);
  header.error = error;
  header.write(packet_.payload());
  const u16 status = packetLayer_.send(packet_, length);
  if (!isQuiet(status))
    throw zuException(status, kzuUnspecifiedErrorText, 'e', std::to_string(u32{status}));
}

// ---- filing objects ----

std::list<zuNetObject*>* zuNetObjectHandler::listOf(u32 state) {
  if (state == zuNetObject::kStateQueued) return &sendQueue_;
  if (state == zuNetObject::kStateWaiting) return &waitingList_;
  return nullptr;
}

void zuNetObjectHandler::unlist(zuNetObject* object) {
  if (auto* list = listOf(object->getState())) list->remove(object);
}

void zuNetObjectHandler::requeueObject(zuNetObject* object) {
  // An object handed in while it is already filed must not be filed twice:
  // it would be sent again after its last chunk.
  unlist(object);
  const u32 s = object->getSendState();
  if (s == zuNetObject::kStateQueued) {
    sendQueue_.push_back(object);
  } else if (s == zuNetObject::kStateWaiting) {
    const u32 t = object->timeToNextAction();
    auto at = std::find_if(waitingList_.begin(), waitingList_.end(),
                           [t](zuNetObject* o) { return o->timeToNextAction() > t; });
    waitingList_.insert(at, object);
  }
  setObjectState(object, s);
}

void zuNetObjectHandler::setObjectState(zuNetObject* object, u32 state) {
  if (state == zuNetObject::kStateCancelling || zuNetObject::isEndState(state)) unlist(object);
  if (zuNetObject::isEndState(state)) {
    releaseCharge(object);
    zuStMutex hold(lock_);
    eraseAll(cancelQueue_, object);
    eraseAll(readyQueue_, object);
    auto& map = object->isRequest() ? requests_ : responses_;
    auto it = map.find(object->getId());
    if (it != map.end() && it->second == object) map.erase(it);
    object->setId(0);
  }
  // Without the lock: the completion may delete the object.
  object->setState(state);
}

void zuNetObjectHandler::processQueues() {
  for (;;) {
    zuNetObject* object = nullptr;
    {
      zuStMutex hold(lock_);
      if (cancelQueue_.empty()) break;
      object = cancelQueue_.front();
      cancelQueue_.pop_front();
    }
    setObjectState(object, zuNetObject::kStateCancelling);
    sendControl(true, object->getId(), object->getType(), 0, nullptr,
                zuNetMessageHeader::kCancelFlags);
    setObjectState(object, zuNetObject::kStateCancelled);
  }
  for (;;) {
    zuNetObject* object = nullptr;
    {
      zuStMutex hold(lock_);
      if (readyQueue_.empty()) break;
      object = readyQueue_.front();
      readyQueue_.pop_front();
    }
    requeueObject(object);
  }
}

void zuNetObjectHandler::processWaiting() {
  // At most one pass over the list: an object that files itself back with
  // no time to wait must not hold the thread here.
  for (std::size_t n = waitingList_.size(); n != 0 && !waitingList_.empty(); --n) {
    zuNetObject* object = waitingList_.front();
    if (object->timeToNextAction() != 0) break;
    waitingList_.pop_front();
    requeueObject(object);
  }
}

void zuNetObjectHandler::sendPending() {
  if (sendQueue_.empty()) return;
  zuNetObject* object = sendQueue_.front();
  sendQueue_.pop_front();
  object->incrementSendCount();

  u8* const chunk = packet_.payload() + zuNetMessageHeader::kSize;
  u16 error = 0;
  bool last = false;
  u32 n = 0;
  try {
    n = object->sendData(chunk, kChunkLimit, error, last);
    if (error != 0) object->setErrorCode(error);
  } catch (const std::exception& e) {
    exceptionToError(e, object->errorMessage());
  }
  if (object->getErrorCode() == 0) {
    if (n == 0 && !last) {
      requeueObject(object);
      return;
    }
    zuNetMessageHeader header;
    header.id = object->getId();
    header.type = object->getType();
    header.flags =
        zuNetMessageHeader::chunkFlags(object->isRequest(), object->getSendCount(), last);
    header.error = 0;
    header.write(packet_.payload());
    const u16 status = packetLayer_.send(packet_, zuNetMessageHeader::kSize + n);
    if (!isQuiet(status))
      throw zuException(status, kNetworkErrorText, 'e', std::to_string(u32{status}));
    requeueObject(object);
    return;
  }
  fillDefaultText(object->errorMessage());
  sendControl(object->isRequest(), object->getId(), object->getType(), object->getErrorCode(),
              &object->errorMessage(), zuNetMessageHeader::kFlagLastChunk);
  setObjectState(object, zuNetObject::kStateFailed);
}

void zuNetObjectHandler::receive(u32 wait) {
  u32 length = 0;
  u16 status = 0;
  {
    zuEvent* const stop = stopEvent();
    zuStopEventSwap swap(packetLayer_.endpoint(), receiveStop_ ? receiveStop_ : stop, stop);
    status = packetLayer_.receive(packet_, length, wait);
  }
  if (status == zuErrStopped || status == zuErrTimeout || status == zuErrNoData) return;
  if (status != 0) {
    zuErrorMessage error(status, kNetworkErrorText, 'e', std::to_string(u32{status}));
    if (status == zuErrConnectionBroken)
      error.setText(kConnectionBrokenText);
    else if (status == kzuCodeMemoryExhausted)
      error.setText(kzuMemoryExhaustedText);
    if (status != zuErrConnectionBroken) zuLog::log(0, error);
    throw zuException(error);
  }
  // A large packet's room goes back at once, also when handling it throws:
  // an idle connection holds only the small buffer.
  struct Shrink {
    zuNetBuffer& buffer;
    ~Shrink() {
      if (buffer.capacity() > zuNetPacketLayer::kUnchargedSize) buffer.shrinkTo(kPacketSize);
    }
  } shrink{packet_};
  handleIncoming(length);
}

bool zuNetObjectHandler::chargeChunk(zuNetObject* object, u32 length) {
  // The first bytes of each exchange are small records; the rest is large.
  const std::size_t delivered = object->deliveredBytes();
  const std::size_t room =
      delivered < zuGatherBudget::kSmallShare ? zuGatherBudget::kSmallShare - delivered : 0;
  const std::size_t small = std::min<std::size_t>(length, room);
  if (!budget_.take(small, length - small)) return false;
  object->addGatherCharge(length);
  return true;
}

void zuNetObjectHandler::releaseCharge(zuNetObject* object) {
  budget_.give(object->takeGatherCharge());
}

void zuNetObjectHandler::handleIncoming(u32 length) {
  zuNetMessageHeader header;
  if (header.read(packet_.payload(), length) == 0) {
    // Not even a header: nothing to answer.
    zuLog::logf(4, "%s: dropped a packet of %u bytes.", connectionText().c_str(), length);
    return;
  }
  const u8* const body = packet_.payload() + zuNetMessageHeader::kSize;
  const u32 bodyLength = length - zuNetMessageHeader::kSize;
  const bool request = header.isRequest();
  const bool abort = header.isCancel();
  const bool last = header.isLastChunk();
  const bool first = header.isFirstChunk();
  // Its room was past the gathering budget: only the start of it is here.
  const bool cut = packetLayer_.lastPacketCut();

  if (header.type == zuNOT_KeepAlive) {
    if (request) sendKeepAlive();
    return;
  }
  // Keep-alives alone leave a connection idle: it may lose its slot to a
  // newcomer when every slot is taken.
  markActive();
  if (header.type == zuNOT_ConnectionError) {
    zuErrorMessage error;
    error.clear();
    error.setCode(header.error);
    if (bodyLength != 0) {
      zuNetReader reader(body, bodyLength);
      reader.getErrorMessage(error);
    }
    throw zuException(error);
  }

  zuErrorMessage local;
  local.clear();
  zuErrorMessage* current = &local;
  zuNetObject* object = nullptr;
  {
    zuStMutex hold(lock_);
    if (request) {
      auto it = responses_.find(header.id);
      if (it != responses_.end()) {
        object = it->second;
      } else if (!abort && header.error == 0) {
        if (!first) return;
        try {
          createResponse(header.id, header.type, object);
        } catch (const std::exception& e) {
          object = nullptr;
          exceptionToError(e, local);
        }
      }
    } else {
      auto it = requests_.find(header.id);
      if (it != requests_.end()) object = it->second;
    }
  }

  if (object != nullptr) {
    current = &object->errorMessage();
    if (abort) {
      if (request) {
        // The peer cancels its request.
        setObjectState(object, zuNetObject::kStateCancelling);
        sendControl(false, header.id, header.type, 0, nullptr, zuNetMessageHeader::kCancelFlags);
      }
      setObjectState(object, zuNetObject::kStateCancelled);
      return;
    }
    if (header.error != 0) {
      // The peer's error belongs to our request. A response keeps its own:
      // its worker may be writing it right now.
      if (!request) {
        if (bodyLength != 0) {
          zuNetReader reader(body, bodyLength);
          try {
            reader.getErrorMessage(object->errorMessage());
          } catch (const std::out_of_range&) {
            // A garbled message: the header's code still fails the exchange.
          }
        }
        object->setErrorCode(header.error);
      }
      setObjectState(object, zuNetObject::kStateFailed);
      return;
    }
    if (!object->lastChunkDelivered() && !object->fitsGathering(bodyLength)) {
      // Nothing of this chunk is kept; the exchange ends below and later
      // chunks of its id find no object.
      object->setGatheringLimitError();
      if (object->getErrorCode() == 0) object->setUnexpectedDataError();
      zuLog::logf(4, "%s: message %u (type %u) went past its limit of %zu bytes.",
                  connectionText().c_str(), u32{header.id}, u32{header.type},
                  object->maxGatheredBytes());
    } else if (!object->lastChunkDelivered() &&
               (cut || (object->keepsChunks() && !chargeChunk(object, bodyLength)))) {
      // Past what this connection or the whole process may gather: the
      // exchange ends below and gives back what it holds.
      object->setError(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
      zuLog::logf(4, "%s: message %u (type %u) refused, %zu bytes gathered here, %zu in all.",
                  connectionText().c_str(), u32{header.id}, u32{header.type}, budget_.taken(),
                  zuGatherBudget::processTaken());
    } else {
      try {
        bool dropped = false;
        const u16 result = object->deliverChunk(body, bodyLength, last, dropped);
        // A chunk after the last one changes nothing.
        if (dropped) return;
        if (result != 0) object->setErrorCode(result);
      } catch (const std::exception& e) {
        exceptionToError(e, *current);
      }
    }
  } else if (local.code() == 0) {
    return;
  }

  if (current->code() == 0) {
    requeueObject(object);
    return;
  }
  fillDefaultText(*current);
  if (!last || request)
    sendControl(!request, header.id, header.type, current->code(), current,
                zuNetMessageHeader::kFlagLastChunk);
  if (object != nullptr) setObjectState(object, zuNetObject::kStateFailed);
}

void zuNetObjectHandler::createResponse(u16 id, u8 type, zuNetObject*& object) {
  // Each open exchange holds gathered bytes and perhaps a worker: a peer
  // gets a bounded number of them.
  if (responses_.size() >= kMaxOpenExchanges) {
    zuLog::logf(4, "%s: refused message %u, %u exchanges are open.", connectionText_.c_str(),
                u32{id}, kMaxOpenExchanges);
    throw zuException(zuErrUnexpectedData, kzuUnexpectedDataText);
  }
  std::unique_ptr<zuNetObject> response;
  auto it = factories_.find(type);
  if (it != factories_.end() && it->second) response = it->second(type);
  if (!response) {
    zuErrorMessage error(zuErrUnsupportedType, kUnsupportedTypeText, 't',
                         std::to_string(u32{type}));
    zuLog::log(0, error);
    throw zuException(error);
  }
  if (!isLoggedIn() && response->requiresAuthority())
    throw zuException(zuErrInvalidAuthority, kInvalidAuthorityText);
  zuNetObject* raw = response.release();
  raw->setDeleteWhenDone();
  raw->setHandler(this);
  responses_[id] = raw;
  raw->setId(id);
  object = raw;
}

// ---- the client's side: opening a connection ----

namespace {

constexpr const char* kUnableToConnectText = "Unable to connect to the server \"$s\".";
constexpr const char* kUnableToLocateText = "Unable to locate the server \"$s\".";
constexpr const char* kTooManyOpenText =
    "Unable to connect to the server \"$s\". Too many open connections.";
constexpr const char* kServerNewerText =
    "The server is a newer version. Please download a new program from Tarnwell.";
constexpr const char* kClientNewerText =
    "The client is a newer version than the server \"$s\". Please download a new program "
    "from Tarnwell.";

void advance(zuProgress* progress) {
  if (progress) progress->step();
}

// Stops the handler's thread and waits for it, so that nothing of the
// exchange is touched once the caller lets go.
void stopAndJoin(zuNetObjectHandler& handler) {
  if (handler.isRunning()) handler.stop();
  handler.wait();
}

}  // namespace

std::unique_ptr<zuNetObjectHandler> zuNetObjectHandler::connect(
    const zuIPAddress& address, u16 port, const std::string& serverText, zuEvent* stopEvent,
    u16 expectedProtocol, zuProgress* progress, zuConnectReply* reply, bool compress) {
  auto endpoint = std::make_unique<zuSecureTCPEndpoint>(stopEvent, kConnectTimeout, compress);
  const u16 status = endpoint->connect(address, port);
  if (status == zuErrStopped) throw zuException(zuErrStopped, "");
  if (status != 0 || !endpoint->isOpen())
    throw zuException(zuErrFailed, kUnableToConnectText, 's', serverText);
  return runConnect(std::move(endpoint), serverText, stopEvent, expectedProtocol, progress, reply);
}

std::unique_ptr<zuNetObjectHandler> zuNetObjectHandler::connectByName(
    const std::string& host, u16 port, const std::string& serverText, zuEvent* stopEvent,
    u16 expectedProtocol, zuProgress* progress, zuConnectReply* reply, bool compress) {
  auto endpoint = std::make_unique<zuSecureTCPEndpoint>(stopEvent, kConnectTimeout, compress);
  const u16 status = endpoint->connectTo(host.c_str(), port);
  if (status == zuErrStopped) throw zuException(zuErrStopped, "");
  if (status == zuErrHostLookup)
    throw zuException(zuErrHostLookup, kUnableToLocateText, 's', serverText);
  if (status != 0 || !endpoint->isOpen())
    throw zuException(zuErrFailed, kUnableToConnectText, 's', serverText);
  return runConnect(std::move(endpoint), serverText, stopEvent, expectedProtocol, progress, reply);
}

std::unique_ptr<zuNetObjectHandler> zuNetObjectHandler::runConnect(
    std::unique_ptr<zuSecureTCPEndpoint> endpoint, const std::string& serverText,
    zuEvent* stopEvent, u16 expectedProtocol, zuProgress* progress, zuConnectReply* reply) {
  advance(progress);
  // Declared before the handler: the handler's thread may touch the request
  // until the handler has been stopped and joined, which its destruction
  // does first on every way out.
  zuNetReqConnect request;
  const bool compress = endpoint->compressionAgreed();
  auto handler = std::make_unique<zuNetObjectHandler>(&zuMainThread::instance(),
                                                      std::move(endpoint), compress);
  handler->start();
  advance(progress);

  request.setReplyTarget(reply);
  request.start(handler.get());
  request.wait(stopEvent);
  if (stopEvent != nullptr && stopEvent->isSet()) {
    stopAndJoin(*handler);
    throw zuException(zuErrStopped, "");
  }
  advance(progress);

  if (request.isSucceeded()) {
    const u16 offered = request.reply().protocolValue;
    if (expectedProtocol != 0 && expectedProtocol < offered) {
      stopAndJoin(*handler);
      throw zuException(zuErrVersionMismatch, kServerNewerText);
    }
    if (expectedProtocol != 0 && expectedProtocol > offered) {
      stopAndJoin(*handler);
      throw zuException(zuErrVersionMismatch, kClientNewerText, 's', serverText);
    }
    advance(progress);
    return handler;
  }
  stopAndJoin(*handler);
  if (handler->lastError().code() == zuErrTooManyConnections ||
      request.getErrorCode() == zuErrTooManyConnections)
    throw zuException(zuErrTooManyConnections, kTooManyOpenText, 's', serverText);
  throw zuException(zuErrFailed, kUnableToConnectText, 's', serverText);
}
