// The SSH client against a paramiko server for what OpenSSH no longer
// speaks: "zlib" compression, blowfish-cbc and cast128-cbc.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "PeerProcess.h"
#include "loam/terminal/zuSSH.h"

namespace {

using tw::test::PeerProcess;

std::string commandOutput(zuSSH& ssh, const std::string& command, const std::string& input = "",
                          bool sendEof = false) {
  u32 number = 0;
  if (!ssh.openChannel("session", number)) return "<no channel>";
  ClientManager& manager = ssh.session()->manager();
  manager.requestExec(number, command);
  if (!input.empty()) manager.sendData(number, input);
  if (sendEof) manager.sendChannelEof(number);
  std::ostringstream out;
  const u16 status = ssh.readChannel(manager.sessionChannel(number), &out, 0, false);
  if (status != zuErrConnectionBroken) return "<status " + std::to_string(status) + ">";
  return out.str();
}

std::string expectedBytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 256);
  return s;
}

using Setup = std::tuple<const char*, const char*>;

class ParamikoPeer : public ::testing::TestWithParam<Setup> {};

TEST_P(ParamikoPeer, CommandsRoundTrip) {
  const auto [cipher, compression] = GetParam();
  PeerProcess server({tw::test::kPython, tw::test::peerScriptDir() + "/paramiko_peer.py", cipher,
                      compression, "agent", "pw"});
  const auto line = server.waitForLine("PORT ");
  ASSERT_TRUE(line) << "python3-paramiko is needed as the SSH peer: " << server.output();
  zuSSH ssh(nullptr);
  ssh.setPort(static_cast<u16>(std::stoi(line->substr(5))));
  ASSERT_TRUE(ssh.connect(zuIPAddress("127.0.0.1"), "agent", "pw", 20000)) << ssh.status() << "\n"
                                                                           << server.output();
  EXPECT_EQ(commandOutput(ssh, "echo hello"), "hello\n");
  const auto kex = server.waitForLine("KEX ");
  ASSERT_TRUE(kex);
  EXPECT_EQ(*kex, std::string("KEX cipher=") + cipher + " compression=" + compression);
  // Beyond one window, so the compressed stream runs over many packets.
  EXPECT_TRUE(commandOutput(ssh, "bytes 600000") == expectedBytes(600000));
  EXPECT_EQ(commandOutput(ssh, "count", std::string(300000, 'z'), true), "300000\n");
}

INSTANTIATE_TEST_SUITE_P(Algorithms, ParamikoPeer,
                         ::testing::Values(Setup{"aes256-cbc", "zlib"},
                                           Setup{"blowfish-cbc", "none"},
                                           Setup{"cast128-cbc", "zlib"}),
                         [](const auto& param) {
                           std::string n = std::string(std::get<0>(param.param)) + "_" +
                                           std::get<1>(param.param);
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

}  // namespace
