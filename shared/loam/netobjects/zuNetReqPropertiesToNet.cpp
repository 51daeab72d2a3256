#include "loam/netobjects/zuNetReqPropertiesToNet.h"

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetPropertyChunks.h"
#include "loam/threads/zuProgress.h"

zuNetReqPropertiesToNet::zuNetReqPropertiesToNet() = default;

zuNetReqPropertiesToNet::~zuNetReqPropertiesToNet() = default;

u32 zuNetReqPropertiesToNet::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  if (getSendCount() == 1) {
    index_ = 0;
    count_ = properties_ ? properties_->count() : 0;
    countSent_ = false;
    if (progress_) progress_->reset(0, count_);
  }
  bool headDone = false;
  u32 n = zuNetObject::sendData(buffer, maximum, error, headDone);
  last = false;
  if (headDone) {
    n += zuPutPropertyChunk(buffer + n, maximum - n, maximum, properties_, index_, count_,
                            countSent_, last);
    if (progress_) progress_->setPosition(index_);
  }
  if (last && properties_) properties_->setModified(false);
  setSendState(last ? kStateIdle : kStateQueued);
  return n;
}
