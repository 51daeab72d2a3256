#pragma once
// Channels, managers and authenticators for the connection-layer tests: a
// payload builder, a fixture manager fed payloads directly, and a client and
// a server manager joined in memory through real encoders and decoders.
#include <cryptopp/dsa.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PacketTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Authenticator.h"
#include "sshlib/Channel.h"
#include "sshlib/DsaKeys.h"
#include "sshlib/Encoding.h"
#include "sshlib/KexInit.h"
#include "sshlib/Manager.h"
#include "sshlib/Names.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/TransportState.h"
#include "sshlib/VersionInfo.h"

namespace sshtest {

// Builds one payload in SSH encoding.
class Payload {
 public:
  explicit Payload(CryptoPP::byte number) { SSH::putByte(q_, number); }
  Payload& u8(CryptoPP::byte v) {
    SSH::putByte(q_, v);
    return *this;
  }
  Payload& u32(CryptoPP::word32 v) {
    SSH::putUInt32(q_, v);
    return *this;
  }
  Payload& boolean(bool v) {
    SSH::putBoolean(q_, v);
    return *this;
  }
  Payload& str(const std::string& s) {
    SSH::putStdString(q_, s);
    return *this;
  }
  Payload& raw(const std::string& s) {
    put(q_, s);
    return *this;
  }
  std::string bytes() const { return contents(q_); }

 private:
  CryptoPP::ByteQueue q_;
};

// Reads the fields of a message written by the library.
struct Reader {
  explicit Reader(const std::string& message) : q(queueOf(message)) {}
  CryptoPP::byte u8() { return SSH::getByte(q); }
  CryptoPP::word32 u32() { return SSH::getUInt32(q); }
  bool boolean() { return SSH::getBoolean(q); }
  std::string str() {
    std::string s;
    SSH::getStdString(q, s);
    return s;
  }
  CryptoPP::ByteQueue q;
};

// A channel that keeps what it receives, plain and extended apart, and
// re-opens its window as a session channel does.
class TestChannel : public SSH::Channel {
 public:
  static constexpr CryptoPP::word32 kMaxWindow = 0x3f800;

  bool HandleOpenRequest(SSH::Manager& m, CryptoPP::BufferedTransformation& message,
                         CryptoPP::BufferedTransformation& data) override {
    if (defaultOpen) return SSH::Channel::HandleOpenRequest(m, message, data);
    return acceptOpen;
  }
  bool ConfirmOpen(SSH::Manager&, CryptoPP::BufferedTransformation&) override { return true; }
  bool HandleRequest(SSH::Manager&, const std::string& type, bool,
                     CryptoPP::BufferedTransformation&,
                     CryptoPP::BufferedTransformation&) override {
    requests.push_back(type);
    return false;
  }
  void OnPumpOpen() override {}
  void OnPumpBeforeEof() override {}
  void OnEof() override {}
  void OnClose() override {}
  void OnPendingAfterEnd() override {}
  CryptoPP::word32 GetMaxWindowSize() override { return kMaxWindow; }
  CryptoPP::word32 GetBufferedSize() override {
    return static_cast<CryptoPP::word32>(received.CurrentSize());
  }
  CryptoPP::BufferedTransformation* GetDataSink() override { return &received; }
  CryptoPP::BufferedTransformation* GetExtendedDataSink() override { return &extended; }

  bool acceptOpen = true;
  bool defaultOpen = false;
  CryptoPP::ByteQueue received{256};
  CryptoPP::ByteQueue extended{256};
  std::vector<std::string> requests;
};

class TestManager : public SSH::Manager {
 public:
  using SSH::Manager::Manager;

  CryptoPP::word32 GetWaitObjectLimit() override { return 0; }
  std::unique_ptr<SSH::Channel> CreateChannel(const std::string&, const std::string&) override {
    return std::make_unique<TestChannel>();
  }
  std::unique_ptr<SSH::Channel> CreatePeerChannel(const std::string& type) override {
    if (!acceptPeerChannels || type != "session") return nullptr;
    auto channel = std::make_unique<TestChannel>();
    channel->acceptOpen = peerOpen == PeerOpen::kConfirm;
    channel->defaultOpen = peerOpen == PeerOpen::kDefault;
    return channel;
  }
  void OnUnimplemented(CryptoPP::word32 sequence) override { unimplemented.push_back(sequence); }

