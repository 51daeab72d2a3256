#include "loam/netobjects/zuNetResNetToStream.h"

#include <algorithm>

#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetStreamChunk.h"

zuNetResNetToStream::zuNetResNetToStream() = default;

zuNetResNetToStream::~zuNetResNetToStream() = default;

std::size_t zuNetResNetToStream::maxGatheredBytes() const { return ~std::size_t{0}; }

u32 zuNetResNetToStream::handleData(const u8*, u32, bool) { return 0; }

u16 zuNetResNetToStream::finishData() {
  if (target_ != nullptr && !target_->flush()) return writeFailed();
  return 0;
}

u16 zuNetResNetToStream::writeFailed() {
  setError(zuErrFileWrite, kzuFileWriteErrorText, 'f', targetName_);
  logError(errorMessage());
  return zuErrFileWrite;
}

u16 zuNetResNetToStream::receiveData(const u8* data, u32 length, bool last) {
  u32 used = 0;
  if (getReceivedCount() == 1) used = std::min(handleData(data, length, last), length);
  if (!zuWriteStreamChunk(target_, data + used, length - used)) return writeFailed();
  if (!last) return 0;
  const u16 finished = finishData();
  if (finished != 0) return finished;
  prepareSend();
  return 0;
}
