#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/base/zuFile.h"
#include "loam/base/zuPath.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/service/zuServer.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/ServerTestSupport.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using tw::test::countLines;
using tw::test::countPrefix;
using tw::test::eventually;
using tw::test::hasLine;
using tw::test::takeLine;
using tw::test::waitForLine;

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
constexpr u8 kEcho = 2;
const zuIPAddress kLoopback4("127.0.0.1");
const zuIPAddress kLoopback6("::1");

bool waitFor(zuEvent& event) { return !zuThread::waitForObjects(kWait, &event); }

// --- the server's side -------------------------------------------------------

// Echoes the request's bytes back, or holds it without an answer.
class EchoResponse : public zuNetObject {
 public:
  explicit EchoResponse(bool hold) : hold_(hold) {}
  u8 getType() const override { return kEcho; }
  bool isRequest() const override { return false; }
  bool requiresAuthority() const override { return false; }
  // The test echoes a message larger than the default bound.
  std::size_t maxGatheredBytes() const override { return 1u << 20; }
  u16 processData(zuNetReader& reader, u32 length) override {
    if (hold_) {
      setSendState(kStateIdle);
      return 0;
    }
    outgoing().putData(reader.getCurrent(), length);
    prepareSend();
    return 0;
  }
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override {
    const u32 n = zuNetObject::sendData(buffer, maximum, error, last);
    if (last) setSendState(kStateDone);
    return n;
  }

 private:
  bool hold_;
};

// What the server's handlers report back.
struct HandlerLog {
  std::mutex lock;
  std::vector<zuNetObjectHandler*> created;
  std::atomic<int> destroyed{0};
  std::atomic<int> destroyedRunning{0};

  zuNetObjectHandler* at(std::size_t i) {
    std::lock_guard<std::mutex> hold(lock);
    return i < created.size() ? created[i] : nullptr;
  }
};

class TrackedHandler : public zuNetObjectHandler {
 public:
  TrackedHandler(HandlerLog& log, std::unique_ptr<zuNetEndpoint> endpoint, bool compress)
      : zuNetObjectHandler(zuThread::currentThread(), std::move(endpoint), compress), log_(log) {}
  ~TrackedHandler() override {
    if (state() != kStateEnded) ++log_.destroyedRunning;
    ++log_.destroyed;
  }

 private:
  HandlerLog& log_;
};

class TestServer : public zuServer {
 public:
  explicit TestServer(const zuIPAddress& at = kLoopback4) {
    setPort(0);
    setBindAddress(at);
    factories()[kEcho] = [this](u8) { return std::make_unique<EchoResponse>(holdReplies); };
  }
  using zuServer::flag_;

  HandlerLog handlers;
  std::atomic<bool> holdReplies{false};

 protected:
  std::unique_ptr<zuNetObjectHandler> createHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                    bool compress) override {
    auto handler = std::make_unique<TrackedHandler>(handlers, std::move(endpoint), compress);
    std::lock_guard<std::mutex> hold(handlers.lock);
    handlers.created.push_back(handler.get());
    return handler;
  }
};

// The server's console run on a thread of its own.
class ServerRun : public tw::test::ServerRun {
 public:
  ServerRun(zuServer& server, std::vector<std::string> args)
      : tw::test::ServerRun(server, std::move(args), "program") {}
};

// --- the client's side -------------------------------------------------------

using TestRequest = tw::test::ReplyRequest;

// A secure client to the server that also echoes.
class Client : public tw::test::SecureClient {
 public:
  using SecureClient::SecureClient;
  std::string echo(const std::string& payload) {
    TestRequest& r = ask(kEcho, payload);
    EXPECT_EQ(r.getErrorCode(), 0);
    return r.reply;
  }
};

std::string connectionLine(const char* peer, u32 open) {
  return std::string("Connection request from [") + peer + "]. Currently " + std::to_string(open) +
         " connection(s) open.";
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << path;
  out << text;
}

std::vector<zuOption> optionsOf(const std::vector<std::string>& words) {
  std::vector<zuOption> out;
  for (const std::string& w : words) out.emplace_back(w);
  return out;
}

class ServerTest : public tw::test::ServerLogTest {
 protected:
  std::string commonFolder() {
    std::string common;
    EXPECT_EQ(zuPlatform::commonAppDataFolder(common, true), 0u);
    return common;
  }
  std::string defaultDataPath() {
    return zuAppendPath(zuAppendPath(commonFolder(), "Tarnwell"), "Update Agent");
  }

  tw::test::ScratchDir scratch_;
};

