#include "sshlib/KEX_DH.h"

#include <gtest/gtest.h>

#include <cryptopp/dsa.h>
#include <cryptopp/nbtheory.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pssr.h>
#include <cryptopp/rsa.h>

#include "PacketTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Mac.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/TransportState.h"
#include "sshlib/deriveKey.h"

namespace {

using namespace sshtest;
using CryptoPP::Integer;

struct DeriveVector {
  const char* K;
  const char* H;
  char letter;
  const char* sessionId;
  size_t length;
  const char* derived;
};

struct ExchangeHashVector {
  const char* clientVersion;
  const char* serverVersion;
  const char* clientKexInit;
  const char* serverKexInit;
  const char* hostKeyBlob;
  const char* e;
  const char* f;
  const char* K;
  const char* H;
};

#include "fixtures/kex_vectors.inc"

Integer hexInteger(const char* text) { return Integer((std::string(text) + "h").c_str()); }

constexpr unsigned kKeyExchangeFailed = 3;
constexpr unsigned kHostKeyNotVerifiable = 9;

// The hex form printed in RFC 2409 section 6.2.
const char* const kRfc2409Group2 =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A0879"
    "8E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B"
    "0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFF";

TEST(DeriveKey, MatchesHashlibVectors) {
  for (const DeriveVector& v : kDeriveVectors) {
    const CryptoPP::SecByteBlock out = SSH::deriveKey(hexInteger(v.K), block(unhex(v.H)),
                                                      v.letter, block(unhex(v.sessionId)), v.length);
    EXPECT_EQ(out.size(), (v.length + 19) / 20 * 20) << "rounded up to whole SHA-1 blocks";
    EXPECT_EQ(hex(out), v.derived) << "K " << v.K << " letter " << v.letter;
  }
}

TEST(KEX_DH, ExchangeHashMatchesHashlibVectors) {
  for (const ExchangeHashVector& v : kExchangeHashVectors) {
    const CryptoPP::SecByteBlock H = SSH::KEX_DH::exchangeHash(
        v.clientVersion, v.serverVersion, unhex(v.clientKexInit), unhex(v.serverKexInit),
        unhex(v.hostKeyBlob), hexInteger(v.e), hexInteger(v.f), hexInteger(v.K));
    EXPECT_EQ(hex(H), v.H) << v.clientVersion;
  }
}

TEST(KEX_DH, GroupIsOakleyGroup2WithGenerator2) {
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState state(rng);
  SSH::KEX_DH kex(state);
  const auto& group = kex.domain().GetGroupParameters();
  EXPECT_EQ(group.GetModulus(), Integer((std::string(kRfc2409Group2) + "h").c_str()));
  EXPECT_EQ(group.GetModulus().BitCount(), 1024u);
  EXPECT_EQ(group.GetSubgroupGenerator(), Integer::Two());
}

const CryptoPP::DSA::PrivateKey& dsaHostKey() {
  static const CryptoPP::DSA::PrivateKey key = [] {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::DSA::PrivateKey k;
    k.GenerateRandomWithKeySize(rng, 1024);
    return k;
  }();
  return key;
}

const CryptoPP::InvertibleRSAFunction& rsaHostKey() {
  static const CryptoPP::InvertibleRSAFunction key = [] {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::InvertibleRSAFunction k;
    k.Initialize(rng, 1024, 17);
    return k;
  }();
  return key;
}

std::string encoded(const SSH::KexInit& k) {
  CryptoPP::ByteQueue q;
  k.encode(q);
  return take(q);
}

SSH::KexInit decoded(const std::string& bytes) {
  CryptoPP::ByteQueue q = queueOf(bytes);
  SSH::KexInit k;
  k.decode(q);
  return k;
}

SSH::KexInit offer(const std::string& kex, const std::string& hostKeys) {
  SSH::KexInit k;
  k.setKexAlgorithms(kex);
  k.setHostKeyAlgorithms(hostKeys);
  k.setEncryptionAlgorithms("aes256-cbc,3des-cbc");
  k.setMacAlgorithms("hmac-sha1,hmac-md5");
  k.setCompressionAlgorithms("none,zlib");
  return k;
}

// A client and a server that have both sent and received KEXINIT; each
// holds the other's record as decoded from the bytes sent.
struct KexPair {
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState client{rng};
  SSH::TransportState server{rng};
  std::string serverKexInitBytes;

