#pragma once
// The WriteFile request (type 7): sends a file name, the flag (text mode), a
// size field of 0 and then an input stream's bytes for the server to store.
#include <istream>
#include <string>

#include "loam/netobjects/zuNetReqStreamToNet.h"
#include "loam/platform/zuTypes.h"

class zuNetReqWriteFile : public zuNetReqStreamToNet {
 public:
  zuNetReqWriteFile();
  ~zuNetReqWriteFile() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;

  // The stream is not owned. True when a stream was given and the writer
  // holds the payload's head.
  bool prepare(const std::string& fileName, std::istream* input, bool flag);
};
