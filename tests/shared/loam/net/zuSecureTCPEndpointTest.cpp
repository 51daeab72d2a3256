// The secure TCP endpoint over the loopback interface, against our own other
// side, against peers played by hand on plain TCP endpoints, against openssl
// and against an independent Python client.
#include <cryptopp/cryptlib.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "loam/net/zuRSACryptor.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuSessionCipher.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

#include "zuSecureLongestKeyFixture.inc"

// Long enough never to end a working test; it only bounds a failing one.
constexpr u32 kBound = static_cast<u32>(tw::test::kFailBound.count());
const zuIPAddress kLoopback4("127.0.0.1");
const zuIPAddress kLoopback6("::1");

using Options = std::array<u8, 4>;  // option bytes 4 to 7
using KeyBlock = std::array<u8, zuSessionCipher::kKeyBlockSize>;

std::string header(const Options& o, u16 length) {
  return std::string("ZUSL") + static_cast<char>(o[0]) + static_cast<char>(o[1]) +
         static_cast<char>(o[2]) + static_cast<char>(o[3]) + static_cast<char>(length >> 8) +
         static_cast<char>(length & 0xFF);
}

Options optionsOf(const std::string& wire) {
  return {static_cast<u8>(wire[4]), static_cast<u8>(wire[5]), static_cast<u8>(wire[6]),
          static_cast<u8>(wire[7])};
}
u16 lengthOf(const std::string& wire) {
  return static_cast<u16>(static_cast<u8>(wire[8]) << 8 | static_cast<u8>(wire[9]));
}

Options ownOptions(const zuSecureTCPEndpoint& e) {
  return {e.option(4), e.option(5), e.option(6), e.option(7)};
}

using tw::test::readExactly;

u16 sendBytes(zuNetEndpoint& endpoint, const std::string& bytes) {
  return endpoint.sendRaw(bytes.data(), static_cast<u32>(bytes.size()));
}

u16 writeAll(zuNetEndpoint& endpoint, const std::string& bytes) {
  const u16 status = endpoint.write(bytes.data(), static_cast<u32>(bytes.size()));
  return status != 0 ? status : endpoint.flush();
}

template <typename T>
T await(std::future<T>& f) {
  EXPECT_EQ(f.wait_for(tw::test::kFailBound), std::future_status::ready);
  return f.get();
}

// One key pair for the whole suite: making one costs far more than using it.
const zuRSACryptor& suiteKeys() {
  static const zuRSACryptor keys = [] {
    zuRSACryptor k;
    EXPECT_TRUE(k.generateKeys(1024));
    return k;
  }();
  return keys;
}

void giveKeys(zuSecureTCPEndpoint& endpoint) {
  endpoint.cryptor().privateKey = suiteKeys().privateKey;
  endpoint.cryptor().publicKey = suiteKeys().publicKey;
  endpoint.cryptor().keySize = suiteKeys().keySize;
}

KeyBlock patternBlock(u8 first) {
  KeyBlock block;
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<u8>(first + i);
  return block;
}

// The client's second header and the block wrapped under the key text.
std::string wrappedReply(const Options& serverOptions, const std::string& keyText,
                         const KeyBlock& block, u32 plainLength = 64) {
  zuRSACryptor client;
  client.publicKey = keyText;
  std::vector<u8> wrapped;
  std::vector<u8> plain(plainLength);
  for (u32 i = 0; i < plainLength; ++i) plain[i] = block[i % block.size()];
  EXPECT_NE(client.encrypt(plain.data(), plainLength, wrapped), 0);
  return header(serverOptions, static_cast<u16>(wrapped.size())) +
         std::string(wrapped.begin(), wrapped.end());
}

std::string encrypted(zuSessionCipher& cipher, const std::string& plain) {
  std::string out(plain.size(), '\0');
  cipher.encrypt(reinterpret_cast<const u8*>(plain.data()), reinterpret_cast<u8*>(out.data()),
                 out.size());
  return out;
}

std::string decrypted(zuSessionCipher& cipher, std::string wire) {
  cipher.decrypt(reinterpret_cast<u8*>(wire.data()), wire.size());
  return wire;
}