  explicit KexPair(const SSH::KexInit& clientOffer = offer(SSH::KEX_DH::kMethod, "ssh-rsa,ssh-dss"),
                   const SSH::KexInit& serverOffer = offer(SSH::KEX_DH::kMethod, "ssh-dss"),
                   const std::string& serverBytes = "") {
    server.setHostKey(&dsaHostKey());
    const SSH::VersionInfo cv("2.0", "1.27", "sshlib: client", "SSH-2.0-1.27 sshlib: client");
    const SSH::VersionInfo sv("2.0", "OpenSSH_9.2", "", "SSH-2.0-OpenSSH_9.2");
    client.setOwnVersion(cv);
    client.setPeerVersion(sv);
    server.setOwnVersion(sv);
    server.setPeerVersion(cv);
    serverKexInitBytes = serverBytes.empty() ? encoded(serverOffer) : serverBytes;
    client.setOwnKexInit(clientOffer);
    server.setPeerKexInit(decoded(encoded(clientOffer)));
    server.setOwnKexInit(serverOffer);
    client.setPeerKexInit(decoded(serverKexInitBytes));
    for (SSH::TransportState* s : {&client, &server}) {
      s->setInputState(SSH::TransportState::kInKexInitReceived);
      s->setOutputState(SSH::TransportState::kOutKexInitSent);
    }
  }

  void backToKexInit() {
    for (SSH::TransportState* s : {&client, &server}) {
      s->setInputState(SSH::TransportState::kInKexInitReceived);
      s->setOutputState(SSH::TransportState::kOutKexInitSent);
    }
  }

  // One whole exchange, each side's messages handed to the other.
  void exchange() {
    CryptoPP::ByteQueue toServer;
    CryptoPP::ByteQueue toClient;
    SSH::KEX_DH clientKex(client, new CryptoPP::Redirector(toServer));
    SSH::KEX_DH serverKex(server, new CryptoPP::Redirector(toClient));
    clientKex.sendKexDhInit();
    toServer.TransferAllTo(serverKex);
    serverKex.MessageEnd();
    toClient.TransferAllTo(clientKex);
    clientKex.MessageEnd();
  }
};

TEST(KEX_DH, BothSidesAgreeAndTheSessionIdStaysTheFirstHash) {
  KexPair pair;
  pair.exchange();
  for (SSH::TransportState* s : {&pair.client, &pair.server}) {
    EXPECT_EQ(s->inputState(), SSH::TransportState::kInKexDone);
    EXPECT_EQ(s->outputState(), SSH::TransportState::kOutKexDone);
  }
  EXPECT_EQ(pair.client.sharedSecret(), pair.server.sharedSecret());
  EXPECT_GT(pair.client.sharedSecret().BitCount(), 900u);
  EXPECT_EQ(pair.client.exchangeHash().size(), 20u);
  EXPECT_EQ(hex(pair.client.exchangeHash()), hex(pair.server.exchangeHash()));
  EXPECT_EQ(hex(pair.client.sessionId()), hex(pair.client.exchangeHash()));
  EXPECT_EQ(pair.client.hostKeyBlob(), pair.server.hostKeyBlob());
  EXPECT_EQ(pair.client.hostKeyBlob().substr(4, 7), "ssh-dss");

  const std::string firstH = hex(pair.client.exchangeHash());
  pair.backToKexInit();
  pair.exchange();
  EXPECT_NE(hex(pair.client.exchangeHash()), firstH);
  EXPECT_EQ(hex(pair.client.exchangeHash()), hex(pair.server.exchangeHash()));
  EXPECT_EQ(hex(pair.client.sessionId()), firstH);
  EXPECT_EQ(hex(pair.server.sessionId()), firstH);
}

// The first exchange fixes the peer: a later one that brings another host
// key is refused before anything of it is used, however well it is signed.
TEST(KEX_DH, LaterExchangeWithAnotherHostKeyIsRefused) {
  KexPair pair;
  pair.exchange();
  const std::string firstBlob = pair.client.hostKeyBlob();
  const std::string firstH = hex(pair.client.exchangeHash());

  CryptoPP::AutoSeededRandomPool rng;
  CryptoPP::DSA::PrivateKey other;
  other.GenerateRandomWithKeySize(rng, 1024);
  pair.server.setHostKey(&other);
  pair.backToKexInit();
  EXPECT_EQ(disconnectOf([&] { pair.exchange(); }, kHostKeyNotVerifiable), "host key changed");
  EXPECT_EQ(pair.client.hostKeyBlob(), firstBlob);
  EXPECT_EQ(hex(pair.client.exchangeHash()), firstH);
  EXPECT_EQ(pair.client.inputState(), SSH::TransportState::kInKexInitReceived);

  // The same key again is a plain rekey.
  pair.server.setHostKey(&dsaHostKey());
  pair.backToKexInit();
  EXPECT_NO_THROW(pair.exchange());
  EXPECT_EQ(pair.client.hostKeyBlob(), firstBlob);
  EXPECT_NE(hex(pair.client.exchangeHash()), firstH);
}

// A reply made by hand with an RSA host key, so a test can choose every
// part of it: f and K from a known exponent, H from the independently
// checked exchangeHash, the signature from the dependency's PKCS #1 signer.
struct HandReply {
  KexPair& pair;
  std::string hostKeyBlob;
  Integer f;
  Integer K;
  CryptoPP::SecByteBlock H;

