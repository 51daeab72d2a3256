#pragma once
// A request whose first chunk begins with a request code byte, answered by a
// reply that begins with a reply code byte and the reply's length. What the
// codes mean is the business of the response that reads them. The type byte
// comes from a subclass.
#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

class zuSimpleNetRequest : public zuNetRequest {
 public:
  zuSimpleNetRequest();
  ~zuSimpleNetRequest() override;

  u16 receiveData(const u8* data, u32 length, bool last) override;
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setRequestCode(u8 code) { requestCode_ = code; }
  u8 requestCode() const { return requestCode_; }
  u8 replyCode() const { return replyCode_; }
  u32 replyLength() const { return replyLength_; }

 protected:
  u8 requestCode_ = 0;
  u8 replyCode_ = 0;
  u32 replyLength_ = 0;
};
