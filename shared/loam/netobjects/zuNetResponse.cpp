#include "loam/netobjects/zuNetResponse.h"

#include <string>

#include "loam/threads/zuLog.h"

zuNetResponse::zuNetResponse() { pacingTimer_.start(); }

zuNetResponse::~zuNetResponse() = default;

bool zuNetResponse::isRequest() const { return false; }

void zuNetResponse::setState(u32 state) {
  if (state == kStateWaiting) {
    ++waitingCount_;
    pacingTimer_.start();
    setSendState(kStateQueued);
  }
  zuNetObject::setState(state);
}

u32 zuNetResponse::timeToNextAction() {
  const u32 elapsed = pacingTimer_.elapsed();
  return elapsed >= pacingInterval_ ? 0 : pacingInterval_ - elapsed;
}

u16 zuNetResponse::receiveData(const u8* data, u32 length, bool last) {
  const u16 result = zuNetObject::receiveData(data, length, last);
  if (last && result == 0) prepareSend();
  return result;
}

u32 zuNetResponse::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
  if (last) setSendState(kStateDone);
  return n;
}

void zuNetResponse::logError(const zuMessage& message) const {
  // Parameters carry what the peer sent (file names, arguments).
  const std::string text = message.logText();
  if (text.empty()) return;
  zuLog::write(0, (std::string(getName()) + ": " + text).c_str());
}

void zuNetResponse::logMessage(i32 level, const zuMessage& message) const {
  zuLog::write(level, (std::string(getName()) + ": " + message.logText()).c_str());
}
