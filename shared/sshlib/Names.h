#pragma once
// Protocol numbers of SSH-2 and their symbolic names for messages and logs.
#include <cryptopp/config.h>

#include <string>

namespace SSH {

// Message numbers (RFC 4250 section 4.1).
enum MessageNumber : CryptoPP::byte {
  kMsgDisconnect = 1,
  kMsgIgnore = 2,
  kMsgUnimplemented = 3,
  kMsgDebug = 4,
  kMsgServiceRequest = 5,
  kMsgServiceAccept = 6,
  kMsgKexInit = 20,
  kMsgNewKeys = 21,
  kMsgKexDHInit = 30,
  kMsgKexDHReply = 31,
  kMsgUserAuthRequest = 50,
  kMsgUserAuthFailure = 51,
  kMsgUserAuthSuccess = 52,
  kMsgUserAuthBanner = 53,
  kMsgUserAuthMethodSpecific1 = 60,  // PK_OK, PASSWD_CHANGEREQ
  kMsgGlobalRequest = 80,
  kMsgRequestSuccess = 81,
  kMsgRequestFailure = 82,
  kMsgChannelOpen = 90,
  kMsgChannelOpenConfirmation = 91,
  kMsgChannelOpenFailure = 92,
  kMsgChannelWindowAdjust = 93,
  kMsgChannelData = 94,
  kMsgChannelExtendedData = 95,
  kMsgChannelEof = 96,
  kMsgChannelClose = 97,
  kMsgChannelRequest = 98,
  kMsgChannelSuccess = 99,
  kMsgChannelFailure = 100,
};

// Disconnect reason codes (RFC 4253 section 11.1).
enum DisconnectReason : CryptoPP::word32 {
  kDisconnectHostNotAllowedToConnect = 1,
  kDisconnectProtocolError = 2,
  kDisconnectKeyExchangeFailed = 3,
  kDisconnectReserved = 4,
  kDisconnectMacError = 5,
  kDisconnectCompressionError = 6,
  kDisconnectServiceNotAvailable = 7,
  kDisconnectProtocolVersionNotSupported = 8,
  kDisconnectHostKeyNotVerifiable = 9,
  kDisconnectConnectionLost = 10,
  kDisconnectByApplication = 11,
  kDisconnectTooManyConnections = 12,
  kDisconnectAuthCancelledByUser = 13,
  kDisconnectNoMoreAuthMethodsAvailable = 14,
  kDisconnectIllegalUserName = 15,
};

// Channel-open failure reason codes (RFC 4254 section 5.1).
enum ChannelOpenFailureReason : CryptoPP::word32 {
  kOpenAdministrativelyProhibited = 1,
  kOpenConnectFailed = 2,
  kOpenUnknownChannelType = 3,
  kOpenResourceShortage = 4,
};

// Each gives the symbolic name, or the code in decimal followed by
// " (unrecognized)" for a code without one.
std::string disconnectReasonName(CryptoPP::word32 code);
std::string channelOpenFailureReasonName(CryptoPP::word32 code);
std::string messageName(unsigned number);

}  // namespace SSH