  HandReply(KexPair& p, const Integer& e) : pair(p) {
    CryptoPP::ByteQueue blob;
    SSH::encodeRsaPublicKeyBlob(rsaHostKey(), blob);
    hostKeyBlob = take(blob);
    const Integer p1024((std::string(kRfc2409Group2) + "h").c_str());
    const Integer y(pair.rng, 256);
    f = CryptoPP::ModularExponentiation(Integer::Two(), y, p1024);
    K = CryptoPP::ModularExponentiation(e, y, p1024);
    H = SSH::KEX_DH::exchangeHash(pair.client.ownVersion().line, pair.client.peerVersion().line,
                                  encoded(pair.client.ownKexInit()), pair.serverKexInitBytes,
                                  hostKeyBlob, e, f, K);
  }

  std::string rsaSignature(const CryptoPP::SecByteBlock& over, const std::string& name = "ssh-rsa") {
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Signer signer(rsaHostKey());
    std::string sig(signer.MaxSignatureLength(), '\0');
    sig.resize(signer.SignMessage(pair.rng, over, over.size(),
                                  reinterpret_cast<CryptoPP::byte*>(sig.data())));
    CryptoPP::ByteQueue q;
    SSH::putStdString(q, name);
    SSH::putStdString(q, sig);
    return take(q);
  }

