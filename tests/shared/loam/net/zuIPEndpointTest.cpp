// TCP and UDP endpoints over the loopback interface only.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "loam/net/zuConnectLookupThread.h"
#include "loam/net/zuIPEndpoint.h"
#include "loam/net/zuSocket.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/net/zuUDPEndpoint.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kForever = zuNetEndpoint::kNoTimeout;
// Long enough never to end a working test; it only bounds a failing one.
constexpr u32 kBound = static_cast<u32>(tw::test::kFailBound.count());

const zuIPAddress kLoopback4("127.0.0.1");
const zuIPAddress kLoopback6("::1");

using tw::test::readExactly;

// A listening TCP endpoint on a loopback address and a free port.
struct Server {
  explicit Server(const zuIPAddress& at = kLoopback4, u32 family = 0, zuEvent* stop = nullptr)
      : listener(stop, kBound) {
    listener.setFamily(family);
    status = listener.listen(0, at);
  }
  zuTCPEndpoint listener;
  u16 status;
};

struct Connection {
  std::unique_ptr<zuTCPEndpoint> client;
  std::unique_ptr<zuNetEndpoint> server;
};

Connection connectTo(Server& server, const zuIPAddress& to, zuEvent* clientStop = nullptr,
                     u32 clientTimeout = kBound) {
  Connection c;
  c.client = std::make_unique<zuTCPEndpoint>(clientStop, clientTimeout);
  EXPECT_EQ(c.client->connect(to, server.listener.localPort()), 0);
  c.server = server.listener.accept();
  EXPECT_NE(c.server, nullptr);
  return c;
}

TEST(zuIPEndpoint, TcpOverLoopbackCarriesBytesBothWays) {
  Server server;
  ASSERT_EQ(server.status, 0);
  ASSERT_NE(server.listener.localPort(), 0);
  Connection c = connectTo(server, kLoopback4);
  ASSERT_NE(c.server, nullptr);
  EXPECT_TRUE(c.client->isOpen());
  EXPECT_EQ(c.client->kind(), zuNetEndpoint::kKindStream);
  ASSERT_NE(dynamic_cast<zuTCPEndpoint*>(c.server.get()), nullptr);

  // Each side sees the other's address and port.
  EXPECT_EQ(c.client->peerAddress(), kLoopback4);
  EXPECT_EQ(c.client->peerPort(), server.listener.localPort());
  EXPECT_EQ(c.server->peerAddress(), kLoopback4);
  EXPECT_EQ(c.client->address(), kLoopback4);

  ASSERT_EQ(c.client->writeLine("hello server"), 0);
  ASSERT_EQ(c.client->flush(), 0);
  char line[64];
  u32 length = sizeof line;
  ASSERT_EQ(c.server->readLine(line, &length), 0);
  EXPECT_STREQ(line, "hello server");

  ASSERT_EQ(c.server->writeU32(u32{0xCAFEF00D}), 0);
  ASSERT_EQ(c.server->flush(), 0);
  u32 value = 0;
  ASSERT_EQ(c.client->readU32(value), 0);
  EXPECT_EQ(value, 0xCAFEF00Du);
  EXPECT_EQ(c.client->bytesSent(), 14u);
  EXPECT_EQ(c.client->bytesReceived(), 4u);
}

TEST(zuIPEndpoint, ListenWithoutAddressTakesBothFamiliesOnOnePort) {
  Server server(zuIPAddress(), 0);
  ASSERT_EQ(server.status, 0);
  ASSERT_EQ(server.listener.listenSockets().size(), 2u);
  for (const zuIPAddress& to : {kLoopback6, kLoopback4, kLoopback6}) {
    Connection c = connectTo(server, to);
    ASSERT_NE(c.server, nullptr) << to.toString();
    EXPECT_EQ(c.server->peerAddress(), to);
    ASSERT_EQ(c.server->writeString("hi"), 0);
    ASSERT_EQ(c.server->flush(), 0);
    EXPECT_EQ(readExactly(*c.client, 2), "hi") << to.toString();
  }
}