// A listening secure endpoint on a loopback address with the suite's keys.
struct SecureServer {
  explicit SecureServer(const zuIPAddress& at = kLoopback4) : listener(nullptr, kBound, true) {
    giveKeys(listener);
    status = listener.listen(0, at);
  }
  std::future<std::unique_ptr<zuNetEndpoint>> acceptLater() {
    return std::async(std::launch::async, [this] { return listener.accept(); });
  }
  zuSecureTCPEndpoint listener;
  u16 status;
};

zuSecureTCPEndpoint* secure(const std::unique_ptr<zuNetEndpoint>& e) {
  return dynamic_cast<zuSecureTCPEndpoint*>(e.get());
}

// A plain TCP listener that plays the server's side by hand.
struct HandServer {
  HandServer() : listener(nullptr, kBound) { status = listener.listen(0, kLoopback4); }
  u16 port() const { return listener.localPort(); }
  zuTCPEndpoint listener;
  u16 status;
};

// The client's side of the handshake played by hand on a plain TCP endpoint.
struct HandClient {
  HandClient() : tcp(nullptr, kBound) {}
  // Connects, offers the options and reads the server's answer (and key).
  bool hello(u16 port, const Options& offer) {
    if (tcp.connect(kLoopback4, port) != 0 || sendBytes(tcp, header(offer, 0)) != 0) return false;
    answer = readExactly(tcp, zuSecureHeader::kSize);
    if (answer.size() != zuSecureHeader::kSize) return false;
    if (optionsOf(answer)[2] != 0) keyText = readExactly(tcp, lengthOf(answer));
    return true;
  }
  zuTCPEndpoint tcp;
  std::string answer;
  std::string keyText;
};

// A secure endpoint whose bytes below the cipher follow a script.
class ScriptedSecureEndpoint : public zuSecureTCPEndpoint {
 public:
  ScriptedSecureEndpoint() : zuSecureTCPEndpoint(nullptr, kBound, true) { giveKeys(*this); }
  zuScriptedEndpoint script;

 protected:
  u16 transportSend(const void* data, u32 count) override { return script.sendRaw(data, count); }
  u16 transportReceive(void* buffer, u32* count) override {
    script.setTimeout(timeout());  // so the script records this endpoint's time-out
    return script.receiveRaw(buffer, count);
  }
};

// The whole stream of a client that encrypts: hello, key header and block,
// then the first data under the block's cipher.
std::string clientStream(const KeyBlock& block, const std::string& firstData) {
  const Options all{1, 0, 1, 1};
  zuSessionCipher cipher(block);
  return header(all, 0) + wrappedReply(all, suiteKeys().publicKey, block) +
         encrypted(cipher, firstData);
}

