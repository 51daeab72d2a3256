#include "loam/netobjects/zuNetReqPropertiesToNet.h"

#include <stdexcept>

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetPropertyChunks.h"
#include "loam/netobjects/zuNetWriter.h"
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
    zuNetWriter writer(buffer + n, maximum - n);
    bool done = true;
    try {
      if (!countSent_) {
        writer.putUInt32(count_);
        countSent_ = true;
      }
      if (properties_) done = zuPutPropertyEntries(writer, *properties_, index_, count_, maximum);
    } catch (const std::out_of_range&) {
      // Not even the count fitted after the head: it goes next time.
      done = false;
    }
    n += writer.size();
    last = done && countSent_;
    if (progress_) progress_->setPosition(index_);
  }
  if (last && properties_) properties_->setModified(false);
  setSendState(last ? kStateIdle : kStateQueued);
  return n;
}