TEST(zuIPEndpoint, FamilyFilterNarrowsListenAndAccept) {
  Server v4only(zuIPAddress(), zuPlatform::kFamilyIPv4);
  ASSERT_EQ(v4only.status, 0);
  EXPECT_EQ(v4only.listener.listenSockets().size(), 1u);

  // A connection of the other family is dropped and the wait goes on.
  Server both(zuIPAddress(), 0);
  ASSERT_EQ(both.status, 0);
  both.listener.setFamily(zuPlatform::kFamilyIPv4);
  zuTCPEndpoint six(nullptr, kBound);
  ASSERT_EQ(six.connect(kLoopback6, both.listener.localPort()), 0);
  auto accepting = std::async(std::launch::async, [&] { return both.listener.accept(); });
  char byte;
  EXPECT_EQ(six.read(&byte, 1), zuErrConnectionBroken);  // closed by accept
  zuTCPEndpoint four(nullptr, kBound);
  ASSERT_EQ(four.connect(kLoopback4, both.listener.localPort()), 0);
  ASSERT_EQ(accepting.wait_for(tw::test::kFailBound), std::future_status::ready);
  std::unique_ptr<zuNetEndpoint> accepted = accepting.get();
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(accepted->peerAddress(), kLoopback4);
}

TEST(zuIPEndpoint, GracefulCloseDeliversTheDataThenReportsTheClose) {
  Server server;
  Connection c = connectTo(server, kLoopback4);
  ASSERT_NE(c.server, nullptr);
  ASSERT_EQ(c.server->writeString("last words"), 0);
  EXPECT_EQ(c.server->close(), 0);  // flushes
  EXPECT_FALSE(c.server->isOpen());
  EXPECT_EQ(readExactly(*c.client, 10), "last words");
  char byte;
  EXPECT_EQ(c.client->read(&byte, 1), zuErrConnectionBroken);
  EXPECT_EQ(c.client->read(&byte, 1), zuErrConnectionBroken);
}

TEST(zuIPEndpoint, RefusedConnectIsAFailure) {
  u16 port = 0;
  {
    Server gone;
    ASSERT_EQ(gone.status, 0);
    port = gone.listener.localPort();
  }
  zuTCPEndpoint client(nullptr, kBound);
  EXPECT_EQ(client.connect(kLoopback4, port), zuErrFailed);
  EXPECT_FALSE(client.isOpen());
  EXPECT_EQ(client.connectTo("127.0.0.1", port), zuErrFailed);
}

TEST(zuIPEndpoint, ConnectToTakesAddressesAndNames) {
  Server server(zuIPAddress(), 0);
  ASSERT_EQ(server.status, 0);
  const u16 port = server.listener.localPort();
  for (const char* host : {"127.0.0.1", "::1", "localhost"}) {
    zuTCPEndpoint client(nullptr, kBound);
    EXPECT_EQ(client.connectTo(host, port), 0) << host;
    EXPECT_NE(server.listener.accept(), nullptr) << host;
  }
  zuTCPEndpoint client(nullptr, kBound);
  EXPECT_EQ(client.connectTo("127.0.0.1", 0), zuErrFailed);
  EXPECT_EQ(client.connectTo("", port), zuErrFailed);
  EXPECT_EQ(client.connectTo(nullptr, port), zuErrFailed);
}

TEST(zuIPEndpoint, StopEventEndsBlockedOperations) {
  zuSingleEvent stop;
  zuSingleEvent wake;
  zuMultiEvent stopOrWake(&stop, &wake);
  struct Case {
    const char* name;
    zuEvent* trigger;
  } const cases[] = {{"stop", &stop}, {"wake", &wake}};
  for (const Case& k : cases) {
    stop.reset();
    wake.reset();
    Server server;
    Connection c = connectTo(server, kLoopback4, &stopOrWake, kForever);
    ASSERT_NE(c.server, nullptr);
    // A receive that would wait for ever ends when the event is set.
    auto reading = std::async(std::launch::async, [&] {
      char byte;
      return c.client->read(&byte, 1);
    });
    k.trigger->set();
    ASSERT_EQ(reading.wait_for(tw::test::kFailBound), std::future_status::ready) << k.name;
    EXPECT_EQ(reading.get(), zuErrStopped) << k.name;
  }

  // A stop before connect: the connect gives it back.
  stop.set();
  Server server;
  zuTCPEndpoint client(&stopOrWake, kBound);
  EXPECT_EQ(client.connect(kLoopback4, server.listener.localPort()), zuErrStopped);
  EXPECT_FALSE(client.isOpen());
  Server stopped(kLoopback4, 0, &stopOrWake);
  EXPECT_EQ(stopped.listener.accept(), nullptr);
}