  TestChannel* channel(CryptoPP::word32 number) const {
    return dynamic_cast<TestChannel*>(getChannel(number));
  }

  enum class PeerOpen { kConfirm, kLater, kDefault };
  bool acceptPeerChannels = false;
  PeerOpen peerOpen = PeerOpen::kConfirm;
  std::vector<CryptoPP::word32> unimplemented;
};

// A server-side authenticator with one user, one password and one key.
class ServerAuthenticator : public SSH::Authenticator {
 public:
  ServerAuthenticator() { methodsCanContinue = "publickey,password"; }

  void HandleRequest(SSH::Manager& manager, const std::string& method,
                     CryptoPP::BufferedTransformation& message) override {
    if (method != "password" && method != "publickey") return;  // left undecided
    if (userName != user) return fail();
    const bool flag = SSH::getBoolean(message);
    if (method == "password") {
      std::string given;
      SSH::getStdString(message, given);
      if (flag || given != password) return fail();
      state = kSuccess;
      return;
    }
    std::string algorithm, blob;
    SSH::getStdString(message, algorithm);
    SSH::getStdString(message, blob);
    if (blob != keyBlob || !SSH::Manager::isSupportedKey(algorithm, blob)) return fail();
    if (!flag) {
      acceptedKeyAlgorithm = algorithm;
      acceptedKeyBlob = blob;
      state = kPublicKeyAcceptable;
      return;
    }
    std::string signature;
    SSH::getStdString(message, signature);
    if (manager.verifyPublicKeyAuth(userName, algorithm, blob, signature)) {
      state = kSuccess;
    } else {
      fail();
    }
  }

  std::string user = "alice";
  std::string password = "s3cret";
  std::string keyBlob;
};

// A fixture manager past authentication (receive state 6, send state 5,
// authenticator state 6) whose output is recorded message by message.
struct ManagerFixture {
  CountingRng rng;
  SSH::TransportState state{rng};
  SSH::Authenticator auth;
  MessageRecorder* out = new MessageRecorder;  // owned by the manager
  TestManager manager{state, auth, out};

  ManagerFixture() {
    state.setInputState(SSH::TransportState::kInServiceRunning);
    state.setOutputState(SSH::TransportState::kOutServiceRunning);
    state.setServiceStarted();
    auth.state = SSH::Authenticator::kSuccess;
  }

  // One payload as the decoder delivers it: the sequence number is counted
  // before the payload arrives.
  void feed(const std::string& payload) {
    state.incrementInSequence();
    manager.PutMessageEnd(bytes(payload), payload.size());
  }

  std::string feedError(const std::string& payload, unsigned reason = 2) {
    return disconnectOf([&] { feed(payload); }, reason);
  }

  // An own channel, opened and confirmed with the given window and packet.
  TestChannel& openConfirmed(CryptoPP::word32 window, CryptoPP::word32 maxPacket,
                             CryptoPP::word32 remoteNumber = 7) {
    SSH::Channel* c = manager.openChannel("session");
    manager.sendChannelOpen(*c);
    feed(Payload(SSH::kMsgChannelOpenConfirmation)
             .u32(c->localNumber())
             .u32(remoteNumber)
             .u32(window)
             .u32(maxPacket)
             .bytes());
    return *manager.channel(c->localNumber());
  }

  // Messages written since the last call.
  std::vector<std::string> written() {
    std::vector<std::string> result(out->messages.begin() + static_cast<long>(seen_),
                                    out->messages.end());
    seen_ = out->messages.size();
    return result;
  }

 private:
  size_t seen_ = 0;
};

// Notes the first byte of every message on its way to the encoder.
class NumberTap : public CryptoPP::Bufferless<CryptoPP::Filter> {
 public:
  NumberTap(std::vector<CryptoPP::byte>& numbers, CryptoPP::BufferedTransformation* next)
      : numbers_(numbers) {
    Detach(next);
  }
  size_t Put2(const CryptoPP::byte* in, size_t length, int messageEnd, bool blocking) override {
    if (!started_ && length > 0) {
      numbers_.push_back(in[0]);
      started_ = true;
    }
    if (messageEnd) started_ = false;
    return AttachedTransformation()->Put2(in, length, messageEnd, blocking);
  }

