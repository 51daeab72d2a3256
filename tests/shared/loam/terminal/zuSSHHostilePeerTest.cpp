// The SSH client against hostile servers written apart from the library: a
// raw-socket peer for the handshake's failures and a paramiko server (with
// zlib compression) for what a server may do once the session runs. Each failure must reach the
// caller's text and the log with the library's reason, and the server must
// get a DISCONNECT with that reason. Each case prints how long the client
// took to end it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "LevelZeroLog.h"
#include "PeerProcess.h"
#include "loam/threads/zuLog.h"
#include "loam/terminal/zuSSH.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using tw::test::PeerProcess;
using Clock = std::chrono::steady_clock;

constexpr u32 kWait = 20000;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using tw::test::figure;

u16 portOf(PeerProcess& peer) {
  const auto line = peer.waitForLine("PORT ");
  return line ? static_cast<u16>(std::stoi(line->substr(5))) : 0;
}

std::string text(const zuErrorMessage& message) {
  std::string out;
  return message.format(out);
}

// ---- Handshake failures, against the raw-socket peer -----------------------

struct HandshakeCase {
  const char* name;
  std::vector<std::string> args;
  const char* callerText;
  const char* disconnect;  // the peer's record of the client's DISCONNECT
};

void PrintTo(const HandshakeCase& c, std::ostream* os) { *os << c.name; }

class HandshakeFailure : public ::testing::TestWithParam<HandshakeCase> {};

TEST_P(HandshakeFailure, ReachesTheCallerTheLogAndThePeer) {
  const HandshakeCase& c = GetParam();
  std::vector<std::string> argv = {tw::test::kPython,
                                   tw::test::peerScriptDir() + "/ssh_raw_peer.py"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  PeerProcess peer(argv);
  const u16 port = portOf(peer);
  ASSERT_NE(port, 0) << "python3 is needed for the raw SSH peer: " << peer.output();

  LevelZeroLog log;
  zuSSH ssh(nullptr);
  ssh.setPort(port);
  const auto start = Clock::now();
  EXPECT_FALSE(ssh.connect(zuIPAddress("127.0.0.1"), "u", "p", kWait));
  figure(std::string("hostile_handshake_") + c.name + "_ms", msSince(start));
  EXPECT_EQ(ssh.status(), zuErrNetwork);
  EXPECT_EQ(ssh.lastError().code(), zuErrNetwork);
  EXPECT_EQ(text(ssh.lastError()), c.callerText);
  EXPECT_TRUE(log.holds(c.callerText)) << "not logged: " << c.callerText;
  EXPECT_FALSE(ssh.isConnected());

  const auto record = peer.waitForLine("DISCONNECT");
  ASSERT_TRUE(record) << peer.output();
  EXPECT_EQ(*record, c.disconnect);
  EXPECT_TRUE(ssh.disconnect());
}

INSTANTIATE_TEST_SUITE_P(
    RawPeer, HandshakeFailure,
    ::testing::Values(
        HandshakeCase{"kex",
                      {"kexinit", "kex"},
                      "failed to negotiate key exchange algorithm: server offers "
                      "curve25519-sha256,diffie-hellman-group14-sha256 "
                      "(SSH_DISCONNECT_KEY_EXCHANGE_FAILED)",
                      "DISCONNECT 3 failed to negotiate key exchange algorithm"},
        HandshakeCase{"hostkey",
                      {"kexinit", "hostkey"},
                      "failed to negotiate host key algorithm: server offers "
                      "ssh-ed25519,rsa-sha2-512 (SSH_DISCONNECT_KEY_EXCHANGE_FAILED)",
                      "DISCONNECT 3 failed to negotiate host key algorithm"},
        HandshakeCase{"cipher",
                      {"kexinit", "cipher"},
                      "failed to negotiate client to server encryption algorithm: server offers "
                      "aes128-ctr,chacha20-poly1305@openssh.com "
                      "(SSH_DISCONNECT_KEY_EXCHANGE_FAILED)",
                      "DISCONNECT 3 failed to negotiate client to server encryption algorithm"},
        HandshakeCase{"mac",
                      {"kexinit", "mac"},
                      "failed to negotiate client to server MAC algorithm: server offers "
                      "hmac-sha2-256,umac-64@openssh.com (SSH_DISCONNECT_KEY_EXCHANGE_FAILED)",
                      "DISCONNECT 3 failed to negotiate client to server MAC algorithm"},
        HandshakeCase{"compression",
                      {"kexinit", "compression"},
                      "failed to negotiate client to server compression algorithm: server "
                      "offers zlib@openssh.com (SSH_DISCONNECT_KEY_EXCHANGE_FAILED)",
                      "DISCONNECT 3 failed to negotiate client to server compression algorithm"},
        HandshakeCase{"packet_length",
                      {"length"},
                      "packet length too large, may be decryption problem "
                      "(SSH_DISCONNECT_PROTOCOL_ERROR)",
                      "DISCONNECT 2 packet length too large, may be decryption problem"},
        HandshakeCase{"identification_too_long",
                      {"longline"},
                      "version info line too long (SSH_DISCONNECT_PROTOCOL_ERROR)",
                      "DISCONNECT 2 version info line too long"},
        HandshakeCase{"lines_before_identification",
                      {"lines"},
                      "too many lines before version info (SSH_DISCONNECT_PROTOCOL_ERROR)",
                      "DISCONNECT 2 too many lines before version info"}),
    [](const auto& param) { return std::string(param.param.name); });

// What the server offered reaches the text and the log as one bounded line
// of printable characters; the DISCONNECT carries none of it.
TEST(HandshakeFailureText, ServerTextIsBoundedAndPrintable) {
  PeerProcess peer({tw::test::kPython, tw::test::peerScriptDir() + "/ssh_raw_peer.py", "kexinit",
                    "cipher", "forged"});
  const u16 port = portOf(peer);
  ASSERT_NE(port, 0) << "python3 is needed for the raw SSH peer: " << peer.output();
  LevelZeroLog log;
  zuSSH ssh(nullptr);
  ssh.setPort(port);
  EXPECT_FALSE(ssh.connect(zuIPAddress("127.0.0.1"), "u", "p", kWait));
  const std::string shown = text(ssh.lastError());
  EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos) << shown;
  EXPECT_LT(shown.size(), 400u);
  EXPECT_EQ(shown.rfind("failed to negotiate client to server encryption algorithm: server offers "
                        "aes128-ctr,chacha20-poly1305@openssh.com..12:00:00 SSH host key accepted,aaa",
                        0),
            0u)
      << shown;
  EXPECT_NE(shown.find("aaa... (SSH_DISCONNECT_KEY_EXCHANGE_FAILED)"), std::string::npos) << shown;
  EXPECT_TRUE(log.holds(shown));
  const auto record = peer.waitForLine("DISCONNECT");
  ASSERT_TRUE(record) << peer.output();
  EXPECT_EQ(*record, "DISCONNECT 3 failed to negotiate client to server encryption algorithm");
}