TEST(zuIPEndpoint, TimeOutsEndReceiveSendAndAccept) {
  Server server;
  Connection c = connectTo(server, kLoopback4, nullptr, 20);
  ASSERT_NE(c.server, nullptr);
  char byte;
  EXPECT_EQ(c.client->read(&byte, 1), zuErrTimeout);
  EXPECT_EQ(c.client->timeout(), 20u);

  // Nobody reads on the other side, so the socket buffers fill up.
  const std::string big(64 << 20, 'x');
  EXPECT_EQ(c.client->sendRaw(big.data(), static_cast<u32>(big.size())), zuErrTimeout);

  Server quiet;
  quiet.listener.setTimeout(20);
  EXPECT_EQ(quiet.listener.accept(), nullptr);
}

TEST(zuIPEndpoint, LargeTransfersWaitForRoom) {
  zuTCPEndpoint a(nullptr, kBound);
  zuTCPEndpoint b(nullptr, kBound);
  ASSERT_TRUE(zuConnectEndpointPair(a, b));
  std::string big(8 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  auto reading =
      std::async(std::launch::async, [&] { return readExactly(b, static_cast<u32>(big.size())); });
  EXPECT_EQ(a.write(big.data(), static_cast<u32>(big.size())), 0);
  ASSERT_EQ(reading.wait_for(tw::test::kFailBound), std::future_status::ready);
  EXPECT_TRUE(reading.get() == big);
}

TEST(zuIPEndpoint, UdpSendsAndReceivesDatagrams) {
  for (const zuIPAddress& loopback : {kLoopback4, kLoopback6}) {
    // The far side is a bare socket of the platform.
    const zuPlatform::SocketAddress bindTo = zuToSocketAddress(loopback, 0);
    const zuPlatform::Socket peer = zuPlatform::createSocket(
        bindTo.family, zuPlatform::kSocketDatagram, zuPlatform::kProtocolUDP);
    ASSERT_NE(peer, zuPlatform::kInvalidSocket);
    ASSERT_TRUE(zuPlatform::bindSocket(peer, bindTo));
    zuPlatform::SocketAddress peerAddress;
    ASSERT_TRUE(zuPlatform::socketName(peer, peerAddress));

    zuUDPEndpoint udp(nullptr, kBound);
    EXPECT_EQ(udp.kind(), zuNetEndpoint::kKindDatagram);
    ASSERT_EQ(udp.connect(loopback, peerAddress.port), 0) << loopback.toString();
    char buffer[32];
    EXPECT_EQ(udp.read(buffer, 1), zuErrNoData);  // nothing sent yet
    ASSERT_EQ(udp.writeString("ask"), 0);
    ASSERT_EQ(udp.flush(), 0);

    zuPlatform::SocketAddress from;
    std::vector<zuPlatform::SocketWaitEntry> wait{{peer, zuPlatform::kEventRead, 0, 0}};
    ASSERT_EQ(zuPlatform::waitForSockets(wait, {}, kBound), 0);
    ASSERT_EQ(zuPlatform::receiveFromSocket(peer, buffer, sizeof buffer, from), 3);
    EXPECT_EQ(std::string(buffer, 3), "ask");
    ASSERT_EQ(zuPlatform::sendToSocket(peer, "answer", 6, from), 6);

    u32 n = sizeof buffer;
    ASSERT_EQ(udp.readSome(buffer, &n), 0);
    EXPECT_EQ(std::string(buffer, n), "answer");
    EXPECT_EQ(udp.peerAddress(), loopback);
    EXPECT_EQ(udp.peerPort(), peerAddress.port);

    // The destination follows setPeerAddress (keeping the peer port).
    EXPECT_TRUE(udp.setPeerAddress(loopback));
    ASSERT_EQ(udp.writeString("again"), 0);
    ASSERT_EQ(udp.flush(), 0);
    ASSERT_EQ(zuPlatform::waitForSockets(wait, {}, kBound), 0);
    EXPECT_EQ(zuPlatform::receiveFromSocket(peer, buffer, sizeof buffer, from), 5);
    zuPlatform::closeSocket(peer);
  }
  zuTCPEndpoint tcp(nullptr, kBound);
  EXPECT_FALSE(tcp.setPeerAddress(kLoopback4));
}

// A receive without room neither waits nor passes for the peer's close (a
// stream recv of nothing returns 0 just as it does at the end of the stream).
void expectReceiveWithoutRoomIsNothing(zuNetEndpoint& sender, zuNetEndpoint& receiver) {
  char byte = 0;
  u32 n = 0;
  EXPECT_EQ(receiver.receiveRaw(&byte, &n), 0);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(sender.sendRaw("z", 1), 0);
  n = 1;
  EXPECT_EQ(receiver.receiveRaw(&byte, &n), 0);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(byte, 'z');
}

TEST(zuIPEndpoint, ReceiveWithoutRoomLeavesTheConnectionAlone) {
  Server server;
  Connection c = connectTo(server, kLoopback4);
  ASSERT_NE(c.server, nullptr);
  expectReceiveWithoutRoomIsNothing(*c.client, *c.server);
  zuTCPEndpoint a(nullptr, kBound);
  zuTCPEndpoint b(nullptr, kBound);
  ASSERT_TRUE(zuConnectEndpointPair(a, b));
  expectReceiveWithoutRoomIsNothing(a, b);
}

TEST(zuIPEndpoint, OptionsNeedAnOpenSocket) {
  Server server;
  Connection c = connectTo(server, kLoopback4);
  ASSERT_NE(c.server, nullptr);
  EXPECT_EQ(c.client->setOption(17), 0);
  u16 ttl = 0;
  EXPECT_EQ(c.client->getOption(&ttl), 0);
  EXPECT_EQ(ttl, 17);
  EXPECT_EQ(c.client->setOption(0), zuErrNetwork);  // outside 1..255
  EXPECT_NE(c.client->lastError(), 0u);

  Server server6(kLoopback6);
  Connection c6 = connectTo(server6, kLoopback6);
  ASSERT_NE(c6.server, nullptr);
  EXPECT_EQ(c6.client->setOption(9), 0);
  EXPECT_EQ(c6.client->getOption(&ttl), 0);
  EXPECT_EQ(ttl, 9);

  zuTCPEndpoint closed(nullptr, kBound);
  EXPECT_EQ(closed.setOption(5), zuErrFailed);
  EXPECT_EQ(closed.getOption(&ttl), zuErrFailed);
  EXPECT_EQ(closed.sendRaw("x", 1), zuErrFailed);
  u32 n = 1;
  EXPECT_EQ(closed.receiveRaw(&ttl, &n), zuErrFailed);
}

TEST(zuIPEndpoint, LookupsOfNamesAndAddresses) {
  std::vector<zuIPAddress> addresses;
  EXPECT_EQ(zuIPEndpoint::resolveHost("localhost", addresses), 0);
  ASSERT_FALSE(addresses.empty());
  for (const zuIPAddress& a : addresses) EXPECT_TRUE(a.isLoopback()) << a.toString();
  EXPECT_EQ(zuIPEndpoint::resolveHost("", addresses), zuErrFailed);
  EXPECT_TRUE(addresses.empty());
  EXPECT_EQ(zuIPEndpoint::resolveHost(nullptr, addresses), zuErrFailed);

  std::vector<zuPlatform::AddressInfo> list;
  EXPECT_EQ(zuResolveNumericHost(zuIPAddress(), list), zuErrFailed);
  EXPECT_EQ(zuResolveNumericHost(kLoopback6, list), 0);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].family, zuPlatform::kFamilyIPv6);

  std::vector<std::string> names;
  EXPECT_EQ(zuIPEndpoint::reverseLookup(kLoopback4, names), 0);
  EXPECT_EQ(names, std::vector<std::string>{"localhost"});
  EXPECT_EQ(zuIPEndpoint::reverseLookup(zuIPAddress(), names), zuErrFailed);

  zuTCPEndpoint endpoint(nullptr, kBound);
  endpoint.localAddresses(addresses);
  bool loopback = false;
  for (const zuIPAddress& a : addresses) {
    EXPECT_TRUE(a.isIPv4()) << a.toString();
    loopback = loopback || a == kLoopback4;
  }
  EXPECT_TRUE(loopback);
}

