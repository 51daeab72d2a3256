#pragma once
// The SSH client's manager: every channel it opens is a SessionChannel, and
// it writes the session requests and the channel data of the client.
#include <memory>
#include <string>

#include "loam/terminal/SessionChannel.h"
#include "sshlib/Manager.h"

class ClientManager : public SSH::Manager {
 public:
  using SSH::Manager::Manager;

  CryptoPP::word32 GetWaitObjectLimit() override { return 0; }
  std::unique_ptr<SSH::Channel> CreateChannel(const std::string&, const std::string&) override {
    return std::make_unique<SessionChannel>();
  }

  // A pseudo-terminal "dumb" of 80 x 24 (640 x 480 pixels), no modes.
  void requestPty(CryptoPP::word32 channel);
  void requestShell(CryptoPP::word32 channel);
  void requestExec(CryptoPP::word32 channel, const std::string& command);
  // Channel data through the channel's send queue: packets of at most the
  // peer's maximum packet size and never beyond its window. What the window
  // holds back goes out from later channel pumps.
  void sendData(CryptoPP::word32 channel, const std::string& data);
  void sendDataBuffer(CryptoPP::word32 channel, const CryptoPP::byte* bytes, size_t length);

  // The session channel of that number, or null.
  SessionChannel* sessionChannel(CryptoPP::word32 channel) const {
    return dynamic_cast<SessionChannel*>(getChannel(channel));
  }

 private:
  // CHANNEL_REQUEST with want-reply set, up to the request type.
  void writeRequestHeader(CryptoPP::word32 channel, const char* type);
};