TEST(zuSecureTCPEndpoint, EncryptedSessionCarriesDataBothWays) {
  for (const zuIPAddress& at : {kLoopback4, kLoopback6}) {
    SecureServer server(at);
    ASSERT_EQ(server.status, 0) << at.toString();
    auto accepting = server.acceptLater();
    const u32 clientTimeout = 4321;
    zuSecureTCPEndpoint client(nullptr, clientTimeout, true);
    ASSERT_EQ(client.connect(at, server.listener.localPort()), 0) << at.toString();
    std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
    ASSERT_NE(secure(accepted), nullptr) << at.toString();

    for (const zuSecureTCPEndpoint* side : {&client, secure(accepted)}) {
      EXPECT_TRUE(side->isCipherActive());
      EXPECT_EQ(ownOptions(*side), (Options{1, 0, 1, 1}));
      EXPECT_TRUE(side->compressionAgreed());
      EXPECT_EQ(side->bufferSize(), zuNetEndpoint::kDefaultBufferSize);
      // Whole frames go at once: a request after the key block must not wait
      // for the server's delayed acknowledgement.
      EXPECT_TRUE(side->noDelay());
    }
    // The handshake's own time limit is gone again.
    EXPECT_EQ(client.timeout(), clientTimeout);
    EXPECT_EQ(accepted->timeout(), server.listener.timeout());

    // Small writes that collect in the buffer and one large enough to go
    // straight to the transport.
    std::string large(30000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
    ASSERT_EQ(client.writeLine("hello server"), 0);
    ASSERT_EQ(writeAll(client, large), 0);
    char line[64];
    u32 length = sizeof line;
    ASSERT_EQ(accepted->readLine(line, &length), 0);
    EXPECT_STREQ(line, "hello server");
    EXPECT_EQ(readExactly(*accepted, static_cast<u32>(large.size())), large);

    ASSERT_EQ(accepted->writeU32(u32{0xCAFEF00D}), 0);
    ASSERT_EQ(writeAll(*accepted, "and back"), 0);
    u32 value = 0;
    ASSERT_EQ(client.readU32(value), 0);
    EXPECT_EQ(value, 0xCAFEF00Du);
    EXPECT_EQ(readExactly(client, 8), "and back");
  }
}

// Each server option byte is the AND of both offers; the client's bytes 4
// and 5 are not looked at. The hand client sends its key header, block and
// first data in one segment.
TEST(zuSecureTCPEndpoint, ServerAgreesOnTheAndOfBothOffers) {
  struct Case {
    Options offer;
    Options agreed;
  } const cases[] = {
      {{1, 0, 1, 1}, {1, 0, 1, 1}}, {{1, 0, 1, 0}, {1, 0, 1, 0}},    {{1, 0, 0, 1}, {1, 0, 0, 1}},
      {{1, 0, 0, 0}, {1, 0, 0, 0}}, {{7, 9, 0xFF, 2}, {1, 0, 1, 1}},
  };
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.offer));
    auto accepting = server.acceptLater();
    HandClient hand;
    ASSERT_TRUE(hand.hello(server.listener.localPort(), k.offer));
    EXPECT_EQ(optionsOf(hand.answer), k.agreed);
    const bool encrypt = k.agreed[2] != 0;
    std::optional<zuSessionCipher> cipher;
    if (encrypt) {
      EXPECT_EQ(hand.keyText, suiteKeys().publicKey);
      EXPECT_EQ(lengthOf(hand.answer), suiteKeys().publicKey.size());
      const KeyBlock block = patternBlock(0x40);
      cipher.emplace(block);
      ASSERT_EQ(sendBytes(hand.tcp, wrappedReply(k.agreed, hand.keyText, block) +
                                        encrypted(*cipher, "first packet")),
                0);
    } else {
      EXPECT_EQ(lengthOf(hand.answer), 0);
      ASSERT_EQ(sendBytes(hand.tcp, "first packet"), 0);
    }
    std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
    ASSERT_NE(secure(accepted), nullptr);
    EXPECT_EQ(ownOptions(*secure(accepted)), k.agreed);
    EXPECT_EQ(secure(accepted)->isCipherActive(), encrypt);
    EXPECT_EQ(secure(accepted)->compressionAgreed(), k.agreed[3] != 0);
    EXPECT_EQ(readExactly(*accepted, 12), "first packet");

    ASSERT_EQ(writeAll(*accepted, "reply"), 0);
    const std::string wire = readExactly(hand.tcp, 5);
    EXPECT_EQ(encrypt ? decrypted(*cipher, wire) : wire, "reply");
  }
}

// The client takes the server's option bytes, 4 and 5 included; without
// encryption it sends nothing more and runs in clear.
TEST(zuSecureTCPEndpoint, ClientAdoptsTheServersOptions) {
  struct Case {
    bool compress;  // the client's offer
    Options answer;
  } const cases[] = {
      {true, {1, 0, 1, 1}}, {true, {1, 0, 1, 0}}, {false, {1, 0, 1, 0}},
      {true, {1, 0, 0, 1}}, {true, {9, 7, 0, 0}}, {true, {9, 7, 1, 1}},
  };
  HandServer hand;
  ASSERT_EQ(hand.status, 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.answer));
    const bool encrypt = k.answer[2] != 0;
    auto connecting = std::async(std::launch::async, [&] {
      auto client = std::make_unique<zuSecureTCPEndpoint>(nullptr, kBound, k.compress);
      const u16 status = client->connect(kLoopback4, hand.port());
      if (status == 0) writeAll(*client, "from client");
      return std::make_pair(status, std::move(client));
    });
    std::unique_ptr<zuNetEndpoint> peer = hand.listener.accept();
    ASSERT_NE(peer, nullptr);
    const std::string hello = readExactly(*peer, zuSecureHeader::kSize);
    EXPECT_EQ(hello, header({1, 0, 1, u8{k.compress}}, 0));
    const std::string& key = suiteKeys().publicKey;
    ASSERT_EQ(sendBytes(*peer, header(k.answer, encrypt ? static_cast<u16>(key.size()) : 0) +
                                   (encrypt ? key : std::string())),
              0);
    std::optional<zuSessionCipher> cipher;
    if (encrypt) {
      // The reply header repeats the server's options; the block is as long
      // as the modulus.
      const std::string reply = readExactly(*peer, zuSecureHeader::kSize);
      EXPECT_EQ(reply, header(k.answer, 128));
      const std::string wrapped = readExactly(*peer, 128);
      KeyBlock block{};
      ASSERT_EQ(
          suiteKeys().decrypt(reinterpret_cast<const u8*>(wrapped.data()), 128, block.data(), 64),
          64);
      cipher.emplace(block);
    }
    const std::string wire = readExactly(*peer, 11);
    EXPECT_EQ(encrypt ? decrypted(*cipher, wire) : wire, "from client");
    auto [status, client] = await(connecting);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ownOptions(*client), k.answer);
    EXPECT_EQ(client->isCipherActive(), encrypt);
  }
}

