#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuFile.h"
#include "loam/base/zuPath.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/netobjects/zuNetReqAgentUpgrade.h"
#include "loam/netobjects/zuNetReqConnect.h"
#include "loam/netobjects/zuNetReqUpgrade.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/threads/zuExec.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/ExternalTool.h"
#include "support/NetObjectTestSupport.h"
#include "support/ServerTestSupport.h"
#include "support/TestSupport.h"
#include "update_agent/uaServer.h"

namespace {

using tw::test::hasLine;
using tw::test::takeLine;

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
const zuIPAddress kLoopback("127.0.0.1");
const std::string kVersion = "6.2 x64 [31019][1.0]";

// --- the server ----------------------------------------------------------------

// The agent with its program folder moved to one the test owns, listening on
// a free loopback port.
class TestAgent : public uaServer {
 public:
  explicit TestAgent(std::string folder) : folder_(std::move(folder)) {
    setPort(0);
    setBindAddress(kLoopback);
  }
  std::string realProgramFolder() const { return uaServer::programFolder(); }

 protected:
  std::string programFolder() const override { return folder_; }

 private:
  std::string folder_;
};

// The console run on a thread of its own.
class AgentRun : public tw::test::ServerRun {
 public:
  AgentRun(uaServer& server, std::vector<std::string> args)
      : tw::test::ServerRun(server, std::move(args), "update_agent") {}
};

// --- the client ----------------------------------------------------------------

using Request = tw::test::ReplyRequest;

class Client : public tw::test::SecureClient {
 public:
  explicit Client(u16 port) : SecureClient(kLoopback, port) {}
};

std::vector<zuOption> optionsOf(const std::vector<std::string>& words) {
  std::vector<zuOption> out;
  for (const std::string& w : words) out.emplace_back(w);
  return out;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << path;
  out << text;
}

class AgentTest : public tw::test::ServerLogTest {
 protected:
  std::string defaultDataPath() {
    std::string common;
    EXPECT_EQ(zuPlatform::commonAppDataFolder(common, true), 0u);
    return zuAppendPath(zuAppendPath(common, "Tarnwell"), "Update Agent");
  }

