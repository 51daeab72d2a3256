#include "loam/netobjects/zuSimpleNetResponse.h"

#include <stdexcept>

#include "loam/netobjects/zuNetWriter.h"

namespace {

constexpr u32 kHeadSize = 5;

}  // namespace

zuSimpleNetResponse::zuSimpleNetResponse() = default;

zuSimpleNetResponse::~zuSimpleNetResponse() = default;

u16 zuSimpleNetResponse::receiveData(const u8* data, u32 length, bool last) {
  if (getReceivedCount() != 1) return zuNetResponse::receiveData(data, length, last);
  zuNetReader head(data, length);
  requestCode_ = head.getUInt8();
  return zuNetResponse::receiveData(data + 1, length - 1, last);
}

u32 zuSimpleNetResponse::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  if (getSendCount() != 1) return zuNetResponse::sendData(buffer, maximum, error, last);
  zuNetWriter head(buffer, maximum);
  head.putUInt8(replyCode_);
  head.putUInt32(getOutgoingRemaining());
  return kHeadSize + zuNetResponse::sendData(buffer + kHeadSize, maximum - kHeadSize, error, last);
}