TEST(zuIPEndpoint, AddressHintsFollowKindAddressAndFilter) {
  struct Case {
    u32 kind;
    zuIPAddress address;
    u32 filter;
    u32 socketType;
    u32 protocol;
    u32 family;
  } const cases[] = {
      {2, kLoopback4, 0, zuPlatform::kSocketStream, 6, 2},
      {2, kLoopback6, 0, zuPlatform::kSocketStream, 6, 23},
      {2, zuIPAddress(), 0, zuPlatform::kSocketStream, 6, 0},
      {2, kLoopback4, 23, zuPlatform::kSocketStream, 6, 23},
      {1, kLoopback6, 0, zuPlatform::kSocketDatagram, 17, 23},
      {0, kLoopback4, 0, zuPlatform::kSocketRaw, 1, 2},
      {0, kLoopback6, 0, zuPlatform::kSocketRaw, 58, 23},
  };
  for (const Case& c : cases) {
    const zuPlatform::AddressHints h = zuMakeAddressHints(c.kind, c.address, c.filter);
    EXPECT_EQ(h.flags, zuPlatform::kAddressNumericHost);
    EXPECT_EQ(h.socketType, c.socketType) << c.kind;
    EXPECT_EQ(h.protocol, c.protocol) << c.kind;
    EXPECT_EQ(h.family, c.family) << c.address.toString() << " " << c.filter;
  }
}

