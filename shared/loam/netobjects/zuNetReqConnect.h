#pragma once
// The Connect request (type 2): an empty payload, answered with the server's
// protocol value, operating-system text and version text.
#include <string>

#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

// The Connect reply, field by field in the order of the reply.
struct zuConnectReply {
  u16 protocolValue = 0;
  bool firstFlag = false;
  u32 firstConstant = 0;
  std::string osText;
  u32 secondConstant = 0;
  // Empty, and the last flag true, when the reply ends before them.
  std::string versionText;
  bool lastFlag = true;
};

class zuNetReqConnect : public zuNetRequest {
 public:
  zuNetReqConnect();
  ~zuNetReqConnect() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  // Fills the reply record; a reply too short for its fixed part is 772 and
  // leaves the record as it was.
  u16 processData(zuNetReader& reader, u32 length) override;

  // The record the reply goes into (not owned; null keeps only reply());
  // empties the outgoing writer.
  void setReplyTarget(zuConnectReply* reply);
  // The last reply read.
  const zuConnectReply& reply() const { return reply_; }

 private:
  zuConnectReply* target_ = nullptr;
  zuConnectReply reply_;
};
