#pragma once
// A request that sends the writer's content and writes the reply's bytes to
// an output stream as they arrive (nothing is gathered). A subclass may take
// a head off the reply's first chunk. The stream is not owned.
#include <ostream>
#include <string>

#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

class zuNetReqNetToStream : public zuNetRequest {
 public:
  zuNetReqNetToStream();
  ~zuNetReqNetToStream() override;

  // A failing output stream fails the request with 1541 "Error writing to
  // file "$f"." (the target name).
  u16 receiveData(const u8* data, u32 length, bool last) override;
  std::size_t maxGatheredBytes() const override;
  // Each chunk goes to the stream as it comes.
  bool keepsChunks() const override { return false; }

  // The reply head on the first chunk; returns the bytes it consumed. The
  // base takes none.
  virtual u32 handleReplyHead(const u8* data, u32 length);
  // Runs after the last chunk was written; a non-zero result fails the
  // request. The base returns 0.
  virtual u16 finishReply();

  void setOutputStream(std::ostream* stream) { output_ = stream; }
  std::ostream* outputStream() const { return output_; }
  void setTargetName(const std::string& name) { targetName_ = name; }
  const std::string& targetName() const { return targetName_; }
  // Reply bytes after the head in this exchange (written to the stream when
  // there is one).
  u64 bytesWritten() const { return written_; }

 protected:
  std::ostream* output_ = nullptr;
  std::string targetName_;
  u64 written_ = 0;
};
