// OpenSSH's client (openssh-client) against the library's server manager
// on 127.0.0.1: key exchange, publickey (DSA key) and password authentication, a
// session channel with an exec request, its output, exit status and close.
#include <gtest/gtest.h>

#include <future>

#include "KeyTestSupport.h"
#include "ManagerTestSupport.h"
#include "loam/net/zuTCPEndpoint.h"
#include "sshlib/KeyFiles.h"
#include "sshlib/PemPrivateKey.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using namespace sshtest;

// Answers "exec": "count" counts the bytes up to EOF and reports them, any
// other command gets one line naming it; then exit status 0, EOF and CLOSE.
class ExecChannel : public TestChannel {
 public:
  bool HandleRequest(SSH::Manager& manager, const std::string& type, bool wantReply,
                     CryptoPP::BufferedTransformation& message,
                     CryptoPP::BufferedTransformation& output) override {
    if (type != "exec") return false;
    manager_ = &manager;
    SSH::getStdString(message, command_);
    if (wantReply) {
      SSH::putByte(output, SSH::kMsgChannelSuccess);
      SSH::putUInt32(output, remoteNumber());
      output.MessageEnd();
    }
    if (command_ != "count") finish("sshlib ran: " + command_ + "\n");
    return true;
  }

  void OnEof() override {
    if (command_ == "count") finish(std::to_string(counted_) + " bytes\n");
  }

  // Received data are counted, not kept, so the window re-opens.
  CryptoPP::BufferedTransformation* GetDataSink() override { return nullptr; }
  void SkipData(CryptoPP::BufferedTransformation& message, CryptoPP::word32 length) override {
    counted_ += length;
    message.Skip(length);
  }

  bool* served = nullptr;

 private:
  void finish(const std::string& reply) {
    manager_->sendChannelData(localNumber(), bytes(reply), reply.size());
    manager_->flushChannel(localNumber(), true);
    CryptoPP::BufferedTransformation& output = manager_->output();
    SSH::putByte(output, SSH::kMsgChannelRequest);
    SSH::putUInt32(output, remoteNumber());
    SSH::putStdString(output, "exit-status");
    SSH::putBoolean(output, false);
    SSH::putUInt32(output, 0);
    output.MessageEnd();
    manager_->sendChannelEof(localNumber());
    manager_->closeChannel(localNumber());
    *served = true;
  }

  SSH::Manager* manager_ = nullptr;
  std::string command_;
  unsigned long long counted_ = 0;
};

class ExecManager : public TestManager {
 public:
  using TestManager::TestManager;
  std::unique_ptr<SSH::Channel> CreatePeerChannel(const std::string& type) override {
    if (type != "session") return nullptr;
    auto channel = std::make_unique<ExecChannel>();
    channel->served = &served;
    return channel;
  }
  void OnInputStateChange(CryptoPP::word32 newState, SSH::TransportState&) override {
    if (newState == SSH::TransportState::kInKexInitReceived) ++keyExchanges;
  }
  bool served = false;
  int keyExchanges = 0;
};

// The client answers our CLOSE with its own and may disconnect (reason 11)
// in the same read, before a channel pump could remove the channel.
bool peerClosed(const SSH::Manager& manager) {
  const SSH::Channel* channel = manager.getChannel(0);
  return !channel || channel->closeReceived();
}

