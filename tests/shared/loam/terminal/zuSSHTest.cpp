// The SSH client against OpenSSH's sshd: login, host-key checks, commands, a
// shell on a pseudo-terminal, scp both ways with its faults, rekeying and
// flow control, and each cipher, MAC and host-key algorithm the client offers
// that sshd still speaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "LevelZeroLog.h"
#include "SshdPeer.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/terminal/zuSSH.h"
#include "loam/threads/zuLog.h"
#include "support/ExternalTool.h"

namespace {

using tw::test::kSshPassword;
using tw::test::kSshUser;
using tw::test::Sshd;
using tw::test::sshdKeys;

constexpr u32 kWait = 20000;

std::string pattern(std::size_t size, unsigned seed = 1) {
  std::string s(size, '\0');
  u32 x = seed * 2654435761u;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

bool connect(zuSSH& ssh, const Sshd& sshd, const std::string& password = kSshPassword) {
  ssh.setPort(sshd.port());
  return ssh.connect(zuIPAddress("127.0.0.1"), kSshUser, password, kWait);
}

// Runs a command on a channel of its own; its output up to the EOF.
std::string exec(zuSSH& ssh, const std::string& command, u16* status = nullptr) {
  u32 number = 0;
  if (!ssh.openChannel("session", number)) return "<no channel>";
  ssh.session()->manager().requestExec(number, command);
  std::ostringstream out;
  const u16 s = ssh.readChannel(ssh.session()->manager().sessionChannel(number), &out, 0, false);
  if (status != nullptr) *status = s;
  return out.str();
}

std::string scpDownload(zuSSH& ssh, const std::string& path, u32* size = nullptr) {
  std::ostringstream out;
  u32 announced = 0;
  if (!ssh.scpGet(path, announced, out)) return "<failed " + std::to_string(ssh.status()) + ">";
  if (size != nullptr) *size = announced;
  return out.str();
}

bool scpUpload(zuSSH& ssh, const std::string& path, const std::string& bytes) {
  std::istringstream in(bytes);
  return ssh.scpPut(path, in);
}

// The shell runs on a pseudo-terminal "dumb" of 80 x 24.
void expectShellOnDumbPty(zuSSH& ssh) {
  ASSERT_EQ(ssh.send("echo \"$TERM $(stty size) $((6*7))\""), 0);
  std::string seen;
  for (int i = 0; i < 100 && seen.find("dumb 24 80 42") == std::string::npos; ++i) {
    std::string line;
    const u16 s = ssh.receiveString(line, '\n', false);
    seen += line;
    if (s != 0) break;
  }
  EXPECT_NE(seen.find("dumb 24 80 42"), std::string::npos) << seen;
}

// scp up and back down around one window and one maximum packet of the
// client (130048), and across several of sshd's.
void expectScpBothWaysAtTheEdgeSizes(zuSSH& ssh, const std::string& pathPrefix) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{130047}, std::size_t{130048},
                           std::size_t{130049}, std::size_t{5} << 20}) {
    SCOPED_TRACE(size);
    const std::string data = pattern(size, static_cast<unsigned>(size));
    const std::string path = pathPrefix + std::to_string(size);
    ASSERT_TRUE(scpUpload(ssh, path, data)) << ssh.status();
    EXPECT_EQ(tw::test::readFileBytes(path), data);
    u32 announced = 0xFFFF;
    const std::string back = scpDownload(ssh, path, &announced);
    EXPECT_EQ(announced, size);
    EXPECT_TRUE(back == data) << back.size();
  }
}

class SshdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sshd_.ready()) << "openssh-server (sshd) is needed as the SSH peer: "
                               << sshd_.failure();
  }
  std::string remote(const std::string& name) const { return sshdKeys().shared + "/" + name; }

  Sshd sshd_;
};

