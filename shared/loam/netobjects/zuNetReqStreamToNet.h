#pragma once
// A request that sends the writer's content and then an input stream's bytes
// to the stream's end. The reply is the base's. The type byte comes from a
// subclass. The stream is not owned.
#include <istream>
#include <memory>
#include <string>

#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

class zuNetReqStreamToNet : public zuNetRequest {
 public:
  zuNetReqStreamToNet();
  ~zuNetReqStreamToNet() override;

  // The writer's content first, then the stream; last at the stream's end
  // (or without a stream). A read error fails the request with 1540
  // "Error reading from file "$f"." (the source name) instead of ending the
  // upload as if the data were whole.
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setInputStream(std::istream* stream) { input_ = stream; }
  std::istream* inputStream() const { return input_; }
  // The name that read errors give for the stream.
  void setSourceName(const std::string& name) { sourceName_ = name; }
  const std::string& sourceName() const { return sourceName_; }

 protected:
  // Opens the file as raw bytes; when it does not open, 1540 "Error reading
  // from file "$f"." is logged at level 0 and thrown.
  static std::unique_ptr<std::istream> openSourceFile(const std::string& path);
  // Logs 1540 for the path at level 0 and throws it.
  [[noreturn]] static void sourceFileFailed(const std::string& path);
  // The part of the path after its last separator or ':'.
  static std::string fileNameOf(const std::string& path);

  std::istream* input_ = nullptr;
  std::string sourceName_;
};
