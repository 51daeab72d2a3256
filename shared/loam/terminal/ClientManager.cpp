#include "loam/terminal/ClientManager.h"

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"

namespace {

constexpr CryptoPP::byte kMsgChannelRequest = 98;

}  // namespace

void ClientManager::writeRequestHeader(CryptoPP::word32 channel, const char* type) {
  SSH::Channel* c = getChannel(channel);
  if (c == nullptr) throw SSH::Err(SSH::Err::kInvalidArgument, "no such channel number");
  SSH::putByte(output(), kMsgChannelRequest);
  SSH::putUInt32(output(), c->remoteNumber());
  SSH::putStdString(output(), type);
  SSH::putBoolean(output(), true);
}

void ClientManager::requestPty(CryptoPP::word32 channel) {
  writeRequestHeader(channel, "pty-req");
  SSH::putStdString(output(), "dumb");
  SSH::putUInt32(output(), 80);
  SSH::putUInt32(output(), 24);
  SSH::putUInt32(output(), 640);
  SSH::putUInt32(output(), 480);
  SSH::putStdString(output(), "");
  output().MessageEnd();
}

void ClientManager::requestShell(CryptoPP::word32 channel) {
  writeRequestHeader(channel, "shell");
  output().MessageEnd();
}

void ClientManager::requestExec(CryptoPP::word32 channel, const std::string& command) {
  writeRequestHeader(channel, "exec");
  SSH::putStdString(output(), command);
  output().MessageEnd();
}

void ClientManager::sendData(CryptoPP::word32 channel, const std::string& data) {
  sendDataBuffer(channel, reinterpret_cast<const CryptoPP::byte*>(data.data()), data.size());
}

void ClientManager::sendDataBuffer(CryptoPP::word32 channel, const CryptoPP::byte* bytes,
                                   size_t length) {
  sendChannelData(channel, bytes, length);
  flushChannel(channel, true);
}
