#include "loam/netobjects/zuNetResStreamToNet.h"

#include <algorithm>

#include "loam/netobjects/zuNetStreamChunk.h"

zuNetResStreamToNet::zuNetResStreamToNet() = default;

zuNetResStreamToNet::~zuNetResStreamToNet() = default;

u32 zuNetResStreamToNet::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  bool headDone = false;
  u32 n = zuNetObject::sendData(buffer, maximum, error, headDone);
  last = false;
  if (headDone) {
    const u32 room = static_cast<u32>(std::min<u64>(maximum - n, sourceLeft_));
    const u32 got = zuReadStreamChunk(source_, buffer + n, room, last, sourceName_);
    sourceLeft_ -= got;
    n += got;
    if (sourceLeft_ == 0) last = true;
  }
  setSendState(last ? kStateDone : kStateQueued);
  return n;
}
