// The three-digit-reply client: reply framing against scripted lines, the
// bounds of sendCommand, and whole sessions with real SMTP (aiosmtpd) and FTP
// (pyftpdlib) servers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "loam/base/zuException.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/terminal/zuNetParser.h"
#include "support/ExternalTool.h"
#include "support/TimeTestSupport.h"

namespace {

using tw::test::PeerProcess;

// A parser over an endpoint the test owns.
class TestParser : public zuNetParser {
 public:
  explicit TestParser(zuNetEndpoint* endpoint) { setEndpoint(endpoint); }
};

u16 codeOf(const std::string& wire, std::string* rest = nullptr) {
  zuScriptedEndpoint script;
  script.addBytes(wire);
  TestParser parser(&script);
  const u16 code = parser.readReply();
  if (rest != nullptr) {
    char line[512];
    u32 length = sizeof line;
    *rest = parser.readLine(0, line, &length) == 0 ? std::string(line, length) : "<none>";
  }
  return code;
}

struct ReplyCase {
  const char* name;
  const char* wire;
  u16 code;
  // The line that the reply must leave unread.
  const char* next;
};

// A failure names its case, not the struct's raw bytes.
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReplyFraming : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyFraming, EndsWhereTheReplyEnds) {
  std::string rest;
  EXPECT_EQ(codeOf(GetParam().wire, &rest), GetParam().code);
  EXPECT_EQ(rest, GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReplyFraming,
    ::testing::Values(ReplyCase{"single", "220 ready\r\nnext\r\n", 220, "next"},
                      ReplyCase{"three lines", "250-a\r\n250-b\r\n250 c\r\nnext\r\n", 250, "next"},
                      ReplyCase{"short line skipped", "ok\r\n200 fine\r\nnext\r\n", 200, "next"},
                      ReplyCase{"bare code", "250-a\r\n250\r\nnext\r\n", 250, "next"},
                      // Text lines inside a reply that look like replies of another code,
                      // or like this code without the blank, do not end it.
                      ReplyCase{"other code inside",
                                "211-status\r\n200 not the end\r\n211-more\r\n"
                                "211x\r\n211 end\r\nnext\r\n",
                                211, "next"},
                      ReplyCase{"indented text inside",
                                "214-help\r\n 250 USER PASS\r\n214 ok\r\nnext\r\n", 214, "next"},
                      ReplyCase{"bare LF line ends", "230-a\n230 b\nnext\n", 230, "next"},
                      ReplyCase{"letters before the reply", "abc def\r\n331 password\r\nnext\r\n",
                                331, "next"}),
    [](const auto& param) {
      std::string n = param.param.name;
      for (char& c : n)
        if (c == ' ') c = '_';
      return n;
    });

TEST(NetParser, ReplyCutShortRaisesTheEndpointStatus) {
  zuScriptedEndpoint script;
  script.addBytes("250-first\r\n250-second\r\n");
  script.setEndStatus(zuErrConnectionBroken);
  TestParser parser(&script);
  try {
    parser.readReply();
    FAIL() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrConnectionBroken);
  }
}

TEST(NetParser, ReplyTimeoutCoversTheWholeReply) {
  zuScriptedEndpoint script;
  script.addBytes("250-first\r\n");
  script.addStatus(zuErrTimeout);
  TestParser parser(&script);
  parser.setTimeout(5000);
  try {
    parser.readReply();
    FAIL() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrTimeout);
  }
  // Each wait was given what was left of the reply's time, never more.
  ASSERT_FALSE(script.receiveTimeouts().empty());
  for (u32 t : script.receiveTimeouts()) EXPECT_LE(t, 5000u);
}

// The clock moves only inside the script's receives.
class NetParserClock : public tw::test::ClockSeamTest {
 protected:
  void SetUp() override {
    ClockSeamTest::SetUp();
    zuPlatform::setFixedTickForTest(tick_);
  }
  std::function<void()> advance(u64 ms) {
    return [this, ms] {
      tick_ += ms;
      zuPlatform::setFixedTickForTest(tick_);
    };
  }
  u64 tick_ = 100000;
};