// Serves one connection; "" when the exec request was served and the
// channel closed both ways, else what went wrong.
std::string serveOne(zuTCPEndpoint& listener, int& keyExchanges) {
  std::unique_ptr<zuNetEndpoint> peer = listener.accept();
  if (!peer) return "no connection";
  CryptoPP::AutoSeededRandomPool random;
  SSH::TransportState state{random};
  state.setHostKey(&Connection::hostKey());
  ServerAuthenticator auth;
  auth.methodsCanContinue = "publickey,password";
  auth.keyBlob = dsaBlob();
  CryptoPP::ByteQueue wire;
  ExecManager manager{state, auth, new SSH::PacketEncoder(state, new CryptoPP::Redirector(wire))};
  SSH::PacketDecoder decoder{state, new CryptoPP::Redirector(manager)};
  struct Count {
    ExecManager& m;
    int& out;
    ~Count() { out = m.keyExchanges; }
  } reportKeyExchanges{manager, keyExchanges};
  try {
    manager.sendVersion(SSH::makeVersionString("sshlib test server"));
    manager.sendKexInit(Connection::kexInit("aes256-cbc", "hmac-sha1", "zlib,none"));
    for (int round = 0; round < 5000; ++round) {
      const std::string out = take(wire);
      if (!out.empty() &&
          (peer->write(out.data(), static_cast<u32>(out.size())) != 0 || peer->flush() != 0)) {
        return "write failed";
      }
      if (manager.served && peerClosed(manager)) return "";
      char buffer[4096];
      u32 count = sizeof buffer;
      const u16 status = peer->readSome(buffer, &count);
      if (count > 0) decoder.Put(reinterpret_cast<const CryptoPP::byte*>(buffer), count);
      manager.pumpChannels();
      if (manager.served && peerClosed(manager)) return "";
      if (status != 0 && status != 258) return "read status " + std::to_string(status);
    }
  } catch (const CryptoPP::Exception& e) {
    return e.what();
  }
  return "not done in time";
}

TEST(ManagerOpenSSHPeerTest, OpenSSHClientRunsCommands) {
  SSH_REQUIRE_TOOL("ssh");
  tw::test::ScratchDir scratch;
  CryptoPP::ByteQueue der;
  SSH::encodeDsaPrivateKey(dsaKey(), der);
  CryptoPP::ByteQueue pem;
  SSH::writePemPrivateKey(pem, "DSA", rng(), nullptr, 0, block(contents(der)));
  const std::string keyFile = scratch.file("id_dsa");
  SSH::writeKeyFile(keyFile, contents(pem), true);

  struct Case {
    const char* what;
    const char* input;  // shell command feeding ssh's stdin
    const char* options;
    const char* command;
    const char* output;
    int minKeyExchanges;
  };
  // OpenSSH starts a new key exchange every RekeyLimit bytes: each is a
  // peer-started rekey in the middle of channel data.
  const Case cases[] = {
      {"exec", "true", "", "echo hi", "sshlib ran: echo hi\n", 1},
      {"password", "true", "-o PreferredAuthentications=password -o BatchMode=no", "echo pw",
       "sshlib ran: echo pw\n", 1},
      {"1 MB with rekeys", "head -c 1000000 /dev/urandom", "-o RekeyLimit=128K", "count",
       "1000000 bytes\n", 4},
  };
  // OpenSSH asks for a password through this program when there is no
  // terminal.
  const std::string askpass = scratch.file("askpass");
  tw::test::writeFileBytes(askpass, "#!/bin/sh\necho s3cret\n");
  ASSERT_EQ(tw::test::runTool("chmod 700 " + tw::test::shellQuote(askpass)), 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    zuTCPEndpoint listener(nullptr, 10000);
    ASSERT_EQ(listener.listen(0, zuIPAddress("127.0.0.1")), 0);
    int keyExchanges = 0;
    auto server = std::async(std::launch::async, [&] { return serveOne(listener, keyExchanges); });
    const std::string command =
        std::string(k.input) + " | SSH_ASKPASS=" + tw::test::shellQuote(askpass) +
        " SSH_ASKPASS_REQUIRE=force timeout 60 ssh -F /dev/null -p " +
        std::to_string(listener.localPort()) + " -i " + tw::test::shellQuote(keyFile) + " " +
        k.options +  // ssh keeps the first value given for an option
        " -o IdentitiesOnly=yes -o IdentityAgent=none -o BatchMode=yes"
        " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
        " -o ConnectTimeout=10 -o KexAlgorithms=diffie-hellman-group1-sha1"
        " -o HostKeyAlgorithms=ssh-dss -o Ciphers=aes256-cbc -o MACs=hmac-sha1"
        " -o PubkeyAcceptedAlgorithms=ssh-dss -o Compression=yes alice@127.0.0.1 " +
        tw::test::shellQuote(k.command) + " 2>&1";
    std::string output;
    const int status = tw::test::runTool(command, &output);
    EXPECT_EQ(server.get(), "");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, k.output);
    EXPECT_GE(keyExchanges, k.minKeyExchanges);
  }
}

}  // namespace
