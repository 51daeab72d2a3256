// The agent's connection slots under attack, from outside the process: silent
// sockets bounded while they are still in the secure handshake, and idle
// connections that give up their slot to a newcomer. The attacker speaks from
// 127.0.0.1, the good client from ::1, so the bound per source address tells
// them apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "AgentProcess.h"

namespace {

using namespace ua_test;

using Environment = std::vector<std::pair<const char*, std::string>>;
constexpr u8 kClientHeader[] = {'Z', 'U', 'S', 'L', 1, 0, 1, 0, 0, 0};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::string kClosedUnanswered = "closed: too many unfinished handshakes.";

// Sockets that connect and never send a byte.
std::vector<std::unique_ptr<zuTCPEndpoint>> silentSockets(u16 port, const zuIPAddress& from,
                                                          int n) {
  std::vector<std::unique_ptr<zuTCPEndpoint>> sockets;
  for (int i = 0; i < n; ++i) {
    auto socket = std::make_unique<zuTCPEndpoint>(nullptr, kWait);
    EXPECT_EQ(socket->connect(from, port), 0);
    sockets.push_back(std::move(socket));
  }
  return sockets;
}

// A client that begins its handshake and gets the connection closed
// without a byte in answer (a handshake in progress would answer with the
// server's header).
bool closedUnanswered(u16 port, const zuIPAddress& from) {
  zuTCPEndpoint socket(nullptr, kWait);
  if (socket.connect(from, port) != 0) return false;
  (void)socket.write(kClientHeader, sizeof kClientHeader);
  (void)socket.flush();
  u8 bytes[16];
  u32 n = sizeof bytes;
  return socket.readSome(bytes, &n) == zuErrConnectionBroken;
}

bool served(u16 port, const zuIPAddress& from) {
  Peer peer(port, kWait, from);
  return peer.status == 0 && peer.connectExchange(1) == 0;
}

// The agent's refusal at its limit: a type-5 message carrying 1030.
bool refusedWith1030(Peer& peer) {
  if (peer.status != 0 || peer.send(1, kConnect, 11) != 0) return false;
  Packet p;
  return peer.receive(p) == 0 && p.header.type == 5 && p.header.error == zuErrTooManyConnections;
}

TEST(SlotTest, RenewedSilentSocketsFromOneAddressDoNotLockOutAGoodClient) {
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  const Held idle = heldNow(agent);
  long long slowest = 0;
  for (int round = 1; round <= 3; ++round) {
    auto silent = silentSockets(agent.port(), kLoopback, 100);
    // Ten of each hundred wait in their handshake; the others are closed at once.
    const size_t closed = 90 * static_cast<size_t>(round);
    ASSERT_TRUE(eventually([&] { return count(agent.logText(), kClosedUnanswered) >= closed; }))
        << "round " << round << "\n"
        << agent.logText();
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(served(agent.port(), kLoopback6)) << "round " << round;
    slowest = std::max(slowest, msSince(start));
    EXPECT_EQ(count(agent.logText(), kClosedUnanswered), closed);
    // Renewed: closed and opened again, as an attacker would before the
    // handshake time-out ends them.
    silent.clear();
    ASSERT_TRUE(backToIdle(agent, idle)) << "round " << round;
  }
  figure("slowest_connect_ms_beside_100_silent_sockets", slowest);
  EXPECT_EQ(agent.stop(), 0);
}

struct HandshakeBound {
  const char* name;
  Environment environment;
  int silent;                  // from 127.0.0.1, in their handshake
  const zuIPAddress* newcomer;  // closed unanswered
  const zuIPAddress* other;     // still served meanwhile, or null
};

class HandshakeBoundTest : public ::testing::TestWithParam<HandshakeBound> {};

TEST_P(HandshakeBoundTest, NewcomerPastTheBoundIsClosedUnanswered) {
  const HandshakeBound& c = GetParam();
  AgentProcess agent(c.environment);
  ASSERT_TRUE(agent.listening()) << agent.logText();
  auto silent = silentSockets(agent.port(), kLoopback, c.silent);
  ASSERT_TRUE(eventually([&] {
    return agent.logText().find("Currently " + std::to_string(c.silent - 1) +
                                " connection(s) open.") != std::string::npos;
  })) << agent.logText();
  EXPECT_EQ(count(agent.logText(), kClosedUnanswered), 0u);

  EXPECT_TRUE(closedUnanswered(agent.port(), *c.newcomer)) << agent.logText();
  EXPECT_EQ(count(agent.logText(), kClosedUnanswered), 1u);
  if (c.other != nullptr) {
    EXPECT_TRUE(served(agent.port(), *c.other));
  }
  // The silent ones gone, the newcomer's address is served again.
  silent.clear();
  EXPECT_TRUE(eventually([&] { return served(agent.port(), *c.newcomer); }));
  EXPECT_EQ(agent.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, HandshakeBoundTest,
    ::testing::Values(HandshakeBound{"PerAddress", {}, 10, &kLoopback, &kLoopback6},
                      HandshakeBound{"InAll", {{"TW_ATTACK_HANDSHAKES", "3"}}, 3, &kLoopback6,
                                     nullptr}),
    [](const ::testing::TestParamInfo<HandshakeBound>& p) { return std::string(p.param.name); });

TEST(SlotTest, ConnectionIdleLongestGivesItsSlotToANewcomer) {
  AgentProcess agent(Environment{{"TW_ATTACK_IDLE_MS", "500"}});
  ASSERT_TRUE(agent.listening()) << agent.logText();
  std::vector<std::unique_ptr<Peer>> peers;
  for (u32 i = 0; i < zuServer::kMaxConnections; ++i) {
    peers.push_back(std::make_unique<Peer>(agent.port()));
    ASSERT_EQ(peers.back()->status, 0) << i;
  }
  // The first one only sends keep-alives (answered), which do not count as
  // activity; the second is served a request, so it is not the idlest.
  Packet answer;
  ASSERT_EQ(peers[0]->send(0, 0, 1), 0);
  ASSERT_EQ(peers[1]->connectExchange(1), 0);

  // Refused (1030) while no connection has been idle long enough.
  int attempts = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(eventually([&] {
    ++attempts;
    return served(agent.port(), kLoopback6);
  })) << agent.logText();
  figure("attempts_until_an_idle_slot_was_given", attempts);
  figure("ms_until_an_idle_slot_was_given", msSince(start));
  EXPECT_EQ(count(agent.logText(), "closed to make room"), 1u) << agent.logText();

  // The keep-alive peer lost its connection; the others keep theirs.
  EXPECT_EQ(peers[0]->receive(answer), zuErrConnectionBroken);
  EXPECT_EQ(peers[1]->connectExchange(2), 0);
  EXPECT_EQ(peers[2]->connectExchange(1), 0);
  EXPECT_EQ(agent.stop(), 0);
}

TEST(SlotTest, WithoutAnIdleConnectionTheNewcomerGets1030) {
  AgentProcess agent(Environment{{"TW_ATTACK_MAX_CONNECTIONS", "3"}});
  ASSERT_TRUE(agent.listening()) << agent.logText();
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 3; ++i) {
    peers.push_back(std::make_unique<Peer>(agent.port()));
    ASSERT_EQ(peers.back()->status, 0);
  }
  Peer newcomer(agent.port(), kWait, kLoopback6);
  EXPECT_TRUE(refusedWith1030(newcomer)) << agent.logText();
  // The independent client reports the refusal as its status.
  if (!tw::test::haveTool("python3")) GTEST_FAIL() << "python3 runs the independent client";
  const std::string client = std::string(TW_SOURCE_DIR) + "/tests/update_agent/uaClient.py";
  for (int i = 0; i < 2; ++i) {
    std::string out;
    EXPECT_EQ(runTool("python3 " + shellQuote(client) + " connect 127.0.0.1 " +
                          std::to_string(agent.port()) + " 2>&1",
                      &out),
              0);
    EXPECT_EQ(out.substr(0, out.find('\n')), "1030") << out;
  }
  EXPECT_EQ(count(agent.logText(), "closed to make room"), 0u);
  for (auto& peer : peers) EXPECT_EQ(peer->connectExchange(1), 0);
  EXPECT_EQ(agent.stop(), 0);
}

}  // namespace