TEST(zuSecureTCPEndpoint, ClientTakesAKeyTextOf2048Bytes) {
  const std::string longest = kLongestKeyText;
  ASSERT_EQ(longest.size(), 2048u);
  HandServer hand;
  ASSERT_EQ(hand.status, 0);
  auto connecting = std::async(std::launch::async, [&] {
    zuSecureTCPEndpoint client(nullptr, kBound, true);
    const u16 status = client.connect(kLoopback4, hand.port());
    return std::make_pair(status, client.isCipherActive());
  });
  std::unique_ptr<zuNetEndpoint> peer = hand.listener.accept();
  ASSERT_NE(peer, nullptr);
  readExactly(*peer, zuSecureHeader::kSize);
  ASSERT_EQ(sendBytes(*peer, header({1, 0, 1, 1}, 2048) + longest), 0);
  // The wrapped block is sized from that key's 986-byte modulus.
  const std::string reply = readExactly(*peer, zuSecureHeader::kSize);
  EXPECT_EQ(reply, header({1, 0, 1, 1}, 986));
  EXPECT_EQ(readExactly(*peer, 986).size(), 986u);
  const auto [status, active] = await(connecting);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(active);
}

TEST(zuSecureTCPEndpoint, ClientHandshakeFailuresCloseTheEndpoint) {
  const std::string key = suiteKeys().publicKey;
  struct Case {
    const char* name;
    std::string serverSends;
    u16 expected;
  } const cases[] = {
      {"key length 0", header({1, 0, 1, 1}, 0), zuErrFailed},
      {"key length 2049", header({1, 0, 1, 1}, 2049) + std::string(2049, 'A'), zuErrFailed},
      {"not a key", header({1, 0, 1, 1}, 64) + std::string(64, 'A'), zuErrFailed},
      {"not hex", header({1, 0, 1, 1}, 4) + "ZZZZ", zuErrFailed},
      {"bad magic", "ZUSX" + header({1, 0, 0, 0}, 0).substr(4), zuErrFailed},
      {"closed mid-key", header({1, 0, 1, 1}, 300) + key.substr(0, 100), zuErrConnectionBroken},
  };
  HandServer hand;
  ASSERT_EQ(hand.status, 0);
  for (const Case& k : cases) {
    auto connecting = std::async(std::launch::async, [&] {
      zuSecureTCPEndpoint client(nullptr, kBound, true);
      const u16 status = client.connect(kLoopback4, hand.port());
      return std::make_pair(status, client.isOpen());
    });
    std::unique_ptr<zuNetEndpoint> peer = hand.listener.accept();
    ASSERT_NE(peer, nullptr) << k.name;
    readExactly(*peer, zuSecureHeader::kSize);
    ASSERT_EQ(sendBytes(*peer, k.serverSends), 0) << k.name;
    if (k.expected == zuErrConnectionBroken) peer->close();
    const auto [status, open] = await(connecting);
    EXPECT_EQ(status, k.expected) << k.name;
    EXPECT_FALSE(open) << k.name;
    // The client has closed its side.
    char byte;
    if (k.expected != zuErrConnectionBroken) {
      EXPECT_EQ(peer->read(&byte, 1), zuErrConnectionBroken) << k.name;
    }
  }
}

