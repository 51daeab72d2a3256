#include "loam/netobjects/zuNetResPropertiesToNet.h"

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetPropertyChunks.h"

zuNetResPropertiesToNet::zuNetResPropertiesToNet() = default;

zuNetResPropertiesToNet::~zuNetResPropertiesToNet() = default;

u32 zuNetResPropertiesToNet::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  if (!started_) {
    started_ = true;
    nextIndex_ = 0;
    entryCount_ = properties_ ? properties_->count() : 0;
  }
  bool headDone = false;
  u32 n = zuNetObject::sendData(buffer, maximum, error, headDone);
  last = false;
  if (headDone)
    n += zuPutPropertyChunk(buffer + n, maximum - n, maximum, properties_, nextIndex_, entryCount_,
                            countSent_, last);
  setSendState(last ? kStateDone : kStateQueued);
  return n;
}
