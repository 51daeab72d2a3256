#include "loam/netobjects/zuNetReqStreamToNet.h"

#include "loam/netobjects/zuNetStreamChunk.h"

zuNetReqStreamToNet::zuNetReqStreamToNet() = default;

zuNetReqStreamToNet::~zuNetReqStreamToNet() = default;

u32 zuNetReqStreamToNet::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  // The writer's content, also when it is longer than one chunk.
  bool headDone = false;
  u32 n = zuNetObject::sendData(buffer, maximum, error, headDone);
  last = false;
  if (headDone) n += zuReadStreamChunk(input_, buffer + n, maximum - n, last, sourceName_);
  setSendState(last ? kStateIdle : kStateQueued);
  return n;
}
