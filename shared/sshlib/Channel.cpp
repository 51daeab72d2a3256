#include "sshlib/Channel.h"

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/Manager.h"
#include "sshlib/Names.h"

namespace SSH {

Channel::Channel() = default;
Channel::~Channel() = default;

CryptoPP::lword Channel::queuedSize() const {
  CryptoPP::lword size = sendQueue_.CurrentSize();
  for (const LaterData& later : laterData_) size += later.bytes.size();
  return size;
}

bool Channel::HandleOpenRequest(Manager&, CryptoPP::BufferedTransformation&,
                                CryptoPP::BufferedTransformation&) {
  throw ChannelOpenFailure(kOpenUnknownChannelType, "", kLanguage);
}

bool Channel::ConfirmOpen(Manager&, CryptoPP::BufferedTransformation&) {
  throw ChannelOpenFailure(kOpenUnknownChannelType, "", kLanguage);
}

void Channel::SendOpen(Manager&, CryptoPP::BufferedTransformation& output) {
  putByte(output, kMsgChannelOpen);
  putStdString(output, type_);
  putUInt32(output, localNumber_);
  putUInt32(output, localWindow_);
  putUInt32(output, localMaxPacket_);
  PutOpenData(output);
  output.MessageEnd();
  state_ = kOpenSent;
}

void Channel::consumeData(CryptoPP::BufferedTransformation& message,
                          CryptoPP::BufferedTransformation* sink) {
  const word32 length = getUInt32(message);
  if (message.MaxRetrievable() < length) {
    throw CauseToDisconnect(kDisconnectProtocolError, "unexpected end of packet", kLanguage);
  }
  if (length > localWindow_) {
    throw CauseToDisconnect(kDisconnectProtocolError, "data exceeds window size", kLanguage);
  }
  if (sink) {
    message.TransferTo(*sink, length);
  } else {
    SkipData(message, length);
  }
  localWindow_ -= length;
}

void Channel::HandleData(Manager&, CryptoPP::BufferedTransformation& message,
                         CryptoPP::BufferedTransformation&) {
  consumeData(message, GetDataSink());
}

void Channel::HandleExtendedData(Manager&, word32, CryptoPP::BufferedTransformation& message,
                                 CryptoPP::BufferedTransformation&) {
  consumeData(message, GetExtendedDataSink());
}

void Channel::SkipData(CryptoPP::BufferedTransformation& message, word32 length) {
  message.Skip(length);
}

}  // namespace SSH
