#include "loam/netobjects/zuSimpleNetRequest.h"

zuSimpleNetRequest::zuSimpleNetRequest() = default;

zuSimpleNetRequest::~zuSimpleNetRequest() = default;

u32 zuSimpleNetRequest::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  if (getSendCount() != 1 || maximum == 0)
    return zuNetRequest::sendData(buffer, maximum, error, last);
  buffer[0] = requestCode_;
  return 1 + zuNetRequest::sendData(buffer + 1, maximum - 1, error, last);
}

u16 zuSimpleNetRequest::receiveData(const u8* data, u32 length, bool last) {
  if (getReceivedCount() != 1) return zuNetRequest::receiveData(data, length, last);
  zuNetReader head(data, length);
  replyCode_ = head.getUInt8();
  replyLength_ = head.getUInt32();
  const u32 used = length - head.bytesLeft();
  return zuNetRequest::receiveData(data + used, head.bytesLeft(), last);
}