TEST(zuIPEndpoint, CloseMakesTheEndpointReusable) {
  Server server;
  zuTCPEndpoint client(nullptr, kBound);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0);
    std::unique_ptr<zuNetEndpoint> accepted = server.listener.accept();
    ASSERT_NE(accepted, nullptr);
    ASSERT_EQ(client.writeString("x"), 0);
    ASSERT_EQ(client.flush(), 0);
    EXPECT_EQ(readExactly(*accepted, 1), "x");
    EXPECT_EQ(client.close(), 0);
    EXPECT_FALSE(client.isOpen());
  }
  EXPECT_EQ(server.listener.close(), 0);
  EXPECT_TRUE(server.listener.listenSockets().empty());
  EXPECT_EQ(server.listener.accept(), nullptr);
}

// Name lookups through the platform's seam: "here.test" is the loopback
// address, "missing.test" does not exist, and "blocked.test" answers only
// once the test lets it.
zuSingleEvent* g_releaseLookup = nullptr;

bool scriptedLookup(const char* node, const char* service, const zuPlatform::AddressHints& hints,
                    std::vector<zuPlatform::AddressInfo>& out) {
  const std::string name = node != nullptr ? node : "";
  out.clear();
  if (name == "missing.test") return false;
  if (name == "blocked.test")
    zuPlatform::waitForOne(g_releaseLookup->handle(), zuPlatform::kWaitForever);
  if (name == "here.test" || name == "blocked.test") {
    zuPlatform::AddressInfo entry;
    entry.family = zuPlatform::kFamilyIPv4;
    entry.address = zuToSocketAddress(kLoopback4, 0);
    out.push_back(entry);
    return true;
  }
  return zuPlatform::systemAddressInfo(node, service, hints, out);
}

class zuConnectLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_releaseLookup = &release_;
    previous_ = zuPlatform::setAddressLookupForTest(scriptedLookup);
  }
  void TearDown() override {
    release_.set();
    EXPECT_TRUE(tw::test::eventually([] { return zuConnectLookupThread::runningCount() == 0; }));
    zuPlatform::setAddressLookupForTest(previous_);
  }
  zuSingleEvent release_;
  zuPlatform::AddressLookup previous_ = nullptr;
};

TEST_F(zuConnectLookupTest, NamesAreLookedUpOnAThread) {
  Server server;
  ASSERT_EQ(server.status, 0);
  zuTCPEndpoint client(nullptr, kBound);
  EXPECT_EQ(client.connectTo("here.test", server.listener.localPort()), 0);
  EXPECT_EQ(client.peerAddress(), kLoopback4);
  EXPECT_NE(server.listener.accept(), nullptr);

  zuTCPEndpoint other(nullptr, kBound);
  EXPECT_EQ(other.connectTo("missing.test", server.listener.localPort()), zuErrHostLookup);
  // Port 0 is refused before any lookup (which would give 518 here).
  EXPECT_EQ(other.connectTo("missing.test", 0), zuErrFailed);
  EXPECT_EQ(other.connectTo("", server.listener.localPort()), zuErrFailed);
  EXPECT_FALSE(other.isOpen());
}

TEST_F(zuConnectLookupTest, ALookupThatTakesTooLongIsAbandoned) {
  {
    zuTCPEndpoint client(nullptr, 20);
    EXPECT_EQ(client.connectTo("blocked.test", 80), zuErrTimeout);
    EXPECT_FALSE(client.isOpen());
  }
  // The endpoint and the thread object are gone; the lookup is still
  // running and finishes alone once released (TearDown).
  EXPECT_EQ(zuConnectLookupThread::runningCount(), 1u);
}

TEST_F(zuConnectLookupTest, AStopEndsTheWaitForALookup) {
  zuSingleEvent stop;
  zuTCPEndpoint client(&stop, kForever);
  auto connecting =
      std::async(std::launch::async, [&] { return client.connectTo("blocked.test", 80); });
  stop.set();
  ASSERT_EQ(connecting.wait_for(tw::test::kFailBound), std::future_status::ready);
  EXPECT_EQ(connecting.get(), zuErrStopped);
}

}  // namespace