// Everything a client may send wrong after the server's answer; each ends the
// handshake, and the endpoint is closed.
TEST(zuSecureTCPEndpoint, ServerRefusesBadKeyExchanges) {
  const Options all{1, 0, 1, 1};
  const std::string key = suiteKeys().publicKey;
  const KeyBlock block = patternBlock(1);
  const std::string good = wrappedReply(all, key, block);
  struct Case {
    const char* name;
    std::string hello;
    std::string exchange;
    u16 expected;
  } const cases[] = {
      {"bad hello magic", "zusl" + header(all, 0).substr(4), "", zuErrFailed},
      {"bad key header magic", header(all, 0), "XUSL" + good.substr(4), zuErrFailed},
      {"length 0", header(all, 0), header(all, 0), zuErrFailed},
      {"length 2049", header(all, 0), header(all, 2049) + std::string(2049, '\1'), zuErrFailed},
      {"block one short", header(all, 0), header(all, 127) + good.substr(10, 127), zuErrFailed},
      {"block one long", header(all, 0), header(all, 129) + good.substr(10) + "x", zuErrFailed},
      {"block not ours", header(all, 0), header(all, 128) + std::string(128, '\x55'), zuErrFailed},
      {"63 bytes wrapped", header(all, 0), wrappedReply(all, key, block, 63), zuErrFailed},
      {"65 bytes wrapped", header(all, 0), wrappedReply(all, key, block, 65), zuErrFailed},
      {"closed mid-block", header(all, 0), good.substr(0, 60), zuErrConnectionBroken},
  };
  for (const Case& k : cases) {
    zuSecureTCPEndpoint server(nullptr, kBound, true);
    giveKeys(server);
    zuTCPEndpoint client(nullptr, kBound);
    ASSERT_TRUE(zuConnectEndpointPair(server, client));
    ASSERT_EQ(sendBytes(client, k.hello), 0);
    auto handshaking =
        std::async(std::launch::async, [&] { return server.checkKeysAndHandshake(); });
    if (!k.exchange.empty()) {
      EXPECT_EQ(readExactly(client, zuSecureHeader::kSize),
                header(all, static_cast<u16>(key.size())))
          << k.name;
      EXPECT_EQ(readExactly(client, static_cast<u32>(key.size())), key) << k.name;
      ASSERT_EQ(sendBytes(client, k.exchange), 0) << k.name;
      if (k.expected == zuErrConnectionBroken) client.close();
    }
    EXPECT_EQ(await(handshaking), k.expected) << k.name;
    EXPECT_FALSE(server.isOpen()) << k.name;
    EXPECT_FALSE(server.isCipherActive()) << k.name;
  }
}

TEST(zuSecureTCPEndpoint, SilentClientIsDroppedAndAcceptGoesOn) {
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  server.listener.setHandshakeTimeout(300);
  zuTCPEndpoint silent(nullptr, kBound);
  ASSERT_EQ(silent.connect(kLoopback4, server.listener.localPort()), 0);
  auto accepting = server.acceptLater();
  // Waits behind the silent one, which is first in the queue.
  zuSecureTCPEndpoint client(nullptr, kBound, true);
  ASSERT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0);
  std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
  ASSERT_NE(accepted, nullptr);
  ASSERT_EQ(writeAll(client, "after the silent one"), 0);
  EXPECT_EQ(readExactly(*accepted, 20), "after the silent one");
  // The silent connection was closed by the server.
  char byte;
  EXPECT_EQ(silent.read(&byte, 1), zuErrConnectionBroken);
}

TEST(zuSecureTCPEndpoint, HandshakeEndsOnTimeOrStop) {
  zuSingleEvent stop;
  struct Case {
    const char* name;
    bool stopped;
    u16 expected;
  } const cases[] = {{"time", false, zuErrTimeout}, {"stop", true, zuErrStopped}};
  for (const Case& k : cases) {
    stop.reset();
    if (k.stopped) stop.set();
    zuSecureTCPEndpoint server(&stop, 777, true);
    giveKeys(server);
    server.setHandshakeTimeout(k.stopped ? kBound : 200);
    zuTCPEndpoint client(nullptr, kBound);
    ASSERT_TRUE(zuConnectEndpointPair(server, client));
    EXPECT_EQ(server.checkKeysAndHandshake(), k.expected) << k.name;
    EXPECT_EQ(server.timeout(), 777u) << k.name;
    EXPECT_FALSE(server.isOpen()) << k.name;
  }
}

