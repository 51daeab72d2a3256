#pragma once
// The library's answer to a Connect request: the protocol value, the
// operating-system description and the version text, so that a client can
// tell which server it talks to. Served before any login. The derived class
// gives the type byte and the names.
#include <string>

#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuNetResConnect : public zuNetResponse {
 public:
  static constexpr u16 kProtocolValue = 256;

  // Only the version text is taken: the protocol value is always 256, the
  // first flag always set and the last flag always clear.
  zuNetResConnect(u16 protocolValue, const std::string& versionText, bool flag);
  ~zuNetResConnect() override;

  bool requiresAuthority() const override;
  // The request's content is not read.
  u16 processData(zuNetReader& reader, u32 length) override;

  u16 protocolValue() const { return protocolValue_; }
  const std::string& versionText() const { return versionText_; }

 private:
  u16 protocolValue_ = kProtocolValue;
  std::string versionText_;
  u8 firstFlag_ = 1;
  u8 lastFlag_ = 0;
};
