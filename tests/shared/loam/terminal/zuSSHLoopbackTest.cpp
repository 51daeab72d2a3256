// The SSH client against the library's own server side over TCP loopback,
// for the ciphers no real peer here speaks (twofish-cbc, arcfour): the server
// runs its pipeline on the same endpoint source and sink, on a thread of its
// own, and echoes every byte of a channel.
#include <cryptopp/osrng.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "loam/base/zuException.h"
#include "loam/base/zuTimer.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/terminal/zuEndpointSink.h"
#include "loam/terminal/zuEndpointSource.h"
#include "loam/terminal/zuSSH.h"
#include "sshlib/DsaKeys.h"
#include "sshlib/Encoding.h"
#include "sshlib/KexInit.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/VersionInfo.h"

namespace {

const zuIPAddress kLoopback("127.0.0.1");

// The client's own channel class, opened by the peer here; one that never
// confirms leaves the open unanswered.
class EchoChannel : public SessionChannel {
 public:
  explicit EchoChannel(bool confirm) : confirm_(confirm) {}
  bool HandleOpenRequest(SSH::Manager&, CryptoPP::BufferedTransformation&,
                         CryptoPP::BufferedTransformation&) override {
    return confirm_;
  }
  bool ConfirmOpen(SSH::Manager&, CryptoPP::BufferedTransformation&) override { return confirm_; }
  bool HandleRequest(SSH::Manager&, const std::string& type, bool,
                     CryptoPP::BufferedTransformation&,
                     CryptoPP::BufferedTransformation&) override {
    return type == "exec";
  }

 private:
  bool confirm_;
};

class EchoManager : public SSH::Manager {
 public:
  using SSH::Manager::Manager;
  CryptoPP::word32 GetWaitObjectLimit() override { return 0; }
  std::unique_ptr<SSH::Channel> CreatePeerChannel(const std::string& type) override {
    if (type != "session") return nullptr;
    return std::make_unique<EchoChannel>(confirm);
  }
  bool confirm = true;
  // Sends back what each channel has received.
  void echo() {
    for (CryptoPP::word32 n = 0; n < 64; ++n) {
      auto* channel = dynamic_cast<EchoChannel*>(getChannel(n));
      if (channel == nullptr || channel->state() != SSH::Channel::kOpen) continue;
      std::string bytes(channel->receiveQueue().CurrentSize(), '\0');
      if (bytes.empty()) continue;
      channel->receiveQueue().Get(reinterpret_cast<CryptoPP::byte*>(bytes.data()), bytes.size());
      sendChannelData(n, reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
      flushChannel(n, true);
    }
  }
};

class PasswordCheck : public SSH::Authenticator {
 public:
  PasswordCheck() { methodsCanContinue = "password"; }
  void HandleRequest(SSH::Manager&, const std::string& method,
                     CryptoPP::BufferedTransformation& message) override {
    if (method != "password" || userName != "agent") return fail();
    SSH::getBoolean(message);
    std::string given;
    SSH::getStdString(message, given);
    if (given == "pw")
      state = kSuccess;
    else
      fail();
  }
};

// The server side of one connection, run on its own thread.
class LoopbackServer {
 public:
  LoopbackServer(const std::string& cipher, const std::string& mac, bool confirm = true)
      : confirm_(confirm) {
    EXPECT_EQ(listener_.listen(0, kLoopback), 0);
    thread_ = std::thread([this, cipher, mac] { serve(cipher, mac); });
  }
  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
  }
  u16 port() const { return listener_.localPort(); }
  std::string failure() const { return failure_; }

