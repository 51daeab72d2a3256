#include "loam/netobjects/zuNetReqWriteFile.h"

#include "loam/netobjects/zuNetObjectTypes.h"

zuNetReqWriteFile::zuNetReqWriteFile() = default;

zuNetReqWriteFile::~zuNetReqWriteFile() = default;

u8 zuNetReqWriteFile::getType() const { return zuNOT_WriteFile; }

const char* zuNetReqWriteFile::getTypeName() const { return "zuNOT_WriteFile"; }

const char* zuNetReqWriteFile::getName() const { return "WriteFile"; }

bool zuNetReqWriteFile::prepare(const std::string& fileName, std::istream* input, bool flag) {
  setInputStream(input);
  setSourceName(fileName);
  zuNetWriter& out = outgoing();
  out.reset();
  out.putString(fileName);
  out.putBool(flag);
  out.putUInt32(0);
  return input != nullptr && out.isValid();
}
