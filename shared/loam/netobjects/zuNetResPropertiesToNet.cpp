#include "loam/netobjects/zuNetResPropertiesToNet.h"

#include <stdexcept>

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetPropertyChunks.h"
#include "loam/netobjects/zuNetWriter.h"

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
  if (headDone) {
    zuNetWriter writer(buffer + n, maximum - n);
    bool done = true;
    try {
      if (!countSent_) {
        writer.putUInt32(entryCount_);
        countSent_ = true;
      }
      if (properties_)
        done = zuPutPropertyEntries(writer, *properties_, nextIndex_, entryCount_, maximum);
    } catch (const std::out_of_range&) {
      done = false;
    }
    n += writer.size();
    last = done && countSent_;
  }
  setSendState(last ? kStateDone : kStateQueued);
  return n;
}
