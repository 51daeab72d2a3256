#pragma once
// A response whose reply is the prepared outgoing data (a head written by a
// subclass) followed by a source stream's bytes to its end. The stream is not
// owned; the server keeps it alive until the response ends.
#include <istream>
#include <string>

#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuNetResStreamToNet : public zuNetResponse {
 public:
  zuNetResStreamToNet();
  ~zuNetResStreamToNet() override;

  // Last without a source, at the stream's end or once the source limit is
  // reached. A read error fails the reply with 1540 "Error reading from file
  // "$f"." (the source name) instead of ending it as if the data were whole.
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setSource(std::istream* source) { source_ = source; }
  std::istream* source() const { return source_; }
  void setSourceName(const std::string& name) { sourceName_ = name; }
  // At most this many bytes are taken from the source.
  void setSourceLimit(u64 bytes) { sourceLeft_ = bytes; }

 protected:
  std::istream* source_ = nullptr;
  std::string sourceName_;
  u64 sourceLeft_ = ~u64{0};
};