// --- the listening loop ------------------------------------------------------

TEST_F(ServerTest, ServesRequestsOverTheSecureLayerUntilStopped) {
  TestServer server;
  ServerRun run(server, {"-D", scratch_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(hasLine(4, "Starting listening on port [0]."));

  {
    Client client(kLoopback4, port);
    ASSERT_EQ(client.status, 0);
    EXPECT_TRUE(client.handler->isRunning());
    EXPECT_EQ(client.echo("hello server"), "hello server");
    // A type with no factory is refused; the connection goes on.
    TestRequest& refused = client.ask(9, "x");
    EXPECT_EQ(refused.getState(), zuNetObject::kStateFailed);
    EXPECT_EQ(refused.getErrorCode(), zuErrUnsupportedType);
    EXPECT_EQ(client.echo(std::string(70000, 'z')), std::string(70000, 'z'));
  }
  EXPECT_TRUE(hasLine(3, connectionLine("127.0.0.1", 0)));
  EXPECT_TRUE(hasLine(4, "Starting net handler for [127.0.0.1]."));

  EXPECT_EQ(run.stop(), 0u);
  EXPECT_TRUE(hasLine(1, "Listening stopped on port [" + std::to_string(port) + "]."));
  EXPECT_TRUE(server.isListening());  // never reset
  EXPECT_EQ(server.connectionCount(), 0u);
  EXPECT_EQ(server.handlers.destroyed.load(), 1);
}

TEST_F(ServerTest, StopEndsTheLoopAndJoinsEveryHandler) {
  TestServer server(kLoopback6);
  server.holdReplies = true;
  ServerRun run(server, {"-D", scratch_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);

  // Three connections, each with a request the server never answers.
  // Requests outlive the clients' handlers, which touch them as they end.
  std::list<TestRequest> pending;
  std::list<Client> clients;
  for (int i = 0; i < 3; ++i) {
    Client& c = clients.emplace_back(kLoopback6, port);
    ASSERT_EQ(c.status, 0);
    TestRequest& r = pending.emplace_back(kEcho, "wait");
    tw::test::sendOn(*c.handler, r);
  }
  ASSERT_NE(waitForLine("Starting net handler for [::1].", 3), "");
  EXPECT_TRUE(hasLine(3, connectionLine("::1", 2)));

  EXPECT_EQ(run.stop(), 0u);
  EXPECT_EQ(server.handlers.destroyed.load(), 3);
  EXPECT_EQ(server.handlers.destroyedRunning.load(), 0);
  // Every connection was closed: the clients' handlers end.
  for (Client& c : clients) EXPECT_TRUE(waitFor(*c.handler->finishedEvent()));
  for (TestRequest& r : pending) EXPECT_TRUE(waitFor(r.done));
}

TEST_F(ServerTest, ConnectionsPastTheLimitGetTooManyConnectionsAndEndedOnesAreReaped) {
  EXPECT_EQ(TestServer().maxConnections(), 100u);
  TestServer server;
  server.setMaxConnections(2);
  ServerRun run(server, {"-D", scratch_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);

  auto first = std::make_unique<Client>(kLoopback4, port);
  Client second(kLoopback4, port);
  EXPECT_EQ(first->echo("1"), "1");
  EXPECT_EQ(second.echo("2"), "2");

  // The third is answered with a type-5 message and closed.
  {
    auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, kWait, true);
    ASSERT_EQ(endpoint->connect(kLoopback4, port), 0);
    zuNetPacketLayer layer(std::move(endpoint), true);
    zuNetBuffer buffer(1000);
    u32 length = 0;
    ASSERT_EQ(layer.receive(buffer, length, kWait), 0);
    ASSERT_EQ(length, 6u);
    zuNetMessageHeader header;
    header.read(buffer.payload(), length);
    EXPECT_EQ(header.id, 0);
    EXPECT_EQ(header.type, 5);
    EXPECT_EQ(u32{header.flags}, 1u);
    EXPECT_EQ(header.error, zuErrTooManyConnections);
    EXPECT_EQ(layer.receive(buffer, length, kWait), zuErrConnectionBroken);
  }
  EXPECT_TRUE(hasLine(3, connectionLine("127.0.0.1", 2)));
  EXPECT_TRUE(hasLine(0, "Connection request from [127.0.0.1] rejected."));
  // The refused one had a handler for its handshake alone, reaped once it
  // ended.
  ASSERT_NE(server.handlers.at(2), nullptr);
  ASSERT_TRUE(eventually([&] { return server.handlers.destroyed.load() == 1; }));

  // The first client leaves: its handler ends and is deleted (after its
  // thread ended) while nobody else connects. Then the next is served.
  ASSERT_NE(server.handlers.at(0), nullptr);
  first.reset();
  ASSERT_TRUE(eventually([&] { return server.handlers.destroyed.load() == 2; }));
  EXPECT_EQ(server.handlers.destroyedRunning.load(), 0);
  Client third(kLoopback4, port);
  EXPECT_EQ(third.echo("3"), "3");
  EXPECT_EQ(countLines(connectionLine("127.0.0.1", 1)), 2u);
  EXPECT_EQ(server.handlers.destroyed.load(), 2);

  EXPECT_EQ(run.stop(), 0u);
  EXPECT_EQ(server.handlers.destroyed.load(), 4);
}

TEST_F(ServerTest, PeersThatStallTheirHandshakeHoldUpOnlyThemselves) {
  TestServer server;
  // Above the bounds on unfinished handshakes (the agent's tests try those),
  // so every stalled peer holds one.
  server.setHandshakeLimits(41, 41);
  ServerRun run(server, {"-D", scratch_.path()});
  const u16 port = run.waitListening();
  ASSERT_NE(port, 0);

  // Twenty peers that send nothing and twenty that stop after the header.
  const u8 header[] = {'Z', 'U', 'S', 'L', 1, 0, 1, 1, 0, 0};
  std::vector<std::unique_ptr<zuTCPEndpoint>> stalled;
  for (int i = 0; i < 40; ++i) {
    auto& peer = stalled.emplace_back(std::make_unique<zuTCPEndpoint>(nullptr, kWait));
    ASSERT_EQ(peer->connect(kLoopback4, port), 0);
    if (i % 2 == 1) {
      ASSERT_EQ(peer->write(header, sizeof header), 0);
      ASSERT_EQ(peer->flush(), 0);
    }
  }
  // Each counts as open from its accept.
  ASSERT_NE(waitForLine("Starting net handler for [127.0.0.1].", 40), "");

  Client client(kLoopback4, port);
  ASSERT_EQ(client.status, 0);
  EXPECT_EQ(client.echo("through"), "through");
  EXPECT_TRUE(hasLine(3, connectionLine("127.0.0.1", 40)));
  // Served while every stalled handshake still waits: the silent peers have
  // been sent nothing, the others perhaps the server's header, and none was
  // closed.
  for (std::size_t i = 0; i < stalled.size(); ++i) {
    u8 byte = 0;
    u32 n = 1;
    stalled[i]->setTimeout(0);
    const u16 status = stalled[i]->readSome(&byte, &n);
    if (i % 2 == 0) {
      EXPECT_EQ(status, zuErrTimeout) << i;
    } else {
      EXPECT_TRUE(status == 0 || status == zuErrTimeout) << i << ": " << status;
    }
  }
  EXPECT_EQ(run.stop(), 0u);
}

TEST_F(ServerTest, ListenFailureEndsTheRunWithEndpointError) {
  // A port that is taken, and an IPv4-only server on an IPv6 address.
  zuTCPEndpoint holder(nullptr, kWait);
  ASSERT_EQ(holder.listen(0, kLoopback4), 0);
  struct Case {
    const char* name;
    zuIPAddress at;
    u16 port;
    std::vector<std::string> args;
  } cases[] = {
      {"port in use", kLoopback4, holder.localPort(), {}},
      {"-4 on ::1", kLoopback6, 0, {"-4"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    tw::test::clearLines();
    TestServer server(k.at);
    server.setPort(k.port);
    std::vector<std::string> args = k.args;
    args.insert(args.end(), {"-D", scratch_.path()});
    ServerRun run(server, args);
    ASSERT_TRUE(run.waitEnded());
    EXPECT_EQ(run.stop(), 1u);
    EXPECT_TRUE(hasLine(0, "Unable to create endpoint. Port might be in use."));
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(countPrefix("Listening st"), 0u);
  }
}

// --- options -----------------------------------------------------------------

TEST_F(ServerTest, ServerOptions) {
  struct Case {
    std::vector<std::string> words;
    bool result;
    u16 port;
    u32 family;
    std::string dataPath;
    const char* error;  // logged at level 0
    std::vector<bool> consumed;
  } cases[] = {
      {{"-P4153"}, true, 4153, 0, "", nullptr, {true}},
      {{"-p", "4153"}, true, 4153, 0, "", nullptr, {true, true}},
      {{"-P", "65535", "-4"}, true, 65535, 2, "", nullptr, {true, true, true}},
      {{"-6"}, true, 4152, 23, "", nullptr, {true}},
      {{"-p", "0"}, false, 4152, 0, "", "Incorrect argument for option \"p\".", {true, true}},
      {{"-p70000"}, false, 4152, 0, "", "Incorrect argument for option \"p\".", {true}},
      {{"-p", "abc"}, false, 4152, 0, "", "Incorrect argument for option \"p\".", {true, true}},
      {{"-P", "-D"}, false, 4152, 0, "", "Option \"p\" requires an argument.", {true, false}},
      {{"-D"}, false, 4152, 0, "", "Option \"d\" requires an argument.", {true}},
      {{"-dx"}, true, 4152, 0, "x", nullptr, {true}},
      {{"-d", "C:\\data"}, true, 4152, 0, "C:\\data", nullptr, {true, true}},
      // Four characters with L third: the logging options' entry.
      {{"-dl3"}, true, 4152, 0, "", nullptr, {true}},
      {{"-X", "word"}, true, 4152, 0, "", nullptr, {false, false}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.words[0] + (k.words.size() > 1 ? " " + k.words[1] : ""));
    tw::test::clearLines();
    zuServer server;
    std::vector<zuOption> options = optionsOf(k.words);
    EXPECT_EQ(server.parseArguments(options), k.result);
    EXPECT_EQ(server.port(), k.port);
    EXPECT_EQ(server.addressFamily(), k.family);
    EXPECT_EQ(server.dataPath(), k.dataPath);
    EXPECT_EQ(server.exitCode(), k.result ? 0u : 1u);
    if (k.error) {
      EXPECT_TRUE(hasLine(0, k.error));
    }
    for (std::size_t i = 0; i < k.consumed.size(); ++i)
      EXPECT_EQ(options[i].consumed, k.consumed[i]) << i;
  }
  EXPECT_EQ(zuLog::getLogLevel(), 5);
}

// --- data path and preferences -------------------------------------------------

TEST_F(ServerTest, DataPathIsTheOptionElseTheCommonFolderCreated) {
  {
    zuServer server;
    server.initialize();
    const std::string expected = defaultDataPath();
    EXPECT_EQ(server.dataPath(), expected);
    EXPECT_TRUE(zuIsDirectory(expected));
    EXPECT_EQ(server.preferences().fileName(), zuAppendPath(expected, "preferences.cfg"));
    EXPECT_TRUE(hasLine(5, "Data path: \"" + expected + "\""));
    EXPECT_TRUE(
        hasLine(5, "Preference file: \"" + zuAppendPath(expected, "preferences.cfg") + "\""));
    EXPECT_TRUE(hasLine(5, "Build date: Jan 27 2010"));
    EXPECT_TRUE(hasLine(5, "Starting Tarnwell Update Agent, version 6.2 x64 [31019]"));
  }
  ASSERT_TRUE(zuRemoveDirectoryTree(zuAppendPath(commonFolder(), "Tarnwell")));
  {
    zuServer server;
    std::vector<zuOption> options = optionsOf({"-D", scratch_.path()});
    ASSERT_TRUE(server.parseArguments(options));
    server.initialize();
    EXPECT_EQ(server.dataPath(), scratch_.path());
    EXPECT_EQ(server.preferences().fileName(), zuAppendPath(scratch_.path(), "preferences.cfg"));
    EXPECT_FALSE(zuIsDirectory(zuAppendPath(commonFolder(), "Tarnwell")));
  }
}

TEST_F(ServerTest, ProgramFolderSetBeforeInitializeWinsOverTheOption) {
  // A derived server that, as the agent does, takes the folder holding a
  // preference file after the options were parsed.
  class FolderServer : public zuServer {
   public:
    explicit FolderServer(std::string folder) : folder_(std::move(folder)) {}
    void initialize() override {
      if (zuFileExists(zuAppendPath(folder_, "preferences.cfg"))) setDataPath(folder_);
      zuServer::initialize();
    }

   private:
    std::string folder_;
  };
  tw::test::ScratchDir programFolder;
  writeText(programFolder.file("preferences.cfg"), "<arguments value=\"-P 4300\"/>\n");
  for (bool withFile : {true, false}) {
    SCOPED_TRACE(withFile);
    if (!withFile) {
      ASSERT_TRUE(zuDeleteFile(programFolder.file("preferences.cfg")));
    }
    FolderServer server(programFolder.path());
    std::vector<zuOption> options = optionsOf({"-D", scratch_.path()});
    ASSERT_TRUE(server.parseArguments(options));
    server.initialize();
    EXPECT_EQ(server.dataPath(), withFile ? programFolder.path() : scratch_.path());
    EXPECT_EQ(server.port(), withFile ? 4300 : 4152);
  }
}

TEST_F(ServerTest, DataFolderFailures) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    u16 code;
    std::string text;
    std::function<std::string()> f;
  } cases[] = {
      {"no common folder",
       [&] {
         writeText(scratch_.file("blocker"), "x");
         setenv(zuPlatform::kPlatformRootVariable, scratch_.file("blocker/root").c_str(), 1);
       },
       1538, "Error opening file \"$f\".", [] { return std::string("preferences.cfg"); }},
      {"Tarnwell is a file", [&] { writeText(commonFolder() + "/Tarnwell", "x"); }, 1546,
       "Error creating directory \"$f\".",
       [&] { return zuAppendPath(commonFolder(), "Tarnwell"); }},
  };
  const std::string root = zuPlatform::rootFolder();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    k.arrange();
    zuServer server;
    try {
      server.initialize();
      ADD_FAILURE() << "no exception";
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), k.code);
      EXPECT_EQ(e.message().text(), k.text);
      setenv(zuPlatform::kPlatformRootVariable, root.c_str(), 1);
      EXPECT_EQ(e.message().paramRef('f'), k.f());
    }
    setenv(zuPlatform::kPlatformRootVariable, root.c_str(), 1);
  }
}

