// The telnet client: its receive state machine and option answers against
// scripted bytes, and whole sessions with inetutils telnetd started through
// systemd-socket-activate with a fixed login program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/terminal/zuTelnet.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"
#include "support/TimeTestSupport.h"

namespace {

using tw::test::PeerProcess;

constexpr u32 kNoStop = 0x100;

// A connected telnet client over a scripted endpoint.
class ScriptedTelnet : public zuTelnet {
 public:
  ScriptedTelnet() : zuTelnet(nullptr) {
    auto endpoint = std::make_unique<zuScriptedEndpoint>();
    wire = endpoint.get();
    adoptEndpoint(std::move(endpoint));
    setConnected(true);
    setNegotiationState(kStateData);
  }
  using zuTelnet::handleCommand;
  zuScriptedEndpoint* wire;
};

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

struct ReceiveCase {
  const char* name;
  std::string wire;
  u32 stop;
  std::string output;
  std::string answered;
};

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

class TelnetReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(TelnetReceive, OutputAndAnswers) {
  ScriptedTelnet telnet;
  telnet.wire->addBytes(GetParam().wire);
  telnet.wire->setEndStatus(zuErrTimeout);
  std::ostringstream out;
  telnet.receive(&out, GetParam().stop, true);
  EXPECT_EQ(out.str(), GetParam().output);
  EXPECT_EQ(telnet.wire->sent(), GetParam().answered);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, TelnetReceive,
    ::testing::Values(
        ReceiveCase{"iac_iac", "a" + bytes({255, 255}) + "b", kNoStop,
                    "a\xff"
                    "b",
                    ""},
        // Inside a subnegotiation 255 followed by anything but SE is data of it.
        ReceiveCase{"subnegotiation",
                    "x" + bytes({255, 250, 24, 1, 255, 1, 255, 255, 7, 255, 240}) + "y", kNoStop,
                    "xy", ""},
        ReceiveCase{"cr_nul", "a\r" + bytes({0}) + "b\r\nc", kNoStop, "a\rb\r\nc", ""},
        ReceiveCase{"nul_alone_stays", "a" + bytes({0}) + "b", kNoStop, std::string("a\0b", 3), ""},
        ReceiveCase{"stop_byte", "line\nrest", '\n', "line\n", ""},
        ReceiveCase{"go_ahead_ends", "ab" + bytes({255, 249}) + "cd", kNoStop, "ab", ""},
        ReceiveCase{"do_window_size_once", bytes({255, 253, 31, 255, 253, 31}) + "z", kNoStop, "z",
                    bytes({255, 252, 31})},
        ReceiveCase{"will_encryption_every_time", bytes({255, 251, 38, 255, 251, 38}), kNoStop, "",
                    bytes({255, 254, 38, 255, 254, 38})},
        ReceiveCase{"suppress_go_ahead_accepted", bytes({255, 251, 3, 255, 253, 3}), kNoStop, "",
                    bytes({255, 253, 3})},
        ReceiveCase{"unknown_command_ignored", bytes({255, 241}) + "q", kNoStop, "q", ""}),
    [](const auto& param) { return std::string(param.param.name); });

struct AnswerCase {
  u8 command;
  u8 option;
  std::string reply;
  bool remembered;
};

TEST(Telnet, AnswerTable) {
  const AnswerCase cases[] = {
      {zuTelnet::kWILL, 3, bytes({255, 253, 3}), true},
      {zuTelnet::kWILL, 1, bytes({255, 254, 1}), true},
      {zuTelnet::kWILL, 38, bytes({255, 254, 38}), false},
      {zuTelnet::kWILL, 24, bytes({255, 254, 24}), true},
      {zuTelnet::kWONT, 24, bytes({255, 254, 24}), true},
      {zuTelnet::kDO, 31, bytes({255, 252, 31}), true},
      {zuTelnet::kDO, 3, bytes({255, 251, 3}), true},
      {zuTelnet::kDO, 24, bytes({255, 252, 24}), true},
      {zuTelnet::kDONT, 1, bytes({255, 252, 1}), true},
  };
  for (const AnswerCase& c : cases) {
    ScriptedTelnet telnet;
    telnet.handleCommand(c.option, c.command);
    EXPECT_EQ(telnet.wire->sent(), c.reply) << int(c.command) << " " << int(c.option);
    EXPECT_EQ(telnet.options().size(), c.remembered ? 1u : 0u);
  }
}

TEST(Telnet, CommandSplitAcrossReceivesIsStillRecognised) {
  ScriptedTelnet telnet;
  telnet.wire->addBytes("a" + bytes({255}));
  telnet.wire->addStatus(zuErrTimeout);
  telnet.wire->addBytes(bytes({253}));
  telnet.wire->addStatus(zuErrTimeout);
  telnet.wire->addBytes(bytes({24}) + "b");
  telnet.wire->setEndStatus(zuErrTimeout);
  std::ostringstream out;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(telnet.receive(&out, kNoStop, true), 0);
  EXPECT_EQ(out.str(), "ab");
  EXPECT_EQ(telnet.wire->sent(), bytes({255, 252, 24}));
  EXPECT_EQ(telnet.status(), zuErrTimeout);
}

TEST(Telnet, ReceiveStatuses) {
  {
    zuTelnet idle(nullptr);
    EXPECT_EQ(idle.receive(nullptr, kNoStop, true), zuErrFailed);
    EXPECT_EQ(idle.send("x"), zuErrFailed);
  }
  {
    ScriptedTelnet telnet;
    telnet.wire->addBytes("partial");
    telnet.wire->setEndStatus(zuErrTimeout);
    std::string text;
    // Waiting without a stop byte reports the time-out and keeps the bytes.
    EXPECT_EQ(telnet.receiveString(text, kNoStop, false), zuErrTimeout);
    EXPECT_EQ(text, "partial");
  }
  {
    ScriptedTelnet telnet;
    telnet.wire->addBytes("bye");
    std::string text = "old";
    EXPECT_EQ(telnet.receiveString(text, kNoStop, true), zuErrConnectionBroken);
    EXPECT_EQ(text, "old");
  }
  {
    // A server that never sends the stop byte cannot grow the text past its
    // limit: the receive gives up with 515 and leaves the old text.
    ScriptedTelnet telnet;
    telnet.wire->addBytes(std::string(zuTelnet::kMaxReceivedText + 1, 'x'));
    std::string text = "old";
    EXPECT_EQ(telnet.receiveString(text, '\n', false), zuErrFailed);
    EXPECT_EQ(text, "old");
  }
  {
    // An option reply that cannot be written ends receive with its status.
    ScriptedTelnet telnet;
    telnet.wire->addBytes(bytes({255, 253, 24}));
    telnet.wire->setSendStatus(zuErrConnectionBroken);
    EXPECT_EQ(telnet.receive(nullptr, kNoStop, true), zuErrConnectionBroken);
  }
}

// The clock moves only inside the script's receives.
class TelnetClock : public tw::test::ClockSeamTest {
 protected:
  void SetUp() override {
    ClockSeamTest::SetUp();
    zuPlatform::setFixedTickForTest(tick_);
  }
  // A script step that moves the clock on, then delivers the byte.
  void addLateByte(zuScriptedEndpoint& wire, u64 ms, char byte) {
    wire.addAction([this, ms] {
      tick_ += ms;
      zuPlatform::setFixedTickForTest(tick_);
    });
    wire.addBytes(std::string(1, byte));
  }
  u64 tick_ = 100000;
};

TEST_F(TelnetClock, EndlessSubnegotiationEndsAtTheTimeOut) {
  ScriptedTelnet telnet;
  telnet.setTimeout(1000);
  telnet.wire->addBytes(bytes({255, 250, 24}));
  // One byte every 200 ms; each alone is well within the time-out.
  for (int i = 0; i < 100; ++i) addLateByte(*telnet.wire, 200, 'x');
  std::string text = "old";
  EXPECT_EQ(telnet.receiveString(text, '\n', false), zuErrTimeout);
  EXPECT_EQ(text, "");
  // Every wait got what was left of the one second, then one receive that
  // does not wait.
  EXPECT_EQ(telnet.wire->receiveTimeouts(), (std::vector<u32>{1000, 1000, 800, 600, 400, 200, 0}));
}

TEST_F(TelnetClock, BytesAlreadyHereAreTakenWhenTheTimeIsUp) {
  ScriptedTelnet telnet;
  telnet.setTimeout(1000);
  addLateByte(*telnet.wire, 1500, 'a');
  telnet.wire->addBytes("bc\nd");
  std::string text;
  EXPECT_EQ(telnet.receiveString(text, '\n', false), 0);
  EXPECT_EQ(text, "abc\n");
}

TEST(Telnet, NegotiationBytesCountTowardTheLimit) {
  for (const bool noWait : {false, true}) {
    ScriptedTelnet telnet;
    // A subnegotiation that never ends, then the line it hides: the limit
    // ends the receive before the line.
    telnet.wire->addBytes(bytes({255, 250, 24}) + std::string(zuTelnet::kMaxReceivedText, 'x'));
    telnet.wire->addBytes(bytes({255, 240}) + "line\n");
    std::string text = "old";
    EXPECT_EQ(telnet.receiveString(text, '\n', noWait), zuErrFailed) << noWait;
    EXPECT_EQ(text, "old") << noWait;
    EXPECT_EQ(telnet.status(), zuErrFailed) << noWait;
  }
}

// A raw-socket server that never ends its subnegotiation, in its own
// process, reached over loopback.
class HostileTelnetPeer : public ::testing::Test {
 protected:
  // Starts the peer in the mode and connects with the time-out.
  bool start(const char* mode, zuTelnet& telnet, u32 timeout) {
    peer_ = std::make_unique<PeerProcess>(std::vector<std::string>{
        tw::test::kPython, tw::test::peerScriptDir() + "/telnet_hostile_peer.py", mode});
    const auto line = peer_->waitForLine("PORT ");
    if (!line) return false;
    telnet.setPort(static_cast<u16>(std::stoi(line->substr(line->find(' ') + 1))));
    return telnet.connect(zuIPAddress("127.0.0.1"), timeout);
  }

