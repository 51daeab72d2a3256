#pragma once
// A response to a zuSimpleNetRequest: takes the request code byte off the
// request's first chunk and begins its reply with a reply code byte and the
// number of reply bytes that follow (u32). What the codes mean is the
// business of the server that uses it. The type byte comes from a subclass.
#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuSimpleNetResponse : public zuNetResponse {
 public:
  zuSimpleNetResponse();
  ~zuSimpleNetResponse() override;

  // An empty first chunk is 772 (through std::out_of_range).
  u16 receiveData(const u8* data, u32 length, bool last) override;
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setReplyCode(u8 code) { replyCode_ = code; }
  u8 replyCode() const { return replyCode_; }
  u8 requestCode() const { return requestCode_; }

 protected:
  u8 replyCode_ = 0;
  u8 requestCode_ = 0;
};