// ---- Faults once the session runs, against the paramiko peer ---------------

class HostileParamiko : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = portOf(server_);
    ASSERT_NE(port_, 0) << "python3-paramiko is needed as the SSH peer: " << server_.output();
    const auto key = server_.waitForLine("KEY ");
    ASSERT_TRUE(key);
    keyMd5_ = key->substr(4);
    ssh_.setPort(port_);
    ssh_.setExpectedHostKey(keyMd5_);
    ASSERT_TRUE(ssh_.connect(zuIPAddress("127.0.0.1"), "agent", "pw", kWait))
        << ssh_.status() << " " << text(ssh_.lastError()) << "\n"
        << server_.output();
  }

  // A command on a channel of its own, with its number.
  u32 exec(const std::string& command) {
    u32 number = 0;
    EXPECT_TRUE(ssh_.openChannel("session", number));
    ssh_.session()->manager().requestExec(number, command);
    return number;
  }

  std::string readAll(u32 number) {
    std::ostringstream out;
    const u16 status =
        ssh_.readChannel(ssh_.session()->manager().sessionChannel(number), &out, 0, false);
    if (status != zuErrConnectionBroken) return "<status " + std::to_string(status) + ">";
    return out.str();
  }

  PeerProcess server_{{tw::test::kPython,
                       tw::test::peerScriptDir() + "/paramiko_hostile_peer.py", "agent", "pw"}};
  u16 port_ = 0;
  std::string keyMd5_;
  zuSSH ssh_{nullptr};
};