  tw::test::ScratchDir programFolder_;
  tw::test::ScratchDir dataFolder_;
};

// --- tests ---------------------------------------------------------------------

TEST_F(AgentTest, VersionDescriptionAndDefaults) {
  uaServer server;
  EXPECT_EQ(server.versionText(), kVersion);
  EXPECT_EQ(server.serviceDescription(),
            "Allows the Tarnwell Suite to perform automatic updated.  If this service is stopped, "
            "the Tarnwell Suite will not be able to perform automatic updates.");
  EXPECT_EQ(server.port(), 4152);
  EXPECT_EQ(server.maxConnections(), 100u);
  EXPECT_TRUE(server.factories().empty());
  // Without the seam the program folder is the running program's.
  EXPECT_EQ(TestAgent("").realProgramFolder(), zuGetModuleDirectory());
}

TEST_F(AgentTest, ConsoleRunAnswersConnectAndRefusesOtherTypes) {
  TestAgent server(programFolder_.path());
  AgentRun run(server, {"-D", dataFolder_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(hasLine(5, "Starting Tarnwell Update Agent, version " + kVersion));

  {
    Client client(port);
    ASSERT_EQ(client.status, 0);
    const std::string os = zuGetOSDescription();
    const std::string expected = std::string("\x01\x00\x01\x08", 4) + os +
                                 std::string("\0\x02", 2) + "6.2" + std::string("\0\0", 2);
    Request& connect = client.ask(zuNOT_Connect, "");
    EXPECT_TRUE(connect.isSucceeded());
    EXPECT_EQ(connect.getErrorCode(), 0);
    EXPECT_TRUE(connect.reply == expected) << connect.reply.size();

    // The library's own upgrade request and unknown types are not served;
    // the connection goes on.
    for (const u8 type : {u8{zuNOT_Upgrade}, u8{9}}) {
      SCOPED_TRACE(int{type});
      Request& refused = client.ask(type, "x");
      EXPECT_EQ(refused.getState(), zuNetObject::kStateFailed);
      EXPECT_EQ(refused.getErrorCode(), zuErrUnsupportedType);
    }
    EXPECT_TRUE(client.ask(zuNOT_Connect, "again").isSucceeded());
  }
  EXPECT_EQ(run.stop(), 0u);
}

TEST_F(AgentTest, DataPathRule) {
  struct Case {
    const char* name;
    bool fileBesideProgram;
    bool dashD;
    enum { kProgram, kOption, kCommon } expected;
  } cases[] = {
      {"program folder wins over -D", true, true, Case::kProgram},
      {"program folder without -D", true, false, Case::kProgram},
      {"-D", false, true, Case::kOption},
      {"common folder, created", false, false, Case::kCommon},
  };
  const std::string besideProgram = programFolder_.file("preferences.cfg");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.fileBesideProgram) {
      writeText(besideProgram, "<arguments value=\"-P 4300\"/>\n");
    } else {
      zuDeleteFile(besideProgram);
    }
    const std::string common = defaultDataPath();
    zuRemoveDirectoryTree(common);

    TestAgent server(programFolder_.path());
    std::vector<zuOption> options = optionsOf(
        k.dashD ? std::vector<std::string>{"-D", dataFolder_.path()} : std::vector<std::string>{});
    ASSERT_TRUE(server.parseArguments(options));
    server.initialize();
    const std::string expected = k.expected == Case::kProgram  ? programFolder_.path()
                                 : k.expected == Case::kOption ? dataFolder_.path()
                                                               : common;
    EXPECT_EQ(server.dataPath(), expected);
    EXPECT_EQ(server.preferences().fileName(), zuAppendPath(expected, "preferences.cfg"));
    // The preference file that was chosen is the one read.
    EXPECT_EQ(server.port(), k.fileBesideProgram ? 4300 : 0);
    EXPECT_EQ(zuIsDirectory(common), k.expected == Case::kCommon);
    EXPECT_EQ(server.factories().count(zuNOT_Connect), 1u);
    EXPECT_EQ(server.factories().count(zuNOT_Login), 1u);  // Upgrade
  }
}

TEST_F(AgentTest, DataFolderFailureEndsTheRun) {
  // The common folder's "Tarnwell" is a file: the folder cannot be made.
  std::string common;
  ASSERT_EQ(zuPlatform::commonAppDataFolder(common, true), 0u);
  writeText(common + "/Tarnwell", "x");
  TestAgent server(programFolder_.path());
  AgentRun run(server, {});
  ASSERT_TRUE(run.waitEnded());
  EXPECT_EQ(run.stop(), 1u);
  EXPECT_TRUE(hasLine(0, "Error creating directory \"" + zuAppendPath(common, "Tarnwell") + "\"."));
  EXPECT_TRUE(server.factories().empty());
}

// --- the program -----------------------------------------------------------------

TEST_F(AgentTest, ProgramCommandActions) {
  struct Case {
    const char* arguments;
    u32 exitCode;
    std::vector<std::string> firstLines;
  } cases[] = {
      {"-v", 0, {"Tarnwell Update Agent, version " + kVersion}},
      {"-h", 0, {"", "Tarnwell Update Agent, version " + kVersion + " -- Tarnwell Update Agent."}},
      {"-nosuchoption", 87, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.arguments);
    zuExec child;
    std::ostringstream out;
    ASSERT_TRUE(child.runCapture(TW_UPDATE_AGENT, k.arguments, out, kWait, nullptr));
    EXPECT_EQ(child.status(), k.exitCode);
    std::istringstream lines(out.str());
    for (const std::string& expected : k.firstLines) {
      std::string line;
      ASSERT_TRUE(std::getline(lines, line)) << out.str();
      EXPECT_EQ(line, expected) << out.str();
    }
  }
}

// The library's own client against the running agent.
TEST_F(AgentTest, LibraryClientConnectsAndIsRefusedTheLibrarysUpgradeForm) {
  TestAgent server(programFolder_.path());
  AgentRun run(server, {"-D", dataFolder_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);

  zuConnectReply reply;
  auto handler = zuNetObjectHandler::connect(kLoopback, port, "agent", nullptr, 256, nullptr,
                                             &reply, true);
  ASSERT_TRUE(handler);
  EXPECT_EQ(reply.protocolValue, 256);
  EXPECT_TRUE(reply.firstFlag);
  EXPECT_EQ(reply.firstConstant, 8u);
  EXPECT_EQ(reply.osText, zuGetOSDescription());
  EXPECT_EQ(reply.secondConstant, 2u);
  EXPECT_EQ(reply.versionText, "6.2");
  EXPECT_FALSE(reply.lastFlag);

  const std::string file = dataFolder_.path() + "/pkg.bin";
  writeText(file, "package");
  zuNetReqUpgrade upgrade(file, "argument", "signature", 1);
  upgrade.start(handler.get());
  ASSERT_FALSE(zuThread::waitForObjects(kWait, upgrade.completionEvent()));
  EXPECT_TRUE(upgrade.wait());
  EXPECT_EQ(upgrade.getState(), zuNetObject::kStateFailed);
  EXPECT_EQ(upgrade.getErrorCode(), zuErrUnsupportedType);
  EXPECT_EQ(upgrade.errorMessage().toString(),
            "Request of type \"3\" is not supported. The server and the client might be "
            "incompatible.");
  handler->stop();
  handler->wait();
  EXPECT_EQ(run.stop(), 0u);
}

// The library's request in the agent's form, signed with the tests' own key,
// against the running agent: installed when the agent was built with that
// key, refused by any other.
TEST_F(AgentTest, AgentFormUpgradeOfTheLibraryOverTheRunningAgent) {
  ASSERT_TRUE(tw::test::haveTool("openssl")) << "openssl signs the upgrade (Debian openssl)";
  tw::test::ScratchDir temp;
  tw::test::ScopedEnv tmpdir("TMPDIR", temp.path());
  const std::string marker = dataFolder_.path() + "/ran";
  const std::string program = programFolder_.path() + "/setup.sh";
  writeText(program, "#!/bin/sh\necho ran > " + tw::test::shellQuote(marker) + "\n");
  const std::string sig = programFolder_.path() + "/setup.sig";
  ASSERT_EQ(tw::test::runTool("openssl dgst -sha1 -sign " +
                              tw::test::shellQuote(TW_TEST_UPGRADE_PRIVATE_KEY) + " -out " +
                              tw::test::shellQuote(sig) + " " + tw::test::shellQuote(program)),
            0);
  std::string signature;
  for (const char c : tw::test::readFileBytes(sig)) {
    static const char kDigits[] = "0123456789ABCDEF";
    const auto b = static_cast<unsigned char>(c);
    signature += kDigits[b >> 4];
    signature += kDigits[b & 15];
  }
  const std::string keyFile = TW_UPGRADE_PUBLIC_KEY_FILE;
  const bool testKey = !keyFile.empty() && tw::test::readFileBytes(keyFile) ==
                                               tw::test::readFileBytes(TW_TEST_UPGRADE_PUBLIC_KEY);

  TestAgent server(programFolder_.path());
  AgentRun run(server, {"-D", dataFolder_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);
  auto handler = zuNetObjectHandler::connect(kLoopback, port, "agent", nullptr, 256, nullptr,
                                             nullptr, true);
  ASSERT_TRUE(handler);
  zuNetReqAgentUpgrade upgrade(program, 0, "", signature);
  upgrade.start(handler.get());
  ASSERT_FALSE(zuThread::waitForObjects(kWait, upgrade.completionEvent()));
  EXPECT_TRUE(upgrade.wait());
  if (testKey) {
    EXPECT_TRUE(upgrade.isSucceeded()) << upgrade.errorMessage().toString();
    EXPECT_EQ(tw::test::readFileBytes(marker), "ran\n");
  } else {
    EXPECT_EQ(upgrade.getErrorCode(), 1541);
    EXPECT_FALSE(zuFileExists(marker));
  }
  handler->stop();
  handler->wait();
  EXPECT_EQ(run.stop(), 0u);
}

}  // namespace