// The real limit of 15000 ms covers the whole handshake, not each read: with
// the tick count held still and moved on by the script, no waiting is done.
TEST(zuSecureTCPEndpoint, HandshakeTimeLimitCoversTheWholeHandshake) {
  struct TickGuard {
    TickGuard() { zuPlatform::setFixedTickForTest(100000); }
    ~TickGuard() { zuPlatform::setFixedTickForTest(std::nullopt); }
    void advance(u64 ms) { zuPlatform::setFixedTickForTest(now += ms); }
    u64 now = 100000;
  } ticks;
  const std::string stream = clientStream(patternBlock(3), "");
  const std::string hello = stream.substr(0, 10);
  const std::string keyHeader = stream.substr(10, 10);
  const std::string block = stream.substr(20);

  // 6 s pass while the key header comes: the block read gets the 9 s left.
  {
    ScriptedSecureEndpoint server;
    server.script.addBytes(hello);
    server.script.addAction([&] { ticks.advance(6000); });
    server.script.addBytes(keyHeader);
    server.script.addBytes(block);
    EXPECT_EQ(server.checkKeysAndHandshake(), 0);
    EXPECT_EQ(server.script.receiveTimeouts(), (std::vector<u32>{15000, 15000, 9000}));
    EXPECT_EQ(server.timeout(), kBound);
  }
  // No single read takes 15 s, but together they do.
  {
    ScriptedSecureEndpoint server;
    server.script.addBytes(hello);
    server.script.addAction([&] { ticks.advance(6000); });
    server.script.addBytes(keyHeader.substr(0, 5));
    server.script.addAction([&] { ticks.advance(9000); });
    server.script.addBytes(keyHeader.substr(5));
    server.script.addBytes(block);
    EXPECT_EQ(server.checkKeysAndHandshake(), zuErrTimeout);
    EXPECT_FALSE(server.script.scriptDone());  // the block was never read
    EXPECT_EQ(server.timeout(), kBound);
  }
}

// Nothing after the handshake is read ahead in clear, however the bytes are
// cut: all of them in one piece, or one byte at a time.
TEST(zuSecureTCPEndpoint, FirstDataDecryptsHoweverTheStreamIsCut) {
  const std::string first = "the first packet after the handshake";
  const std::string stream = clientStream(patternBlock(9), first);
  for (const bool bytewise : {false, true}) {
    ScriptedSecureEndpoint server;
    if (bytewise) {
      for (char c : stream) server.script.addBytes(std::string(1, c));
    } else {
      server.script.addBytes(stream);
    }
    ASSERT_EQ(server.checkKeysAndHandshake(), 0) << bytewise;
    EXPECT_EQ(readExactly(server, static_cast<u32>(first.size())), first) << bytewise;
  }

  // The same over loopback: every byte of the client's stream in a send of
  // its own.
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  auto accepting = server.acceptLater();
  zuTCPEndpoint client(nullptr, kBound);
  ASSERT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0);
  const std::string answer = header({1, 0, 1, 1}, static_cast<u16>(suiteKeys().publicKey.size()));
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (i == 10) {
      EXPECT_EQ(readExactly(client, 10), answer);
      readExactly(client, static_cast<u32>(suiteKeys().publicKey.size()));
    }
    ASSERT_EQ(client.sendRaw(&stream[i], 1), 0);
  }
  std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(readExactly(*accepted, static_cast<u32>(first.size())), first);
}

// Gives 0, 1, 2, ... so the key block is known: vector 00..0f, key 20..2f.
class CountingRandom : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(CryptoPP::byte* out, size_t n) override {
    for (size_t i = 0; i < n; ++i) out[i] = next_++;
  }

 private:
  u8 next_ = 0;
};