// The server closes the shell; the text typed next must reach no command,
// however the channel numbers are reused.
TEST_F(HostileParamiko, ShellClosedByTheServerTakesNoMoreInput) {
  ASSERT_EQ(ssh_.send("first"), 0);
  const i32 shell = ssh_.session()->interactiveChannel;
  ASSERT_GE(shell, 0);
  ASSERT_TRUE(server_.waitForLine("SHELL CLOSED"));
  const auto start = Clock::now();
  u16 status = 0;
  for (int i = 0; i < 10 && status != zuErrConnectionBroken; ++i)
    status = ssh_.receive(nullptr, 0, false);
  figure("hostile_shell_closed_receive_ms", msSince(start));
  ASSERT_EQ(status, zuErrConnectionBroken);
  // The receive ends at the server's EOF; its CLOSE may come a little later.
  zuSSHSession& session = *ssh_.session();
  const auto closed = [&] {
    const SessionChannel* channel = session.interactiveChannel < 0
        ? nullptr
        : session.manager().sessionChannel(static_cast<u32>(session.interactiveChannel));
    return channel == nullptr || channel->closeReceived();
  };
  for (int i = 0; i < 50 && !closed(); ++i) {
    session.manager().pumpChannels();
    session.source().pumpAll(100);
  }
  ASSERT_TRUE(closed());

  EXPECT_EQ(ssh_.send("lost 1"), zuErrConnectionBroken);
  EXPECT_EQ(text(ssh_.lastError()), "the server closed the shell channel.");
  const u32 first = exec("count");
  EXPECT_EQ(ssh_.send("lost 2"), zuErrConnectionBroken);
  const u32 second = exec("count");
  EXPECT_EQ(ssh_.send("lost 3"), zuErrConnectionBroken);
  EXPECT_EQ(ssh_.receive(nullptr, '\n', true), zuErrConnectionBroken);
  // The shell's number has been given again: the role stayed behind.
  EXPECT_TRUE(first == static_cast<u32>(shell) || second == static_cast<u32>(shell))
      << first << " " << second;
  EXPECT_EQ(ssh_.session()->interactiveChannel, -1);
  for (u32 number : {first, second}) {
    ssh_.session()->manager().sendChannelEof(number);
    EXPECT_EQ(readAll(number), "0\n") << number;
  }
}

// The pinned key is the key of the whole session.
TEST_F(HostileParamiko, AnotherHostKeyAtRekeyEndsTheSession) {
  LevelZeroLog log;
  const u32 number = exec("rekey");
  ssh_.session()->manager().sendData(number, "g");
  const auto start = Clock::now();
  std::ostringstream out;
  EXPECT_EQ(ssh_.readChannel(ssh_.session()->manager().sessionChannel(number), &out, 0, false),
            zuErrNetwork);
  figure("hostile_rekey_other_host_key_ms", msSince(start));
  const std::string expected = "host key changed (SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE)";
  EXPECT_EQ(text(ssh_.lastError()), expected);
  EXPECT_TRUE(log.holds(expected));
  EXPECT_EQ(ssh_.hostKeyMd5(), keyMd5_);
  EXPECT_FALSE(ssh_.isConnected());
  const auto record = server_.waitForLine("DISCONNECT");
  ASSERT_TRUE(record) << server_.output();
  EXPECT_EQ(*record, "DISCONNECT 9 host key changed");

  // Nothing more goes to that server.
  EXPECT_EQ(ssh_.send("ls"), zuErrFailed);
  EXPECT_EQ(text(ssh_.lastError()),
            "connection disconnected. The client said: host key changed "
            "(SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE)");
  std::ostringstream file;
  u32 size = 0;
  EXPECT_FALSE(ssh_.scpGet("/etc/hostname", size, file));
  EXPECT_EQ(ssh_.status(), zuErrFailed);
}

TEST_F(HostileParamiko, CorruptCompressedPacketEndsTheSession) {
  LevelZeroLog log;
  const u32 number = exec("badzlib");
  ssh_.session()->manager().sendData(number, "g");
  const auto start = Clock::now();
  std::ostringstream out;
  EXPECT_EQ(ssh_.readChannel(ssh_.session()->manager().sessionChannel(number), &out, 0, false),
            zuErrNetwork);
  figure("hostile_corrupt_zlib_ms", msSince(start));
  const std::string expected = "decompression failed (SSH_DISCONNECT_COMPRESSION_ERROR)";
  EXPECT_EQ(text(ssh_.lastError()), expected);
  EXPECT_TRUE(log.holds(expected));
  const auto record = server_.waitForLine("DISCONNECT");
  ASSERT_TRUE(record) << server_.output();
  EXPECT_EQ(*record, "DISCONNECT 6 decompression failed");
}

TEST_F(HostileParamiko, DataPastTheWindowEndsTheSession) {
  LevelZeroLog log;
  const u32 number = exec("overrun");
  const auto start = Clock::now();
  std::ostringstream out;
  EXPECT_EQ(ssh_.readChannel(ssh_.session()->manager().sessionChannel(number), &out, 0, false),
            zuErrNetwork);
  figure("hostile_window_overrun_ms", msSince(start));
  const std::string expected = "data exceeds window size (SSH_DISCONNECT_PROTOCOL_ERROR)";
  EXPECT_EQ(text(ssh_.lastError()), expected);
  EXPECT_TRUE(log.holds(expected));
  EXPECT_TRUE(out.str().empty());
  const auto record = server_.waitForLine("DISCONNECT");
  ASSERT_TRUE(record) << server_.output();
  EXPECT_EQ(*record, "DISCONNECT 2 data exceeds window size");
}

}  // namespace
