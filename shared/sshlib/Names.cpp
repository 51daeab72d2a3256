#include "sshlib/Names.h"

#include <array>
#include <utility>

namespace SSH {

namespace {

using Entry = std::pair<unsigned, const char*>;

template <size_t N>
std::string lookup(const std::array<Entry, N>& table, unsigned long long code) {
  for (const auto& [number, name] : table)
    if (number == code) return name;
  return std::to_string(code) + " (unrecognized)";
}

constexpr std::array<Entry, 15> kDisconnectNames{{
    {1, "SSH_DISCONNECT_HOST_NOT_ALLOWED_TO_CONNECT"},
    {2, "SSH_DISCONNECT_PROTOCOL_ERROR"},
    {3, "SSH_DISCONNECT_KEY_EXCHANGE_FAILED"},
    {4, "SSH_DISCONNECT_RESERVED"},
    {5, "SSH_DISCONNECT_MAC_ERROR"},
    {6, "SSH_DISCONNECT_COMPRESSION_ERROR"},
    {7, "SSH_DISCONNECT_SERVICE_NOT_AVAILABLE"},
    {8, "SSH_DISCONNECT_PROTOCOL_VERSION_NOT_SUPPORTED"},
    {9, "SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE"},
    {10, "SSH_DISCONNECT_CONNECTION_LOST"},
    {11, "SSH_DISCONNECT_BY_APPLICATION"},
    {12, "SSH_DISCONNECT_TOO_MANY_CONNECTIONS"},
    {13, "SSH_DISCONNECT_AUTH_CANCELLED_BY_USER"},
    {14, "SSH_DISCONNECT_NO_MORE_AUTH_METHODS_AVAILABLE"},
    {15, "SSH_DISCONNECT_ILLEGAL_USER_NAME"},
}};

constexpr std::array<Entry, 4> kChannelOpenFailureNames{{
    {1, "SSH_OPEN_ADMINISTRATIVELY_PROHIBITED"},
    {2, "SSH_OPEN_CONNECT_FAILED"},
    {3, "SSH_OPEN_UNKNOWN_CHANNEL_TYPE"},
    {4, "SSH_OPEN_RESOURCE_SHORTAGE"},
}};

constexpr std::array<Entry, 29> kMessageNames{{
    {1, "SSH_MSG_DISCONNECT"},
    {2, "SSH_MSG_IGNORE"},
    {3, "SSH_MSG_UNIMPLEMENTED"},
    {4, "SSH_MSG_DEBUG"},
    {5, "SSH_MSG_SERVICE_REQUEST"},
    {6, "SSH_MSG_SERVICE_ACCEPT"},
    {20, "SSH_MSG_KEXINIT"},
    {21, "SSH_MSG_NEWKEYS"},
    {30, "SSH_MSG_KEXDH_INIT"},
    {31, "SSH_MSG_KEXDH_REPLY"},
    {50, "SSH_MSG_USERAUTH_REQUEST"},
    {51, "SSH_MSG_USERAUTH_FAILURE"},
    {52, "SSH_MSG_USERAUTH_SUCCESS"},
    {53, "SSH_MSG_USERAUTH_BANNER"},
    {60, "SSH_MSG_USERAUTH_METHODSPECIFIC_1 (PK_OK, PASSWD_CHANGEREQ)"},
    {80, "SSH_MSG_GLOBAL_REQUEST"},
    {81, "SSH_MSG_REQUEST_SUCCESS"},
    {82, "SSH_MSG_REQUEST_FAILURE"},
    {90, "SSH_MSG_CHANNEL_OPEN"},
    {91, "SSH_MSG_CHANNEL_OPEN_CONFIRMATION"},
    {92, "SSH_MSG_CHANNEL_OPEN_FAILURE"},
    {93, "SSH_MSG_CHANNEL_WINDOW_ADJUST"},
    {94, "SSH_MSG_CHANNEL_DATA"},
    {95, "SSH_MSG_CHANNEL_EXTENDED_DATA"},
    {96, "SSH_MSG_CHANNEL_EOF"},
    {97, "SSH_MSG_CHANNEL_CLOSE"},
    {98, "SSH_MSG_CHANNEL_REQUEST"},
    {99, "SSH_MSG_CHANNEL_SUCCESS"},
    {100, "SSH_MSG_CHANNEL_FAILURE"},
}};

}  // namespace

std::string disconnectReasonName(CryptoPP::word32 code) { return lookup(kDisconnectNames, code); }

std::string channelOpenFailureReasonName(CryptoPP::word32 code) {
  return lookup(kChannelOpenFailureNames, code);
}

std::string messageName(unsigned number) { return lookup(kMessageNames, number); }

}  // namespace SSH