TEST_F(NetParserClock, ReplyThatKeepsComingEndsAtItsTimeOut) {
  zuScriptedEndpoint script;
  script.addBytes("250-first\r\n");
  script.addAction(advance(150));
  // Continuation lines as fast as they are read; a poll per line would
  // read them all.
  for (int i = 0; i < 1000; ++i) script.addBytes("250-more\r\n");
  script.addBytes("250 end\r\n");
  TestParser parser(&script);
  parser.setTimeout(100);
  try {
    parser.readReply();
    FAIL() << "the reply outlived its time-out";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrTimeout);
  }
  // Past the time: what had arrived, one receive that does not wait, no more.
  EXPECT_EQ(script.receiveTimeouts(), (std::vector<u32>{100, 100, 0}));
}

TEST_F(NetParserClock, ReplyAlreadyHereIsReadWhenTheTimeIsUp) {
  zuScriptedEndpoint script;
  script.addBytes("250-first\r\n");
  script.addAction(advance(150));
  script.addBytes("250-second\r\n250 last\r\nnext\r\n");
  TestParser parser(&script);
  parser.setTimeout(100);
  EXPECT_EQ(parser.readReply(), 250);
  char line[512];
  u32 length = sizeof line;
  EXPECT_EQ(parser.readLine(0, line, &length), 0);
  EXPECT_STREQ(line, "next");
}

TEST(NetParser, DiscardInputStopsAtItsLimit) {
  zuScriptedEndpoint script;
  // A peer that floods faster than it is dropped.
  const std::string piece(zuNetEndpoint::kDefaultBufferSize, 'z');
  const u32 pieces = zuNetParser::kMaxDiscard / zuNetEndpoint::kDefaultBufferSize + 2;
  for (u32 i = 0; i < pieces; ++i) script.addBytes(piece);
  TestParser parser(&script);
  EXPECT_EQ(parser.discardInput(), 0);
  EXPECT_FALSE(script.scriptDone());
}

TEST(NetParser, SendCommandSendsOneLineAndReadsTheReply) {
  zuScriptedEndpoint script;
  script.addBytes("250 OK\r\n");
  TestParser parser(&script);
  EXPECT_EQ(parser.sendCommand("MAIL FROM:<%s>", "a@b.test"), 250);
  EXPECT_EQ(script.sent(), "MAIL FROM:<a@b.test>\r\n");
}

struct RefusedCommand {
  const char* name;
  std::string argument;
};

void PrintTo(const RefusedCommand& c, std::ostream* os) { *os << c.name; }

class CommandRefused : public ::testing::TestWithParam<RefusedCommand> {};

TEST_P(CommandRefused, NothingIsSent) {
  zuScriptedEndpoint script;
  script.addBytes("250 OK\r\n");
  TestParser parser(&script);
  try {
    parser.sendCommand("RCPT TO:<%s>", GetParam().argument.c_str());
    FAIL() << "sent";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrFailed);
  }
  EXPECT_EQ(script.sent(), "");
}