  // Runs the call and returns its duration in ms.
  template <typename Call>
  static long long timed(Call call) {
    const auto begin = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 begin)
        .count();
  }

  std::unique_ptr<PeerProcess> peer_;
};

TEST_F(HostileTelnetPeer, DribbledSubnegotiationEndsWithTheTimeOut) {
  zuTelnet telnet(nullptr);
  ASSERT_TRUE(start("trickle", telnet, 1000)) << (peer_ ? peer_->output() : "");
  std::string text = "old";
  u16 status = 0;
  const long long ms = timed([&] { status = telnet.receiveString(text, '\n', false); });
  EXPECT_EQ(status, zuErrTimeout) << peer_->output();
  EXPECT_EQ(text, "");
  // The bound of a failure, not a speed target: before, the call ran as long
  // as the peer kept sending.
  EXPECT_LT(ms, tw::test::kFailBound.count());
  RecordProperty("elapsed_ms", static_cast<int>(ms));
  std::printf("dribbled subnegotiation ended after %lld ms\n", ms);
}

TEST_F(HostileTelnetPeer, FloodedSubnegotiationEndsAtTheLimit) {
  zuTelnet telnet(nullptr);
  // The time-out is not what may end this call.
  ASSERT_TRUE(start("flood", telnet, static_cast<u32>(tw::test::kFailBound.count())))
      << (peer_ ? peer_->output() : "");
  std::string text = "old";
  u16 status = 0;
  const long long ms = timed([&] { status = telnet.receiveString(text, '\n', false); });
  EXPECT_EQ(status, zuErrFailed) << peer_->output();
  EXPECT_EQ(text, "old");
  RecordProperty("elapsed_ms", static_cast<int>(ms));
  std::printf("flooded subnegotiation ended after %lld ms\n", ms);
}