// What goes on the wire in each direction is AES-128-CFB as openssl makes
// it, with bytes 32..47 of the key block as key and 0..15 as vector; both
// directions start from the same pair.
TEST(zuSecureTCPEndpoint, WireBytesAreAes128CfbUnderTheKeyBlock) {
  if (!tw::test::haveTool("openssl")) {
    GTEST_SKIP() << "openssl is needed as the independent peer (Debian package openssl)";
  }
  std::string plain;
  for (int i = 0; plain.size() < 12000; ++i) plain += "line " + std::to_string(i) + "\n";
  tw::test::ScratchDir dir;
  tw::test::writeFileBytes(dir.file("plain"), plain);
  ASSERT_EQ(tw::test::runTool("openssl enc -aes-128-cfb -K 202122232425262728292a2b2c2d2e2f"
                              " -iv 000102030405060708090a0b0c0d0e0f -in " +
                              tw::test::shellQuote(dir.file("plain")) + " -out " +
                              tw::test::shellQuote(dir.file("wire"))),
            0);
  const std::string expected = tw::test::readFileBytes(dir.file("wire"));
  ASSERT_EQ(expected.size(), plain.size());
  // Sent in pieces that are buffered, flushed and written straight through.
  const auto sendInPieces = [&](zuNetEndpoint& e) {
    const std::size_t cuts[] = {0, 1, 17, 5200, 5300, 11000, plain.size()};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i)
      if (e.write(plain.data() + cuts[i], static_cast<u32>(cuts[i + 1] - cuts[i])) != 0)
        return false;
    return e.flush() == 0;
  };

  // Client to server: our client with the counting generator.
  {
    HandServer hand;
    ASSERT_EQ(hand.status, 0);
    auto connecting = std::async(std::launch::async, [&] {
      CountingRandom random;
      zuSecureTCPEndpoint client(nullptr, kBound, true);
      client.setRandom(&random);
      return client.connect(kLoopback4, hand.port()) == 0 && sendInPieces(client);
    });
    std::unique_ptr<zuNetEndpoint> peer = hand.listener.accept();
    ASSERT_NE(peer, nullptr);
    readExactly(*peer, zuSecureHeader::kSize);
    const std::string& key = suiteKeys().publicKey;
    ASSERT_EQ(sendBytes(*peer, header({1, 0, 1, 1}, static_cast<u16>(key.size())) + key), 0);
    const std::string wrapped = readExactly(*peer, 10 + 128).substr(10);
    KeyBlock block{};
    ASSERT_EQ(
        suiteKeys().decrypt(reinterpret_cast<const u8*>(wrapped.data()), 128, block.data(), 64),
        64);
    EXPECT_EQ(block, patternBlock(0));
    EXPECT_EQ(readExactly(*peer, static_cast<u32>(plain.size())), expected);
    EXPECT_TRUE(await(connecting));
  }
  // Server to client: our server under a block the hand client chose.
  {
    SecureServer server;
    ASSERT_EQ(server.status, 0);
    auto accepting = server.acceptLater();
    HandClient hand;
    ASSERT_TRUE(hand.hello(server.listener.localPort(), {1, 0, 1, 1}));
    ASSERT_EQ(sendBytes(hand.tcp, wrappedReply({1, 0, 1, 1}, hand.keyText, patternBlock(0))), 0);
    std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
    ASSERT_NE(accepted, nullptr);
    ASSERT_TRUE(sendInPieces(*accepted));
    EXPECT_EQ(readExactly(hand.tcp, static_cast<u32>(plain.size())), expected);
  }
}

TEST(zuSecureTCPEndpoint, ConnectOnAnOpenEndpointDoesNothingFurther) {
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  auto accepting = server.acceptLater();
  zuSecureTCPEndpoint client(nullptr, kBound, true);
  ASSERT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0);
  std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
  ASSERT_NE(accepted, nullptr);
  const u32 sent = client.bytesSent();
  const u16 port = client.peerPort();
  EXPECT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0);
  EXPECT_EQ(client.connect(kLoopback6, 1), 0);
  EXPECT_EQ(client.bytesSent(), sent);
  EXPECT_EQ(client.peerPort(), port);
  ASSERT_EQ(writeAll(client, "still the same session"), 0);
  EXPECT_EQ(readExactly(*accepted, 22), "still the same session");
}

TEST(zuSecureTCPEndpoint, DestructionSendsBufferedBytesEncrypted) {
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  auto accepting = server.acceptLater();
  auto client = std::make_unique<zuSecureTCPEndpoint>(nullptr, kBound, true);
  ASSERT_EQ(client->connect(kLoopback4, server.listener.localPort()), 0);
  std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
  ASSERT_NE(accepted, nullptr);
  ASSERT_EQ(client->writeString("left in the buffer"), 0);  // not flushed
  client.reset();
  EXPECT_EQ(readExactly(*accepted, 18), "left in the buffer");
  char byte;
  EXPECT_EQ(accepted->read(&byte, 1), zuErrConnectionBroken);
}