TEST_F(SshdTest, LoginCommandAndShell) {
  zuSSH ssh(nullptr);
  bool connected = false;
  std::vector<std::string> levelZero;
  {
    LevelZeroLog log;
    connected = connect(ssh, sshd_);
    levelZero = LevelZeroLog::lines();
  }
  ASSERT_TRUE(connected) << ssh.status() << "\n" << sshd_.log();
  // Nothing to check the key against: it is taken, and said so at level 0.
  ASSERT_EQ(levelZero.size(), 1u);
  EXPECT_NE(levelZero[0].find(ssh.hostKeySha256()), std::string::npos)
      << levelZero[0];
  EXPECT_TRUE(ssh.isConnected());
  EXPECT_EQ(ssh.status(), 0);
  auto* tcp = dynamic_cast<zuTCPEndpoint*>(ssh.endpoint());
  ASSERT_NE(tcp, nullptr);
  EXPECT_TRUE(tcp->noDelay());
  EXPECT_TRUE(sshd_.logShows("Accepted password for tarnwelltest"));
  // No fingerprint and no callback: the first key is taken, and known.
  EXPECT_EQ(ssh.hostKeyMd5().rfind("MD5:", 0), 0u);

  u16 status = 0;
  // Standard error counts against the window but is not part of the output.
  EXPECT_EQ(exec(ssh, "echo exec-ok; echo hidden >&2", &status), "exec-ok\n");
  EXPECT_EQ(status, zuErrConnectionBroken);

  expectShellOnDumbPty(ssh);
  // Nothing more is waiting: no-wait gives 0 at once.
  std::string rest;
  ssh.receiveString(rest, '\n', true);
  EXPECT_EQ(ssh.receive(nullptr, '\n', true), 0);

  EXPECT_TRUE(ssh.disconnect());
  EXPECT_FALSE(ssh.isConnected());
  EXPECT_EQ(ssh.session(), nullptr);
}

TEST_F(SshdTest, WrongPasswordGives1025) {
  zuSSH ssh(nullptr);
  EXPECT_FALSE(connect(ssh, sshd_, "not the password"));
  EXPECT_EQ(ssh.status(), 1025);
  EXPECT_FALSE(ssh.isConnected());
}

TEST_F(SshdTest, HostKeyChecks) {
  const auto& keys = sshdKeys();
  {
    zuSSH ssh(nullptr);
    // Both keys are offered; the client prefers ssh-dss.
    ssh.setExpectedHostKey(keys.dsaMd5);
    EXPECT_TRUE(connect(ssh, sshd_)) << ssh.status();
    EXPECT_EQ(ssh.hostKeyMd5(), keys.dsaMd5);
    EXPECT_EQ(ssh.hostKeySha256(), keys.dsaSha256);
  }
  {
    zuSSH ssh(nullptr);
    ssh.setExpectedHostKey(keys.dsaSha256);
    EXPECT_TRUE(connect(ssh, sshd_)) << ssh.status();
  }
  const std::size_t before = sshd_.log().size();
  {
    // The server now shows another key than the one on record: refused
    // before the password leaves, with a DISCONNECT of reason 9.
    zuSSH ssh(nullptr);
    ssh.setExpectedHostKey(keys.rsaMd5);
    EXPECT_FALSE(connect(ssh, sshd_));
    EXPECT_EQ(ssh.status(), zuErrFailed);
    EXPECT_TRUE(sshd_.logShows("Received disconnect from 127.0.0.1"));
    EXPECT_TRUE(sshd_.logShows(":9: host key not verified")) << sshd_.log();
  }
  {
    zuSSH ssh(nullptr);
    std::string seenBlob;
    ssh.setHostKeyCheck([&](const std::string& blob, const std::string&, const std::string&) {
      seenBlob = blob;
      return false;
    });
    EXPECT_FALSE(connect(ssh, sshd_));
    EXPECT_EQ(seenBlob.substr(4, 7), "ssh-dss");
  }
  // Neither refused connection got as far as the password.
  EXPECT_EQ(sshd_.log().substr(before).find("method password"), std::string::npos) << sshd_.log();
}

TEST_F(SshdTest, ScpBothWaysAtTheEdgeSizes) {
  zuSSH ssh(nullptr);
  ASSERT_TRUE(connect(ssh, sshd_)) << ssh.status();
  expectScpBothWaysAtTheEdgeSizes(ssh, remote("up-"));
  // The interactive side still works after all those channels.
  u16 status = 0;
  EXPECT_EQ(exec(ssh, "echo still", &status), "still\n");
}

TEST_F(SshdTest, ScpPathsAndFaults) {
  zuSSH ssh(nullptr);
  ASSERT_TRUE(connect(ssh, sshd_)) << ssh.status();
  // Spaces and quotes reach the remote scp as one word.
  const std::string odd = remote("a file 'quoted'; touch injected");
  const std::string injected = "/home/" + std::string(kSshUser) + "/injected";
  std::remove(injected.c_str());
  ASSERT_TRUE(scpUpload(ssh, odd, "odd\n")) << ssh.status();
  EXPECT_EQ(tw::test::readFileBytes(odd), "odd\n");
  EXPECT_EQ(scpDownload(ssh, odd), "odd\n");
  EXPECT_FALSE(std::ifstream(injected).good());

  // A missing file: scp answers with an error line instead of "C...".
  EXPECT_EQ(scpDownload(ssh, remote("missing")), "<failed 1537>");
  // An upload the remote refuses (no such folder) fails on its acknowledgement.
  EXPECT_FALSE(scpUpload(ssh, remote("no/such/folder/x"), "x"));
  EXPECT_EQ(ssh.status(), 1541);
  // Names that are no file names are refused before anything is sent.
  for (const std::string name : {"", ".", "..", "line\nbreak"}) {
    EXPECT_FALSE(scpUpload(ssh, remote(name), "x")) << name;
    EXPECT_EQ(ssh.status(), zuErrFailed);
  }
  EXPECT_FALSE(scpUpload(ssh, sshdKeys().shared + "/", "x"));
  // The connection is still good.
  EXPECT_EQ(scpDownload(ssh, odd), "odd\n");
}

