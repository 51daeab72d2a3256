#include "loam/netobjects/zuNetReqReadFile.h"

#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/netobjects/zuNetReader.h"

zuNetReqReadFile::zuNetReqReadFile() = default;

zuNetReqReadFile::~zuNetReqReadFile() = default;

u8 zuNetReqReadFile::getType() const { return zuNOT_ReadFile; }

const char* zuNetReqReadFile::getTypeName() const { return "zuNOT_ReadFile"; }

const char* zuNetReqReadFile::getName() const { return "ReadFile"; }

bool zuNetReqReadFile::prepare(const std::string& fileName, std::ostream* output, bool flag) {
  flag_ = flag ? 1 : 0;
  setOutputStream(output);
  setTargetName(fileName);
  fileSize_ = 0;
  zuNetWriter& out = outgoing();
  out.reset();
  out.putString(fileName);
  out.putBool(flag);
  return out.isValid();
}

u32 zuNetReqReadFile::handleReplyHead(const u8* data, u32 length) {
  zuNetReader head(data, length);
  fileSize_ = head.getUInt32();
  return 4;
}

u16 zuNetReqReadFile::receiveData(const u8* data, u32 length, bool last) {
  // More bytes than announced are refused before they reach the stream.
  const u64 head = getReceivedCount() == 1 ? 4 : 0;
  if (getReceivedCount() != 1 && bytesWritten() + length > fileSize_) {
    setUnexpectedDataError();
    return zuErrUnexpectedData;
  }
  if (getReceivedCount() == 1 && length >= head) {
    zuNetReader peek(data, length);
    if (length - head > peek.getUInt32()) {
      setUnexpectedDataError();
      return zuErrUnexpectedData;
    }
  }
  return zuNetReqNetToStream::receiveData(data, length, last);
}

u16 zuNetReqReadFile::finishReply() {
  if (bytesWritten() == fileSize_) return 0;
  setUnexpectedDataError();
  return zuErrUnexpectedData;
}