  static std::string message(const std::string& keyBlob, const Integer& value,
                             const std::string& signature) {
    CryptoPP::ByteQueue q;
    SSH::putByte(q, 31);
    SSH::putStdString(q, keyBlob);
    SSH::putMPInt(q, value);
    SSH::putStdString(q, signature);
    return take(q);
  }
};

// Runs a client's KEX_DH against a hand-made reply; returns its error.
std::string clientReceives(SSH::KEX_DH& kex, const std::string& reply,
                           unsigned reason) {
  return disconnectOf(
      [&] {
        put(kex, reply);
        kex.MessageEnd();
      },
      reason);
}

TEST(KEX_DH, ClientVerifiesAnRsaHostKeyOverTheKexInitBytesAsReceived) {
  // The server's KEXINIT carries a non-zero reserved field: H must cover the
  // bytes as they came, not a re-encoding that would write 0 there.
  SSH::KexInit serverOffer = offer(SSH::KEX_DH::kMethod, "ssh-rsa");
  std::string bytes = encoded(serverOffer);
  bytes[bytes.size() - 1] = '\x07';
  KexPair pair(offer(SSH::KEX_DH::kMethod, "ssh-rsa,ssh-dss"), serverOffer, bytes);
  CryptoPP::ByteQueue toServer;
  SSH::KEX_DH kex(pair.client, new CryptoPP::Redirector(toServer));
  kex.sendKexDhInit();
  HandReply reply(pair, kex.e());
  EXPECT_EQ(clientReceives(kex,
                           HandReply::message(reply.hostKeyBlob, reply.f, reply.rsaSignature(reply.H)),
                           0),
            "");
  EXPECT_EQ(hex(pair.client.exchangeHash()), hex(reply.H));
  EXPECT_EQ(pair.client.sharedSecret(), reply.K);
  EXPECT_EQ(pair.client.hostKeyBlob(), reply.hostKeyBlob);
}

TEST(KEX_DH, BadSignaturesAreRefusedAndNothingIsStored) {
  struct Case {
    const char* what;
    std::function<std::string(HandReply&)> signature;
    std::function<std::string(HandReply&)> keyBlob;
  };
  const auto goodKey = [](HandReply& r) { return r.hostKeyBlob; };
  const auto goodSignature = [](HandReply& r) { return r.rsaSignature(r.H); };
  const Case cases[] = {
      {"signature over other data",
       [](HandReply& r) { return r.rsaSignature(block(std::string(20, 'x'))); }, goodKey},
      {"signature blob names ssh-dss", [](HandReply& r) { return r.rsaSignature(r.H, "ssh-dss"); },
       goodKey},
      {"signature blob is garbage", [](HandReply&) { return std::string("\xff\xff\xff\xff", 4); },
       goodKey},
      {"empty signature", [](HandReply&) { return std::string(); }, goodKey},
      {"DSA key blob where ssh-rsa was negotiated", goodSignature,
       [](HandReply&) {
         CryptoPP::ByteQueue q;
         SSH::encodeDsaPublicKeyBlob(dsaHostKey(), q);
         return take(q);
       }},
      {"key blob is garbage", goodSignature, [](HandReply&) { return std::string("junk"); }},
  };
  for (const Case& c : cases) {
    KexPair pair(offer(SSH::KEX_DH::kMethod, "ssh-rsa"), offer(SSH::KEX_DH::kMethod, "ssh-rsa"));
    CryptoPP::ByteQueue toServer;
    SSH::KEX_DH kex(pair.client, new CryptoPP::Redirector(toServer));
    kex.sendKexDhInit();
    HandReply reply(pair, kex.e());
    EXPECT_EQ(clientReceives(kex, HandReply::message(c.keyBlob(reply), reply.f, c.signature(reply)),
                             kHostKeyNotVerifiable),
              "signature check failed")
        << c.what;
    EXPECT_EQ(pair.client.exchangeHash().size(), 0u) << c.what;
    EXPECT_EQ(pair.client.sessionId().size(), 0u) << c.what;
    EXPECT_EQ(pair.client.sharedSecret(), Integer::Zero()) << c.what;
    EXPECT_EQ(pair.client.inputState(), SSH::TransportState::kInKexInitReceived) << c.what;
  }
}

// Public values outside 2 ... p-2, negative ones, ones that would only fit
// the 128-byte public value after losing their high bits, and ones outside
// the generator's subgroup (p-2 is a non-residue) are refused on either
// side; nothing is stored.
TEST(KEX_DH, PeerPublicValuesOutsideTheGroupAreRefused) {
  const Integer p((std::string(kRfc2409Group2) + "h").c_str());
  const Integer y = CryptoPP::ModularExponentiation(Integer::Two(), Integer(12345), p);
  const Integer refused[] = {Integer::Zero(), Integer::One(), p - Integer::One(), p,
                             Integer(-5), -y, Integer::Power2(1024) + y, p + y,
                             p - Integer::Two()};
  for (const Integer& value : refused) {
    KexPair pair;
    CryptoPP::ByteQueue toServer;
    SSH::KEX_DH clientKex(pair.client, new CryptoPP::Redirector(toServer));
    clientKex.sendKexDhInit();
    EXPECT_EQ(clientReceives(clientKex, HandReply::message("k", value, "s"), kKeyExchangeFailed),
              "invalid DH value")
        << value;
    EXPECT_EQ(pair.client.exchangeHash().size(), 0u);
    EXPECT_EQ(pair.client.sharedSecret(), Integer::Zero());

    CryptoPP::ByteQueue toClient;
    SSH::KEX_DH serverKex(pair.server, new CryptoPP::Redirector(toClient));
    CryptoPP::ByteQueue init;
    SSH::putByte(init, 30);
    SSH::putMPInt(init, value);
    EXPECT_EQ(disconnectOf(
                  [&] {
                    init.TransferAllTo(serverKex);
                    serverKex.MessageEnd();
                  },
                  kKeyExchangeFailed),
              "invalid DH value")
        << value;
    EXPECT_EQ(toClient.MaxRetrievable(), 0u) << "no reply sent";
    EXPECT_EQ(pair.server.exchangeHash().size(), 0u);
  }
}

TEST(KEX_DH, MessagesOutsideTheKeyExchangeStateAreRefused) {
  KexPair pair;
  pair.client.setInputState(SSH::TransportState::kInVersionReceived);
  SSH::KEX_DH kex(pair.client);
  EXPECT_EQ(disconnectOf([&] { kex.sendKexDhInit(); }),
            "received packet inappropriate for current transport state");
  EXPECT_EQ(disconnectOf([&] { kex.MessageEnd(); }),
            "received packet inappropriate for current transport state");
  pair.client.setInputState(SSH::TransportState::kInKexInitReceived);
  SSH::KEX_DH other(pair.client);
  EXPECT_EQ(disconnectOf([&] {
              put(other, std::string(1, '\x1e'));
              other.MessageEnd();
            }),
            "unexpected message number 30, should be 31");
}

TEST(KEX_DH, NegotiationChecks) {
  struct Case {
    const char* what;
    std::function<void(SSH::KexInit& client, SSH::KexInit& server)> change;
    bool atServer;
    const char* error;
  };
  const Case cases[] = {
      {"our method second on the server's list",
       [](SSH::KexInit&, SSH::KexInit& s) {
         s.kexAlgorithms = "diffie-hellman-group14-sha1,diffie-hellman-group1-sha1";
       },
       false, ""},
      {"server lacks the method",
       [](SSH::KexInit&, SSH::KexInit& s) { s.kexAlgorithms = "diffie-hellman-group14-sha1"; },
       false, "failed to negotiate key exchange algorithm"},
      {"client puts another common method first",
       [](SSH::KexInit& c, SSH::KexInit& s) {
         c.kexAlgorithms = "diffie-hellman-group14-sha1,diffie-hellman-group1-sha1";
         s.kexAlgorithms = "diffie-hellman-group1-sha1,diffie-hellman-group14-sha1";
       },
       false, "failed to negotiate key exchange algorithm"},
      {"no common host key", [](SSH::KexInit& c, SSH::KexInit&) { c.serverHostKeyAlgorithms = "x"; },
       false, "failed to negotiate host key algorithm"},
      {"a server can sign only with ssh-dss",
       [](SSH::KexInit& c, SSH::KexInit& s) { c.serverHostKeyAlgorithms = s.serverHostKeyAlgorithms = "ssh-rsa"; },
       true, "failed to negotiate host key algorithm"},
      {"ssh-rsa at a client is fine",
       [](SSH::KexInit& c, SSH::KexInit& s) { c.serverHostKeyAlgorithms = s.serverHostKeyAlgorithms = "ssh-rsa"; },
       false, ""},
      {"no common cipher to the server",
       [](SSH::KexInit& c, SSH::KexInit&) { c.encryptionAlgorithmsClientToServer = "arcfour"; },
       false, "failed to negotiate client to server encryption algorithm"},
      {"common cipher no factory builds",
       [](SSH::KexInit& c, SSH::KexInit& s) {
         c.encryptionAlgorithmsServerToClient = s.encryptionAlgorithmsServerToClient = "aes128-ctr";
       },
       false, "failed to negotiate server to client encryption algorithm"},
      {"common MAC no factory builds",
       [](SSH::KexInit& c, SSH::KexInit& s) {
         c.macAlgorithmsClientToServer = s.macAlgorithmsClientToServer = "hmac-sha2-256";
       },
       true, "failed to negotiate client to server MAC algorithm"},
      {"no common MAC to the client",
       [](SSH::KexInit& c, SSH::KexInit&) { c.macAlgorithmsServerToClient = "none"; }, false,
       "failed to negotiate server to client MAC algorithm"},
      {"common compression no factory builds",
       [](SSH::KexInit& c, SSH::KexInit& s) {
         c.compressionAlgorithmsClientToServer = s.compressionAlgorithmsClientToServer =
             "zlib@openssh.com";
       },
       false, "failed to negotiate client to server compression algorithm"},
      {"no common compression to the client",
       [](SSH::KexInit& c, SSH::KexInit& s) {
         c.compressionAlgorithmsServerToClient = "zlib";
         s.compressionAlgorithmsServerToClient = "none";
       },
       false, "failed to negotiate server to client compression algorithm"},
  };
  for (const Case& c : cases) {
    SSH::KexInit client = offer(SSH::KEX_DH::kMethod, "ssh-rsa,ssh-dss");
    SSH::KexInit server = offer(SSH::KEX_DH::kMethod, "ssh-dss");
    c.change(client, server);
    KexPair pair(client, server);
    const SSH::TransportState& side = c.atServer ? pair.server : pair.client;
    EXPECT_EQ(disconnectOf([&] { SSH::KEX_DH::checkNegotiatedAlgorithms(side); },
                           kKeyExchangeFailed),
              c.error)
        << c.what;
  }
}

// The host is told what the peer offered in the list that failed; the
// description on the wire stays the fixed text.
TEST(KEX_DH, NegotiationFailureNamesThePeersOffer) {
  struct Case {
    std::function<void(SSH::KexInit& server)> change;
    bool atServer;
    const char* detail;
  };
  const Case cases[] = {
      {[](SSH::KexInit& s) { s.kexAlgorithms = "curve25519-sha256"; }, false,
       "server offers curve25519-sha256"},
      {[](SSH::KexInit& s) { s.serverHostKeyAlgorithms = "ssh-ed25519,rsa-sha2-512"; }, false,
       "server offers ssh-ed25519,rsa-sha2-512"},
      {[](SSH::KexInit& s) {
         s.encryptionAlgorithmsServerToClient = "aes128-ctr,chacha20-poly1305@openssh.com";
       },
       false, "server offers aes128-ctr,chacha20-poly1305@openssh.com"},
      {[](SSH::KexInit& s) { s.macAlgorithmsClientToServer = "hmac-sha2-256"; }, false,
       "server offers hmac-sha2-256"},
      {[](SSH::KexInit& s) { s.compressionAlgorithmsClientToServer = "zlib@openssh.com"; }, false,
       "server offers zlib@openssh.com"},
      {[](SSH::KexInit& s) { s.macAlgorithmsClientToServer = "hmac-sha2-256"; }, true,
       "client offers hmac-sha1,hmac-md5"},
  };
  for (const Case& c : cases) {
    SSH::KexInit server = offer(SSH::KEX_DH::kMethod, "ssh-dss");
    c.change(server);
    KexPair pair(offer(SSH::KEX_DH::kMethod, "ssh-rsa,ssh-dss"), server);
    std::string detail = "<nothing thrown>";
    try {
      SSH::KEX_DH::checkNegotiatedAlgorithms(c.atServer ? pair.server : pair.client);
    } catch (const SSH::CauseToDisconnect& e) {
      detail = e.detail();
      EXPECT_EQ(std::string(e.what()).find("offers"), std::string::npos) << e.what();
    }
    EXPECT_EQ(detail, c.detail);
  }
}

TEST(KEX_DH, GuessedPacketIsWrongWhenTheFirstNamesAreNotTheNegotiatedOnes) {
  struct Case {
    const char* serverKex;
    const char* serverHostKeys;
    const char* serverMacs;
    bool wrong;
  };
  const Case cases[] = {
      {"diffie-hellman-group1-sha1", "ssh-dss", "hmac-sha1", false},
      {"diffie-hellman-group1-sha1,x", "ssh-rsa,ssh-dss", "hmac-sha1", false},
      {"x,diffie-hellman-group1-sha1", "ssh-dss", "hmac-sha1", true},
      {"diffie-hellman-group1-sha1", "ssh-dss,ssh-rsa", "hmac-sha1", true},
      {"diffie-hellman-group1-sha1", "ssh-dss", "umac-64", true},
  };
  for (const Case& c : cases) {
    SSH::KexInit server = offer(c.serverKex, c.serverHostKeys);
    server.setMacAlgorithms(c.serverMacs);
    server.firstKexPacketFollows = true;
    KexPair pair(offer(SSH::KEX_DH::kMethod, "ssh-rsa,ssh-dss"), server);
    EXPECT_EQ(SSH::KEX_DH::peerGuessWasWrong(pair.client), c.wrong)
        << c.serverKex << " / " << c.serverHostKeys << " / " << c.serverMacs;
  }
}

// After the exchange each side keys its filters as NEWKEYS does: the
// client's send side and the server's receive side with direction 0, the
// other pair with direction 1. Packets must then pass both ways.
TEST(KEX_DH, KeysFromTheExchangeCarryPacketsBothWays) {
  struct Case {
    const char* cipher;
    const char* mac;
    const char* compression;
  };
  for (const Case& c : {Case{"aes256-cbc", "hmac-sha1", "none"}, Case{"3des-cbc", "hmac-md5", "zlib"},
                        Case{"arcfour", "hmac-sha1-96", "none"},
                        Case{"twofish-cbc", "hmac-md5-96", "zlib"},
                        Case{"blowfish-cbc", "none", "none"}, Case{"cast128-cbc", "hmac-sha1", "zlib"}}) {
    KexPair pair;
    pair.exchange();
    const auto install = [&c](SSH::TransportState& s, unsigned sendDirection) {
      const unsigned receiveDirection = 1 - sendDirection;
      s.outCipher().create(c.cipher, s.sharedSecret(), s.exchangeHash(), s.sessionId(),
                           sendDirection, false);
      s.outMac().create(c.mac, s.sharedSecret(), s.exchangeHash(), s.sessionId(), sendDirection,
                        true, s.peerVersion());
      s.outCompressor().create(c.compression, true);
      s.inCipher().create(c.cipher, s.sharedSecret(), s.exchangeHash(), s.sessionId(),
                          receiveDirection, true);
      s.inMac().create(c.mac, s.sharedSecret(), s.exchangeHash(), s.sessionId(), receiveDirection,
                       false, s.peerVersion());
      s.inCompressor().create(c.compression, false);
    };
    install(pair.client, 0);
    install(pair.server, 1);

    for (int way = 0; way < 2; ++way) {
      SSH::TransportState& from = way == 0 ? pair.client : pair.server;
      SSH::TransportState& to = way == 0 ? pair.server : pair.client;
      CryptoPP::ByteQueue wire;
      SSH::PacketEncoder encoder(from, new CryptoPP::Redirector(wire));
      auto* delivered = new MessageRecorder;
      SSH::PacketDecoder decoder(to, delivered);
      for (const std::string& payload : {std::string("\x05ssh-userauth"), std::string(3000, 'w')}) {
        encoder.PutMessageEnd(bytes(payload), payload.size(), 0);
      }
      wire.TransferTo(decoder);
      ASSERT_EQ(delivered->messages.size(), 2u) << c.cipher << " way " << way;
      EXPECT_EQ(delivered->messages[1], std::string(3000, 'w')) << c.cipher << " way " << way;
    }
  }
}

}  // namespace