TEST(SshdRekey, TransfersCrossRekeys) {
  Sshd sshd({"RekeyLimit 256K"});
  ASSERT_TRUE(sshd.ready()) << sshd.failure();
  zuSSH ssh(nullptr);
  ASSERT_TRUE(connect(ssh, sshd)) << ssh.status();
  const std::string data = pattern(std::size_t{5} << 20, 9);
  const std::string path = sshdKeys().shared + "/rekeyed";
  ASSERT_TRUE(scpUpload(ssh, path, data)) << ssh.status();
  const std::string back = scpDownload(ssh, path);
  EXPECT_TRUE(back == data) << ssh.status();
  // sshd logs one "kex: algorithm" per key exchange.
  ASSERT_TRUE(sshd.logShows("rekeying in"));
  const std::string log = sshd.log();
  std::size_t exchanges = 0;
  for (std::size_t at = log.find("kex: algorithm"); at != std::string::npos;
       at = log.find("kex: algorithm", at + 1))
    ++exchanges;
  EXPECT_GE(exchanges, 3u) << log;
}

TEST_F(SshdTest, UploadWaitsForAThrottledRemoteSink) {
  zuSSH ssh(nullptr);
  ASSERT_TRUE(connect(ssh, sshd_)) << ssh.status();
  // The remote scp writes into a FIFO that nobody reads for a second, so
  // sshd stops taking data and the client must wait for its window.
  const std::string fifo = remote("slow-fifo");
  const std::string copy = remote("slow-copy");
  ASSERT_EQ(tw::test::runTool("mkfifo -m 0666 " + tw::test::shellQuote(fifo)), 0);
  tw::test::PeerProcess reader({"/bin/sh", "-c",
                                "sleep 1; cat " + tw::test::shellQuote(fifo) + " > " +
                                    tw::test::shellQuote(copy) + "; echo drained"});
  const std::string data = pattern(std::size_t{6} << 20, 3);
  ASSERT_TRUE(scpUpload(ssh, fifo, data)) << ssh.status();
  ASSERT_TRUE(reader.waitForLine("drained"));
  EXPECT_TRUE(tw::test::readFileBytes(copy) == data);
}

// One sshd per combination, allowing only that cipher, MAC and host-key
// algorithm, so a success proves the client spoke it.
using Combination = std::tuple<const char*, const char*, const char*>;

class SshdAlgorithms : public ::testing::TestWithParam<Combination> {};

TEST_P(SshdAlgorithms, ConnectCommandShellAndScp) {
  const auto [cipher, mac, hostKey] = GetParam();
  Sshd sshd({std::string("Ciphers ") + cipher, std::string("MACs ") + mac,
             std::string("HostKeyAlgorithms ") + hostKey});
  ASSERT_TRUE(sshd.ready()) << sshd.failure();
  zuSSH ssh(nullptr);
  ssh.setExpectedHostKey(std::string(hostKey) == "ssh-dss" ? sshdKeys().dsaMd5 : sshdKeys().rsaMd5);
  ASSERT_TRUE(connect(ssh, sshd)) << ssh.status() << "\n" << sshd.log();
  EXPECT_TRUE(sshd.logShows(std::string("cipher: ") + cipher + " MAC: " + mac));
  EXPECT_EQ(exec(ssh, "echo ok"), "ok\n");
  expectShellOnDumbPty(ssh);
  expectScpBothWaysAtTheEdgeSizes(
      ssh, sshdKeys().shared + "/alg-" + cipher + "-" + mac + "-" + hostKey + "-");
}

INSTANTIATE_TEST_SUITE_P(Matrix, SshdAlgorithms,
                         ::testing::Combine(::testing::Values("aes256-cbc", "3des-cbc"),
                                            ::testing::Values("hmac-sha1", "hmac-sha1-96",
                                                              "hmac-md5", "hmac-md5-96"),
                                            ::testing::Values("ssh-rsa", "ssh-dss")),
                         [](const auto& param) {
                           std::string n = std::string(std::get<0>(param.param)) + "_" +
                                           std::get<1>(param.param) + "_" +
                                           std::get<2>(param.param);
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

}  // namespace