 private:
  void serve(const std::string& cipher, const std::string& mac) {
    std::unique_ptr<zuNetEndpoint> peer = listener_.accept();
    if (!peer) return;
    CryptoPP::AutoSeededRandomPool rng;
    const auto hostKey = SSH::generateDsaKey(rng, 1024);
    SSH::TransportState state(rng);
    state.setHostKey(hostKey.get());
    PasswordCheck auth;
    auto* sink = new zuEndpointSink(peer.get());
    sink->setWriteTimeout(10000);
    auto* manager = new EchoManager(state, auth, new SSH::PacketEncoder(state, sink));
    manager->confirm = confirm_;
    zuEndpointSource source(peer.get(), new SSH::PacketDecoder(state, manager));
    try {
      manager->sendVersion(SSH::makeVersionString("loopback server"));
      SSH::KexInit kexInit;
      kexInit.setKexAlgorithms("diffie-hellman-group1-sha1");
      kexInit.setHostKeyAlgorithms("ssh-dss");
      kexInit.setEncryptionAlgorithms(cipher);
      kexInit.setMacAlgorithms(mac);
      kexInit.setCompressionAlgorithms("none");
      manager->sendKexInit(kexInit);
      while (!stop_) {
        manager->pumpChannels();
        manager->echo();
        source.pumpAll(20);
      }
    } catch (const std::exception& e) {
      if (!stop_) failure_ = e.what();
    }
  }

  bool confirm_;
  zuTCPEndpoint listener_{nullptr, 10000};
  std::atomic<bool> stop_{false};
  std::string failure_;
  std::thread thread_;
};

using Setup = std::tuple<const char*, const char*>;

class SSHLoopback : public ::testing::TestWithParam<Setup> {};

TEST_P(SSHLoopback, EchoThroughTheLibrarysServer) {
  const auto [cipher, mac] = GetParam();
  LoopbackServer server(cipher, mac);
  zuSSH ssh(nullptr);
  ssh.setPort(server.port());
  ASSERT_TRUE(ssh.connect(kLoopback, "agent", "pw", 10000)) << ssh.status();
  EXPECT_EQ(ssh.session()->transportState().negotiatedEncryptionAlgorithm(0), cipher);
  EXPECT_EQ(ssh.session()->transportState().negotiatedMacAlgorithm(1), mac);
  u32 number = 0;
  ASSERT_TRUE(ssh.openChannel("session", number));
  ClientManager& manager = ssh.session()->manager();
  manager.requestExec(number, "echo");
  // Beyond both sides' windows, so both re-open them on the way.
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i % 251 == 10 ? 11 : i % 251);
  data.back() = '\n';
  for (std::size_t i = 0; i < data.size(); i += 50000)
    manager.sendData(number, data.substr(i, 50000));
  std::ostringstream out;
  std::string echoed;
  for (int i = 0; i < 1000 && echoed.size() < data.size(); ++i) {
    out.str("");
    const u16 status = ssh.readChannel(manager.sessionChannel(number), &out, '\n', false);
    echoed += out.str();
    if (status != 0) break;
  }
  EXPECT_TRUE(echoed == data) << echoed.size() << " " << server.failure();
}

TEST(SSHLoopbackOpen, AnOpenNeverConfirmedFailsAfterItsPassesWhateverTheTimeout) {
  LoopbackServer server("aes256-cbc", "hmac-sha1", false);
  zuSSH ssh(nullptr);
  ssh.setPort(server.port());
  ASSERT_TRUE(ssh.connect(kLoopback, "agent", "pw", 120000)) << ssh.status();
  const zuTimer timer;
  // The interactive channel's open is the first send's; it gives up after
  // 100 passes of 100 ms, far less than the client's own two minutes.
  try {
    ssh.send("ls");
    ADD_FAILURE() << "sent";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrFailed);
    EXPECT_STREQ(e.what(), "unable to create a channel.");
  }
  EXPECT_LT(timer.elapsed(), 60000u);
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, SSHLoopback,
    ::testing::Values(Setup{"twofish-cbc", "hmac-sha1"}, Setup{"arcfour", "hmac-md5"},
                      Setup{"blowfish-cbc", "hmac-sha1-96"}, Setup{"cast128-cbc", "hmac-md5-96"}),
    [](const auto& param) {
      std::string n = std::string(std::get<0>(param.param)) + "_" + std::get<1>(param.param);
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

}  // namespace