TEST(Telnet, SendDoublesIAC) {
  ScriptedTelnet telnet;
  EXPECT_EQ(telnet.send("a\xff"
                        "b\xff"),
            0);
  EXPECT_EQ(telnet.wire->sent(), "a" + bytes({255, 255}) + "b" + bytes({255, 255}) + "\r\n");
}

TEST(Telnet, Names) {
  EXPECT_STREQ(zuTelnet::commandName(251), "WILL");
  EXPECT_STREQ(zuTelnet::commandName(254), "DONT");
  EXPECT_STREQ(zuTelnet::commandName(250), "<Unknown>");
  EXPECT_STREQ(zuTelnet::optionName(31), "Window Size");
  EXPECT_STREQ(zuTelnet::optionName(39), "Telnet Environment Option");
  EXPECT_STREQ(zuTelnet::optionName(2), "<Unknown>");
}

TEST(Telnet, ConnectFailureKeepsTheEndpointStatus) {
  zuTelnet telnet(nullptr);
  telnet.setPort(static_cast<u16>(tw::test::freeLoopbackPort()));
  EXPECT_FALSE(telnet.connect(zuIPAddress("127.0.0.1"), 2000));
  EXPECT_NE(telnet.status(), 0);
  EXPECT_FALSE(telnet.isConnected());
}

