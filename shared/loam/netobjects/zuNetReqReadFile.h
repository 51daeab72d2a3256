#pragma once
// The ReadFile request (type 6): asks the server for a file by name and
// writes its bytes to an output stream. The reply begins with the file's
// size (u32); a reply whose bytes differ from that size fails with 772, so a
// cut transfer never looks complete.
#include <ostream>
#include <string>

#include "loam/netobjects/zuNetReqNetToStream.h"
#include "loam/platform/zuTypes.h"

class zuNetReqReadFile : public zuNetReqNetToStream {
 public:
  zuNetReqReadFile();
  ~zuNetReqReadFile() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  u32 handleReplyHead(const u8* data, u32 length) override;
  u16 receiveData(const u8* data, u32 length, bool last) override;
  u16 finishReply() override;

  // The payload: file name, then the flag (text mode) as a bool. The stream
  // is not owned. False when the writer could not hold it.
  bool prepare(const std::string& fileName, std::ostream* output, bool flag);

  u8 flag() const { return flag_; }
  u32 fileSize() const { return fileSize_; }

 private:
  u8 flag_ = 0;
  u32 fileSize_ = 0;
};
