#include "loam/netobjects/zuNetObject.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandlerInterface.h"
#include "loam/threads/zuLog.h"

namespace {

void deleteObject(zuNetObject* object) { delete object; }

}  // namespace

zuNetObject::zuNetObject() {
  // Cleared rather than literal: the handler fills in its default text for a
  // code that comes without one.
  error_.clear();
}

zuNetObject::~zuNetObject() = default;

bool zuNetObject::isSucceeded() const { return getState() == kStateDone && getErrorCode() == 0; }

const char* zuNetObject::getTypeName() const { return "NetObject"; }

const char* zuNetObject::getName() const { return "NetObject"; }

bool zuNetObject::requiresAuthority() const { return true; }

void zuNetObject::setHandler(zuNetObjectHandlerInterface* handler) { handler_ = handler; }

void zuNetObject::setState(u32 state) {
  state_.store(state, std::memory_order_release);
  if (!isEndState(state)) return;
  onFinished();
  // The callback may delete the object: nothing touches it afterwards.
  if (CompletionCallback callback = callback_) callback(this);
}

void zuNetObject::setSendState(u32 sendState) { sendState_ = sendState; }

u16 zuNetObject::getId() const { return id_; }

void zuNetObject::setId(u16 id) { id_ = id; }

void zuNetObject::onFinished() {}

u32 zuNetObject::timeToNextAction() { return 0; }

void zuNetObject::appendReceived(const u8* data, u32 length) {
  if (length == 0) return;
  // A reader's length is 32 bits; a message that outgrows it cannot be read.
  if (received_.size() + length > 0xFFFFFFFFu) throw std::out_of_range("zuNetReader::getData");
  received_.append(data, length);
}

u16 zuNetObject::receiveData(const u8* data, u32 length, bool last) {
  if (receivedCount_ == 1 && last) {
    zuNetReader reader(data, length);
    return processData(reader, length);
  }
  appendReceived(data, length);
  if (!last) return 0;
  const u32 size = static_cast<u32>(received_.size());
  zuNetReader reader(received_.data(), size);
  return processData(reader, size);
}

u16 zuNetObject::processData(zuNetReader&, u32) { return 0; }

u32 zuNetObject::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  const u32 n = std::min(outgoingRemaining_, maximum);
  if (n != 0) {
    std::memcpy(buffer, outgoing_.getStart() + outgoingOffset_, n);
    outgoingOffset_ += n;
    outgoingRemaining_ -= n;
  }
  last = outgoingRemaining_ == 0;
  error = getErrorCode();
  return n;
}

void zuNetObject::prepareSend() {
  // An allocation failed while the payload was built: it is incomplete.
  if (!outgoing_.isValid()) throw std::bad_alloc();
  outgoingOffset_ = 0;
  outgoingRemaining_ = outgoing_.size();
  setSendState(kStateQueued);
}

std::size_t zuNetObject::maxGatheredBytes() const { return kDefaultMaxGatheredBytes; }

void zuNetObject::setGatheringLimitError() { setUnexpectedDataError(); }

u16 zuNetObject::deliverChunk(const u8* data, u32 length, bool last, bool& dropped) {
  dropped = lastDelivered_;
  if (dropped) {
    zuLog::logf(4, "%s: dropped %u bytes for message %u (type %u) after its last chunk.",
                peerAddressText().c_str(), length, u32{id_}, u32{getType()});
    return 0;
  }
  ++receivedCount_;
  lastDelivered_ = last;
  deliveredBytes_ += length;
  return receiveData(data, length, last);
}

void zuNetObject::resetCounts() {
  receivedCount_ = 0;
  sendCount_ = 0;
  lastDelivered_ = false;
  deliveredBytes_ = 0;
  received_.clear();
}

void zuNetObject::setError(u16 code, const std::string& text) {
  error_ = zuErrorMessage(code, text);
}

void zuNetObject::setError(u16 code, const std::string& text, char key, const std::string& value) {
  error_ = zuErrorMessage(code, text.c_str(), key, value);
}

void zuNetObject::setUnexpectedDataError() { setError(zuErrUnexpectedData, kzuUnexpectedDataText); }

void zuNetObject::setFileOpenError(const std::string& fileName, const std::string& errorText) {
  error_ = zuErrorMessage(zuErrFileOpen, kzuFileOpenErrorText, 'f', fileName, 'e', errorText);
}

zuNetObject::CompletionCallback zuNetObject::setCompletionCallback(CompletionCallback callback) {
  CompletionCallback previous = callback_;
  callback_ = callback;
  return previous;
}

zuNetObject::CompletionCallback zuNetObject::setDeleteWhenDone() {
  return setCompletionCallback(&deleteObject);
}

bool zuNetObject::queueWithHandler() {
  if (!handler_) return false;
  handler_->queueObject(this);
  return true;
}

std::string zuNetObject::peerAddressText() const {
  return handler_ ? handler_->connectionText() : std::string();
}
