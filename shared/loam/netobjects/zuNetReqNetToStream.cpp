#include "loam/netobjects/zuNetReqNetToStream.h"

#include <algorithm>

#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetStreamChunk.h"

zuNetReqNetToStream::zuNetReqNetToStream() = default;

zuNetReqNetToStream::~zuNetReqNetToStream() = default;

std::size_t zuNetReqNetToStream::maxGatheredBytes() const { return kStreamingLimit; }

u32 zuNetReqNetToStream::handleReplyHead(const u8*, u32) { return 0; }

u16 zuNetReqNetToStream::finishReply() { return 0; }

u16 zuNetReqNetToStream::receiveData(const u8* data, u32 length, bool last) {
  u32 used = 0;
  if (getReceivedCount() == 1) {
    written_ = 0;
    used = std::min(handleReplyHead(data, length), length);
  }
  const u32 rest = length - used;
  if (!zuWriteStreamChunk(output_, data + used, rest)) {
    setError(zuErrFileWrite, kzuFileWriteErrorText, 'f', targetName_);
    return zuErrFileWrite;
  }
  written_ += rest;
  if (!last) return 0;
  if (output_ != nullptr && !output_->flush()) {
    setError(zuErrFileWrite, kzuFileWriteErrorText, 'f', targetName_);
    return zuErrFileWrite;
  }
  const u16 result = finishReply();
  if (result == 0) setSendState(kStateDone);
  return result;
}