// After close the endpoint holds no session: the next connect runs a fresh
// handshake in clear, and bytes of the old session left unread are gone.
TEST(zuSecureTCPEndpoint, CloseEndsTheSession) {
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  zuSecureTCPEndpoint client(nullptr, kBound, true);
  for (const char* message : {"first session", "second session"}) {
    auto accepting = server.acceptLater();
    ASSERT_EQ(client.connect(kLoopback4, server.listener.localPort()), 0) << message;
    std::unique_ptr<zuNetEndpoint> accepted = await(accepting);
    ASSERT_NE(accepted, nullptr) << message;
    ASSERT_EQ(writeAll(*accepted, message), 0);
    char first = 0;
    ASSERT_EQ(client.read(&first, 1), 0);  // the rest waits in the read buffer
    EXPECT_EQ(first, message[0]);
    EXPECT_EQ(client.close(), 0);
    EXPECT_FALSE(client.isCipherActive());
    EXPECT_EQ(client.bufferSize(), 0u);
  }
}

// A generator that always fails, as an unreadable random device does.
class FailingRandom : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(CryptoPP::byte*, size_t) override {
    throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "random device not readable");
  }
};

TEST(zuSecureTCPEndpoint, ListeningNeedsAKeyPair) {
  FailingRandom broken;
  zuSecureTCPEndpoint failing(nullptr, kBound, true);
  failing.setRandom(&broken);
  EXPECT_EQ(failing.listen(0, kLoopback4), kzuCodeKeyGenerationFailed);
  EXPECT_TRUE(failing.listenSockets().empty());
  EXPECT_EQ(failing.checkKeysAndHandshake(), kzuCodeKeyGenerationFailed);

  // A pair made once serves the listener's whole life.
  zuSecureTCPEndpoint listener(nullptr, kBound, true);
  ASSERT_EQ(listener.listen(0, kLoopback4), 0);
  EXPECT_EQ(listener.cryptor().keySize, zuSecureTCPEndpoint::kKeyBits);
  const std::string key = listener.cryptor().publicKey;
  EXPECT_FALSE(key.empty());
  listener.close();
  ASSERT_EQ(listener.listen(0, kLoopback4), 0);
  EXPECT_EQ(listener.cryptor().publicKey, key);
}

TEST(zuSecureTCPEndpoint, IndependentPythonClientCompletesTheHandshake) {
  if (tw::test::runTool(std::string(tw::test::kPython) + " -c 'import cryptography.hazmat.primitives.ciphers' "
                        ">/dev/null 2>&1") != 0) {
    GTEST_FAIL() << "python3 with the cryptography module is needed as the independent peer "
                    "(Debian packages python3 and python3-cryptography)";
  }
  const std::string script =
      std::string(TW_TEST_SOURCE_DIR) + "/zuSecureHandshakeClient.py";
  ASSERT_TRUE(std::filesystem::exists(script)) << script;
  SecureServer server;
  ASSERT_EQ(server.status, 0);
  struct Case {
    int encrypt;
    int compress;
  } const cases[] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};
  for (const Case& k : cases) {
    const int encrypt = k.encrypt;
    const int compress = k.compress;
    const std::string message = "ping " + std::to_string(encrypt) + std::to_string(compress);
    SCOPED_TRACE(message);
    auto serving = std::async(std::launch::async, [&]() -> std::string {
      std::unique_ptr<zuNetEndpoint> accepted = server.listener.accept();
      if (!secure(accepted)) return "no connection";
      if (secure(accepted)->isCipherActive() != (encrypt != 0)) return "wrong cipher state";
      if (secure(accepted)->compressionAgreed() != (compress != 0)) return "wrong compression";
      const std::string got = readExactly(*accepted, static_cast<u32>(message.size()));
      writeAll(*accepted, "pong to " + got);
      return "";  // the endpoint closes as it goes
    });
    std::string output;
    const int exitCode = tw::test::runTool(
        std::string(tw::test::kPython) + " " + tw::test::shellQuote(script) + " 127.0.0.1 " +
            std::to_string(server.listener.localPort()) + " " + std::to_string(encrypt) + " " +
            std::to_string(compress) + " " + tw::test::shellQuote(message) + " 2>&1",
        &output);
    EXPECT_EQ(await(serving), "");
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(output, "{\"options\": [1, 0, " + std::to_string(encrypt) + ", " +
                          std::to_string(compress) + "], \"reply\": \"pong to " + message +
                          "\"}\n");
  }
}

}  // namespace
