#pragma once
// A response that writes the request's bytes to a target stream as they
// arrive, instead of gathering them; a subclass takes its own head off the
// first chunk (handleData). The reply is empty. The stream is not owned
// unless a subclass says so.
#include <ostream>
#include <string>

#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuNetResNetToStream : public zuNetResponse {
 public:
  zuNetResNetToStream();
  ~zuNetResNetToStream() override;

  // A failing target fails the exchange with 1541 "Error writing to file
  // "$f"." (the target name), logged, rather than dropping the bytes.
  u16 receiveData(const u8* data, u32 length, bool last) override;
  // Nothing is gathered.
  std::size_t maxGatheredBytes() const override;
  // Each chunk goes to the stream as it comes.
  bool keepsChunks() const override { return false; }

  // The first chunk's head; returns the bytes it consumed. The base takes
  // none.
  virtual u32 handleData(const u8* data, u32 length, bool last);

  void setTarget(std::ostream* target) { target_ = target; }
  std::ostream* target() const { return target_; }
  void setTargetName(const std::string& name) { targetName_ = name; }

 protected:
  // After the last chunk was written, before the (empty) reply is made;
  // a non-zero result fails the exchange. The base flushes the target.
  virtual u16 finishData();
  // Sets, logs and returns 1541 for the target.
  u16 writeFailed();

  std::ostream* target_ = nullptr;
  std::string targetName_;
};