TEST_F(ServerTest, ArgumentsEntryIsParsedLikeOptions) {
  writeText(scratch_.file("preferences.cfg"),
            "<other value=\"1\"/>\n<Arguments value=\"-P 4200\t-zz  -6 -P\"/>\n");
  zuServer server;
  std::vector<zuOption> options = optionsOf({"-D", scratch_.path()});
  ASSERT_TRUE(server.parseArguments(options));
  server.initialize();
  EXPECT_EQ(server.port(), 4200);
  EXPECT_EQ(server.addressFamily(), 23u);
  EXPECT_TRUE(hasLine(0, "Unknown argument option \"-zz\" found in preference file."));
  // The trailing "-P" fails the parse; its result is not used and the run
  // keeps its exit code.
  EXPECT_TRUE(hasLine(0, "Option \"p\" requires an argument."));
  EXPECT_EQ(server.exitCode(), 0u);
  EXPECT_EQ(countLines("Unknown argument option \"-P\" found in preference file."), 0u);
  EXPECT_EQ(countLines("Unknown argument option \"4200\" found in preference file."), 0u);
}

TEST_F(ServerTest, ArgumentsEntryMakesTheServerListenOnItsPort) {
  // A port that is free now, given by the preference file.
  u16 freePort = 0;
  {
    zuTCPEndpoint probe(nullptr, kWait);
    ASSERT_EQ(probe.listen(0, kLoopback4), 0);
    freePort = probe.localPort();
  }
  writeText(scratch_.file("preferences.cfg"),
            "<arguments value=\"-P " + std::to_string(freePort) + "\"/>\n");
  TestServer server;
  ServerRun run(server, {"-D", scratch_.path()});
  ASSERT_EQ(run.waitListening(), freePort);
  Client client(kLoopback4, freePort);
  EXPECT_EQ(client.echo("p"), "p");
  EXPECT_EQ(run.stop(), 0u);
}

TEST_F(ServerTest, IsUpgradable) {
  EXPECT_FALSE(zuServer::isUpgradable());  // no process
  struct Case {
    const char* file;  // null: no file
    bool console;
    bool expected;
  } cases[] = {
      {nullptr, false, true},
      {"<upgradable value=\"0\"/>", false, false},
      {"<Upgradable value=\"00\"/>", false, false},
      {"<upgradable value=\"1\"/>", false, true},
      {"<upgradable value=\"no\"/>", false, true},
      {"<other value=\"0\"/>", false, true},
      {"not a preference file <", false, true},
      {"<upgradable value=\"1\"/>", true, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file ? k.file : "(none)");
    const std::string path = scratch_.file("preferences.cfg");
    if (k.file) {
      writeText(path, std::string(k.file) + "\n");
    } else {
      zuDeleteFile(path);
    }
    TestServer server;
    server.flag_ = k.console ? 1 : 0;
    server.setDataPath(scratch_.path());
    server.openPreferences();
    EXPECT_EQ(zuServer::isUpgradable(), k.expected);
  }
}

}  // namespace
