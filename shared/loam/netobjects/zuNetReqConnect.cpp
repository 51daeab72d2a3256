#include "loam/netobjects/zuNetReqConnect.h"

#include <stdexcept>

#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"

zuNetReqConnect::zuNetReqConnect() = default;

zuNetReqConnect::~zuNetReqConnect() = default;

u8 zuNetReqConnect::getType() const { return zuNOT_Connect; }

const char* zuNetReqConnect::getTypeName() const { return "zuNOT_Connect"; }

const char* zuNetReqConnect::getName() const { return "Connect"; }

void zuNetReqConnect::setReplyTarget(zuConnectReply* reply) {
  target_ = reply;
  outgoing().reset();
}

u16 zuNetReqConnect::processData(zuNetReader& reader, u32) {
  zuConnectReply r;
  try {
    r.protocolValue = reader.getUInt16();
    r.firstFlag = reader.getBool();
    r.firstConstant = reader.getUInt8();
    r.osText = reader.getStdString();
    r.secondConstant = reader.getUInt8();
    if (reader.bytesLeft() != 0) r.versionText = reader.getStdString();
    if (reader.bytesLeft() != 0) r.lastFlag = reader.getBool();
  } catch (const std::out_of_range&) {
    setUnexpectedDataError();
    return zuErrUnexpectedData;
  }
  reply_ = r;
  if (target_) *target_ = r;
  return 0;
}