 private:
  std::vector<CryptoPP::byte>& numbers_;
  bool started_ = false;
};

// One side of an in-memory connection: manager between a real decoder and
// a real encoder; the encoder writes to this side's outgoing wire.
struct Side {
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState state{rng};
  std::unique_ptr<SSH::Authenticator> auth;
  CryptoPP::ByteQueue wire;  // bytes this side sent, not yet delivered
  std::unique_ptr<TestManager> manager;
  std::unique_ptr<SSH::PacketDecoder> decoder;
  std::vector<CryptoPP::byte> sentNumbers;  // message numbers this side wrote

  explicit Side(std::unique_ptr<SSH::Authenticator> a) : auth(std::move(a)) {
    auto* encoder = new SSH::PacketEncoder(state, new CryptoPP::Redirector(wire));
    manager = std::make_unique<TestManager>(state, *auth, new NumberTap(sentNumbers, encoder));
    decoder = std::make_unique<SSH::PacketDecoder>(state, new CryptoPP::Redirector(*manager));
  }
};

// A client and a server joined in memory.
struct Connection {
  static const CryptoPP::DSA::PrivateKey& hostKey() {
    static CryptoPP::AutoSeededRandomPool rng;
    static const auto key = SSH::generateDsaKey(rng, 1024);
    return *key;
  }

  static SSH::KexInit kexInit(const std::string& ciphers = SSH::defaultCiphers,
                              const std::string& macs = SSH::defaultMacs,
                              const std::string& compressions = SSH::defaultCompressions) {
    SSH::KexInit k;
    k.setKexAlgorithms("diffie-hellman-group1-sha1");
    k.setHostKeyAlgorithms("ssh-dss");
    k.setEncryptionAlgorithms(ciphers);
    k.setMacAlgorithms(macs);
    k.setCompressionAlgorithms(compressions);
    return k;
  }

  Side client{std::make_unique<SSH::Authenticator>()};
  Side server{std::make_unique<ServerAuthenticator>()};
  ServerAuthenticator& serverAuth() { return static_cast<ServerAuthenticator&>(*server.auth); }

  explicit Connection(const SSH::KexInit& init = kexInit()) : Connection(init, init) {}

  // afterClientKexInit may write what a client sends right behind its
  // KEXINIT (a guessed key exchange packet).
  Connection(const SSH::KexInit& clientInit, const SSH::KexInit& serverInit,
             const std::function<void(Side&)>& afterClientKexInit = {}) {
    server.state.setHostKey(&hostKey());
    server.manager->acceptPeerChannels = true;
    client.manager->sendVersion(SSH::makeVersionString("client test"));
    server.manager->sendVersion(SSH::makeVersionString("server test"));
    client.manager->sendKexInit(clientInit);
    if (afterClientKexInit) afterClientKexInit(client);
    server.manager->sendKexInit(serverInit);
  }

  // Moves the bytes both ways and pumps the channels until done() holds;
  // false when it does not within the bound.
  bool run(const std::function<bool()>& done, int rounds = 10000) {
    for (int i = 0; i < rounds; ++i) {
      if (done()) return true;
      step();
    }
    return done();
  }

  // One round: the channel pumps, then the bytes both ways.
  void step() {
    client.manager->pumpChannels();
    server.manager->pumpChannels();
    deliver(client, server);
    deliver(server, client);
  }

  static void deliver(Side& from, Side& to) {
    while (!from.wire.IsEmpty()) {
      CryptoPP::byte buffer[4096];
      const size_t n = from.wire.Get(buffer, sizeof buffer);
      to.decoder->Put(buffer, n);
    }
  }

  // Through the key exchange and the service request.
  bool startService() {
    if (!run(
            [&] { return client.state.inputState() == SSH::TransportState::kInNewKeysAtClient; })) {
      return false;
    }
    client.manager->sendServiceRequest();
    return run(
        [&] { return client.state.outputState() == SSH::TransportState::kOutServiceRunning; });
  }

  bool authenticateWithPassword() {
    if (!startService()) return false;
    const std::string& p = serverAuth().password;
    client.manager->sendPasswordRequest("alice", bytes(p), p.size());
    return run([&] { return client.auth->state == SSH::Authenticator::kSuccess; });
  }
};

}  // namespace sshtest