INSTANTIATE_TEST_SUITE_P(Texts, CommandRefused,
                         ::testing::Values(RefusedCommand{"lf", "a@b\nDATA"},
                                           RefusedCommand{"cr", "a@b\rDATA"},
                                           RefusedCommand{"crlf", "a@b\r\nRSET"},
                                           // 10 + 500 characters: one past the longest command.
                                           RefusedCommand{"too_long", std::string(500, 'x')}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(NetParser, LongestCommandFitsExactly) {
  zuScriptedEndpoint script;
  script.addBytes("250 OK\r\n");
  TestParser parser(&script);
  const std::string text(zuNetParser::kMaxCommand, 'y');
  EXPECT_EQ(parser.sendCommand("%s", text.c_str()), 250);
  EXPECT_EQ(script.sent(), text + "\r\n");
}

TEST(NetParser, DiscardInputDropsWhatHasArrived) {
  zuScriptedEndpoint script;
  script.addBytes(std::string(3000, 'z'));
  script.addStatus(zuErrTimeout);
  script.addBytes("220 later\r\n");
  TestParser parser(&script);
  EXPECT_EQ(parser.discardInput(), zuErrTimeout);
  EXPECT_EQ(parser.readReply(), 220);
}

// A connection to a peer that printed "PORT <n>".
std::unique_ptr<zuTCPEndpoint> connectToPeer(PeerProcess& peer) {
  const auto line = peer.waitForLine("PORT ");
  EXPECT_TRUE(line.has_value()) << peer.output();
  if (!line) return nullptr;
  const u16 port = static_cast<u16>(std::stoi(line->substr(line->find(' ') + 1)));
  auto endpoint = std::make_unique<zuTCPEndpoint>(nullptr, 10000);
  EXPECT_EQ(endpoint->connect(zuIPAddress("127.0.0.1"), port), 0);
  return endpoint;
}

TEST(NetParserPeers, SmtpSessionDeliversAMessage) {
  PeerProcess smtp({tw::test::kPython, tw::test::peerScriptDir() + "/smtp_peer.py"});
  ASSERT_TRUE(smtp.running()) << "python3-aiosmtpd is needed as the SMTP peer";
  auto endpoint = connectToPeer(smtp);
  ASSERT_TRUE(endpoint);
  TestParser client(endpoint.get());
  client.setTimeout(10000);
  EXPECT_EQ(client.readReply(), 220);
  // EHLO's reply has one line per extension: the code of its first line.
  EXPECT_EQ(client.sendCommand("EHLO %s", "client.test"), 250);
  EXPECT_EQ(client.sendCommand("NOOP"), 250);
  EXPECT_EQ(client.sendCommand("MAIL FROM:<%s>", "agent@client.test"), 250);
  EXPECT_EQ(client.sendCommand("RCPT TO:<%s>", "ops@peer.test"), 250);
  EXPECT_EQ(client.sendCommand("DATA"), 354);
  client.sendLine("Subject: update");
  client.sendLine("");
  client.sendLine("line one");
  EXPECT_EQ(client.sendCommand("."), 250);
  // A recipient with a line break would smuggle a second command: refused
  // before anything leaves.
  EXPECT_THROW(client.sendCommand("RCPT TO:<%s>", "x@y\r\nRSET"), zuException);
  EXPECT_EQ(client.sendCommand("QUIT"), 221);

  const auto message = smtp.waitForLine("MESSAGE ");
  ASSERT_TRUE(message) << smtp.output();
  EXPECT_EQ(*message, "MESSAGE from=agent@client.test to=ops@peer.test");
  ASSERT_TRUE(smtp.waitForLine("END"));
  EXPECT_NE(smtp.output().find("| line one\n"), std::string::npos) << smtp.output();
  EXPECT_EQ(smtp.output().find("RSET"), std::string::npos);
}

TEST(NetParserPeers, FtpLoginAndMultiLineReplies) {
  tw::test::ScratchDir home;
  PeerProcess ftp({tw::test::kPython, tw::test::peerScriptDir() + "/ftp_peer.py", home.path(),
                   "agent", "s3cret"});
  ASSERT_TRUE(ftp.running()) << "python3-pyftpdlib is needed as the FTP peer";
  auto endpoint = connectToPeer(ftp);
  ASSERT_TRUE(endpoint);
  TestParser client(endpoint.get());
  client.setTimeout(10000);
  EXPECT_EQ(client.readReply(), 220);
  EXPECT_EQ(client.sendCommand("USER %s", "agent"), 331);
  EXPECT_EQ(client.sendCommand("PASS %s", "wrong"), 530);
  EXPECT_EQ(client.sendCommand("USER %s", "agent"), 331);
  EXPECT_EQ(client.sendCommand("PASS %s", "s3cret"), 230);
  // FEAT and HELP answer with multi-line replies whose inner lines are
  // indented names; the next command's reply must not be taken for theirs.
  EXPECT_EQ(client.sendCommand("FEAT"), 211);
  EXPECT_EQ(client.sendCommand("HELP"), 214);
  EXPECT_EQ(client.sendCommand("PWD"), 257);
  EXPECT_EQ(client.sendCommand("TYPE I"), 200);
  EXPECT_EQ(client.sendCommand("QUIT"), 221);
}

}  // namespace
