// Arbitrary decoded payloads fed to a connection manager.
// Byte 0 picks the set-up:
//   bits 0-1: 0 a client past authentication with one open channel; 1 a
//             server during user authentication that accepts channels;
//             2 a client whose KEXINIT is out (key exchange); 3 a server
//             awaiting the service request
// The rest is a list of payloads, each a length byte n and n + 1 bytes;
// the channels are pumped after each. Only the library's errors (which all
// derive from the dependency's Exception) may leave the manager, and once
// one has, the manager must refuse every later payload.
#include <cryptopp/dsa.h>
#include <cryptopp/filters.h>
#include <cryptopp/queue.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sshlib/Authenticator.h"
#include "sshlib/Channel.h"
#include "sshlib/DsaKeys.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/KexInit.h"
#include "sshlib/Manager.h"
#include "sshlib/TransportState.h"
#include "sshlib/VersionInfo.h"

namespace {

using CryptoPP::byte;

class FixedRng : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(byte* output, size_t size) override {
    for (size_t i = 0; i < size; ++i) output[i] = static_cast<byte>(i * 7 + 1);
  }
};

class QueueChannel : public SSH::Channel {
 public:
  bool HandleOpenRequest(SSH::Manager&, CryptoPP::BufferedTransformation&,
                         CryptoPP::BufferedTransformation&) override {
    return true;
  }
  void OnPumpOpen() override {}
  void OnPumpBeforeEof() override {}
  void OnEof() override {}
  void OnClose() override {}
  void OnPendingAfterEnd() override {}
  CryptoPP::word32 GetMaxWindowSize() override { return 0x3f800; }
  CryptoPP::word32 GetBufferedSize() override {
    return static_cast<CryptoPP::word32>(received.CurrentSize());
  }
  CryptoPP::BufferedTransformation* GetDataSink() override { return &received; }
  CryptoPP::BufferedTransformation* GetExtendedDataSink() override { return &received; }
  CryptoPP::ByteQueue received{256};
};

class FuzzManager : public SSH::Manager {
 public:
  using SSH::Manager::Manager;
  CryptoPP::word32 GetWaitObjectLimit() override { return 0; }
  std::unique_ptr<SSH::Channel> CreateChannel(const std::string&, const std::string&) override {
    return std::make_unique<QueueChannel>();
  }
  std::unique_ptr<SSH::Channel> CreatePeerChannel(const std::string& type) override {
    if (!server || type != "session") return nullptr;
    return std::make_unique<QueueChannel>();
  }
  bool server = false;
};

class PasswordAuthenticator : public SSH::Authenticator {
 public:
  PasswordAuthenticator() { methodsCanContinue = "password,publickey"; }
  void HandleRequest(SSH::Manager&, const std::string& method,
                     CryptoPP::BufferedTransformation& message) override {
    if (method != "password") return fail();
    SSH::getBoolean(message);
    std::string password;
    SSH::getStdString(message, password);
    if (password == "pw") state = kSuccess;
  }
};

const CryptoPP::DSA::PrivateKey& hostKey() {
  static FixedRng rng;
  static const auto key = SSH::generateDsaKey(rng, 1024);
  return *key;
}

SSH::KexInit kexInit() {
  SSH::KexInit k;
  k.setKexAlgorithms("diffie-hellman-group1-sha1");
  k.setHostKeyAlgorithms("ssh-dss");
  k.setEncryptionAlgorithms("aes256-cbc,none");
  k.setMacAlgorithms("hmac-sha1,none");
  k.setCompressionAlgorithms("zlib,none");
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned mode = data[0] & 3u;
  FixedRng rng;
  SSH::TransportState state(rng);
  PasswordAuthenticator auth;
  FuzzManager manager(state, auth, new CryptoPP::BitBucket);
  manager.server = mode == 1 || mode == 3;
  if (manager.server) state.setHostKey(&hostKey());
  state.setPeerVersion(SSH::parseVersionLine("SSH-2.0-peer"));
  state.setOwnVersion(SSH::makeVersionString("fuzz 1"));

  try {
    switch (mode) {
      case 0: {
        state.setInputState(SSH::TransportState::kInServiceRunning);
        state.setOutputState(SSH::TransportState::kOutServiceRunning);
        state.setServiceStarted();
        auth.state = SSH::Authenticator::kSuccess;
        manager.sendChannelOpen(*manager.openChannel("session"));
        break;
      }
      case 1:
        state.setInputState(SSH::TransportState::kInServiceRunning);
        state.setOutputState(SSH::TransportState::kOutServiceRunning);
        state.setServiceStarted();
        break;
      case 2:
        state.setInputState(SSH::TransportState::kInVersionReceived);
        state.setOutputState(SSH::TransportState::kOutVersionSent);
        manager.sendKexInit(kexInit());
        break;
      default:
        state.setInputState(SSH::TransportState::kInNewKeysAtServer);
        state.setOutputState(SSH::TransportState::kOutNewKeysBeforeService);
        break;
    }
  } catch (...) {
    std::abort();  // the set-up itself must work
  }

  bool failed = false;
  for (size_t at = 1; at < size;) {
    const size_t n = std::size_t{data[at++]} + 1;
    const size_t take = n < size - at ? n : size - at;
    state.incrementInSequence();
    try {
      manager.PutMessageEnd(data + at, take);
      if (failed) std::abort();  // a broken manager took more input
      manager.pumpChannels();
    } catch (const CryptoPP::Exception&) {
      if (!manager.isBroken()) std::abort();
      failed = true;
    }
    at += take;
  }
  return 0;
}