// inetutils telnetd behind systemd-socket-activate, one telnetd per
// connection, running telnet_login.sh in place of login.
class TelnetPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
      port_ = static_cast<u16>(tw::test::freeLoopbackPort());
      peer_ = std::make_unique<PeerProcess>(std::vector<std::string>{
          "systemd-socket-activate", "-l", "127.0.0.1:" + std::to_string(port_), "-a", "--inetd",
          "/usr/sbin/telnetd", "-h", "-E", tw::test::peerScriptDir() + "/telnet_login.sh"});
      ready_ = peer_->waitForLine("Listening on").has_value();
    }
    ASSERT_TRUE(ready_) << "inetutils-telnetd and systemd-socket-activate are needed: "
                        << (peer_ ? peer_->output() : "");
  }

  // Receives until the text has arrived or a receive fails.
  static std::string receiveUntil(zuTelnet& telnet, const std::string& text) {
    std::string all;
    for (int lines = 0; lines < 50 && all.find(text) == std::string::npos; ++lines) {
      std::string line;
      if (telnet.receiveString(line, '\n', false) != 0) break;
      all += line;
    }
    return all;
  }

  bool connect(zuTelnet& telnet) {
    telnet.setPort(port_);
    return telnet.connect(zuIPAddress("127.0.0.1"), 10000);
  }

  u16 port_ = 0;
  bool ready_ = false;
  std::unique_ptr<PeerProcess> peer_;
};

TEST_F(TelnetPeer, LoginProgramAnswersLines) {
  zuTelnet telnet(nullptr);
  ASSERT_TRUE(connect(telnet));
  EXPECT_TRUE(telnet.isConnected());
  auto* tcp = dynamic_cast<zuTCPEndpoint*>(telnet.endpoint());
  ASSERT_NE(tcp, nullptr);
  EXPECT_TRUE(tcp->noDelay());

  const std::string greeting = receiveUntil(telnet, "tarnwell login ready");
  EXPECT_NE(greeting.find("tarnwell login ready\r\n"), std::string::npos) << greeting;
  // telnetd asked for terminal type, window size and the rest; each was
  // answered once and is settled.
  EXPECT_GE(telnet.options().size(), 5u);

  ASSERT_EQ(telnet.send("hello"), 0);
  const std::string echo = receiveUntil(telnet, "echo:hello");
  EXPECT_NE(echo.find("echo:hello\r\n"), std::string::npos) << echo;

  // A byte 255 in the text reaches the program only because it is doubled;
  // its echo comes back doubled by telnetd and is collapsed again.
  ASSERT_EQ(telnet.send("a\xff"
                        "b"),
            0);
  const std::string binary = receiveUntil(telnet, "echo:a");
  EXPECT_NE(binary.find("echo:a\xff"
                        "b\r\n"),
            std::string::npos)
      << binary;

  // The program's bare CR travels as CR NUL; the NUL never reaches the text.
  ASSERT_EQ(telnet.send("cr"), 0);
  const std::string cr = receiveUntil(telnet, "done");
  EXPECT_NE(cr.find("cr\rdone\r\n"), std::string::npos) << cr;
  EXPECT_EQ(cr.find('\0'), std::string::npos);

  ASSERT_EQ(telnet.send("quit"), 0);
  receiveUntil(telnet, "echo:quit");
  EXPECT_TRUE(telnet.disconnect());
  EXPECT_FALSE(telnet.isConnected());
  EXPECT_EQ(telnet.endpoint(), nullptr);
}

TEST_F(TelnetPeer, SecondConnectionNegotiatesAfresh) {
  zuTelnet telnet(nullptr);
  ASSERT_TRUE(connect(telnet));
  const std::string first = receiveUntil(telnet, "tarnwell login ready");
  ASSERT_NE(first.find("tarnwell login ready"), std::string::npos) << first;
  const auto settled = telnet.options().size();

  // A new server asks again; an answer withheld because the last server got
  // one would leave it waiting, and the greeting would never come.
  ASSERT_TRUE(connect(telnet));
  const std::string second = receiveUntil(telnet, "tarnwell login ready");
  EXPECT_NE(second.find("tarnwell login ready"), std::string::npos) << second;
  EXPECT_EQ(telnet.options().size(), settled);
}

}  // namespace
