#include "sshlib/KEX_DH.h"

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/Mac.h"
#include "sshlib/NameList.h"
#include "sshlib/TransportState.h"

#include <cryptopp/sha.h>

namespace SSH {
namespace {

constexpr word32 kKeyExchangeFailed = 3;   // SSH_DISCONNECT_KEY_EXCHANGE_FAILED
constexpr word32 kHostKeyNotVerifiable = 9;  // SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE
constexpr byte kKexDhInit = 30;
constexpr byte kKexDhReply = 31;

[[noreturn]] void failKex(const std::string& description, const std::string& detail = "") {
  throw CauseToDisconnect(kKeyExchangeFailed, description, kLanguage, detail);
}

// What the peer offered in the list that found nothing in common, for the
// host's message: "server offers aes128-ctr,...".
std::string peerOffer(const TransportState& state, const std::string& list) {
  return std::string(state.isClient() ? "server" : "client") + " offers " + list;
}

[[noreturn]] void failSignature() {
  throw CauseToDisconnect(kHostKeyNotVerifiable, "signature check failed", kLanguage);
}

// The algorithm name at the front of a key or signature blob; "" when the
// blob does not start with a readable string.
std::string blobAlgorithm(const std::string& blob) {
  CryptoPP::ByteQueue q;
  q.Put(reinterpret_cast<const byte*>(blob.data()), blob.size());
  std::string name;
  try {
    getStdString(q, name);
  } catch (const Err&) {
    return "";
  }
  return name;
}

}  // namespace

const char* const KEX_DH::kGroup2Prime =
    "17976931348623159077083915679378745319786029604875601170644442368419718021615851936894783379"
    "58649255415021805654859805036464405481992391000507928770033558166392295531362390765087357599"
    "14822574862575007425302077447712589550957937778424442426617334727629299387668709205606050270"
    "810842907692932019128194467627007";

KEX_DH::KEX_DH(TransportState& state, CryptoPP::BufferedTransformation* attachment)
    : state_(state),
      dh_(CryptoPP::Integer(kGroup2Prime), CryptoPP::Integer::Two()),
      privateKeyLength_(dh_.PrivateKeyLength()),
      privateKey_(privateKeyLength_) {
  Detach(attachment);
}

KEX_DH::~KEX_DH() = default;

void KEX_DH::checkNegotiatedAlgorithms(const TransportState& state) {
  const KexInit& peer = state.peerKexInit();
  if (state.negotiatedKexAlgorithm() != kMethod) {
    failKex("failed to negotiate key exchange algorithm", peerOffer(state, peer.kexAlgorithms));
  }
  const std::string hostKey = state.negotiatedHostKeyAlgorithm();
  if (hostKey.empty() || (state.isServer() && hostKey != "ssh-dss")) {
    failKex("failed to negotiate host key algorithm",
            peerOffer(state, peer.serverHostKeyAlgorithms));
  }
  static const char* const kDirection[2] = {"client to server", "server to client"};
  const auto fail = [&](unsigned direction, const char* what, const std::string& offered) {
    failKex(std::string("failed to negotiate ") + kDirection[direction] + " " + what + " algorithm",
            peerOffer(state, offered));
  };
  for (unsigned direction = 0; direction < 2; ++direction) {
    if (!Cipher::isSupported(state.negotiatedEncryptionAlgorithm(direction))) {
      fail(direction, "encryption",
           direction == 0 ? peer.encryptionAlgorithmsClientToServer
                          : peer.encryptionAlgorithmsServerToClient);
    }
  }
  for (unsigned direction = 0; direction < 2; ++direction) {
    if (!Mac::isSupported(state.negotiatedMacAlgorithm(direction))) {
      fail(direction, "MAC",
           direction == 0 ? peer.macAlgorithmsClientToServer : peer.macAlgorithmsServerToClient);
    }
  }
  for (unsigned direction = 0; direction < 2; ++direction) {
    if (!Compressor::isSupported(state.negotiatedCompressionAlgorithm(direction))) {
      fail(direction, "compression",
           direction == 0 ? peer.compressionAlgorithmsClientToServer
                          : peer.compressionAlgorithmsServerToClient);
    }
  }
}

bool KEX_DH::peerGuessWasWrong(const TransportState& state) {
  const KexInit& peer = state.peerKexInit();
  if (state.negotiatedKexAlgorithm() != firstName(peer.kexAlgorithms)) return true;
  if (state.negotiatedHostKeyAlgorithm() != firstName(peer.serverHostKeyAlgorithms)) return true;
  for (unsigned direction = 0; direction < 2; ++direction) {
    if (state.negotiatedEncryptionAlgorithm(direction).empty() ||
        state.negotiatedMacAlgorithm(direction).empty() ||
        state.negotiatedCompressionAlgorithm(direction).empty()) {
      return true;
    }
  }
  return false;
}

void KEX_DH::generateKeyPair(CryptoPP::Integer& publicValue) {
  CryptoPP::SecByteBlock publicKey(dh_.PublicKeyLength());
  dh_.GenerateKeyPair(state_.rng(), privateKey_, publicKey);
  publicValue.Decode(publicKey, publicKey.size());
}

CryptoPP::Integer KEX_DH::agree(const CryptoPP::Integer& peerValue) const {
  const CryptoPP::Integer& p = dh_.GetGroupParameters().GetModulus();
  // Checked on the full value: encoding it into the public-value length
  // first would drop high bits and let 2^1024 + y pass as y.
  if (peerValue <= CryptoPP::Integer::One() || peerValue >= p - CryptoPP::Integer::One()) {
    failKex("invalid DH value");
  }
  CryptoPP::SecByteBlock peerKey(dh_.PublicKeyLength());
  peerValue.Encode(peerKey, peerKey.size());
  CryptoPP::SecByteBlock agreed(dh_.AgreedValueLength());
  if (!dh_.Agree(agreed, privateKey_, peerKey, true)) failKex("invalid DH value");
  return CryptoPP::Integer(agreed, agreed.size());
}

void KEX_DH::sendKexDhInit() {
  state_.checkTransportState(TransportState::kInKexInitReceived);
  state_.checkOutputState(TransportState::kOutKexInitSent);
  generateKeyPair(e_);
  CryptoPP::BufferedTransformation& out = *AttachedTransformation();
  putByte(out, kKexDhInit);
  putMPInt(out, e_);
  out.MessageEnd();
}

size_t KEX_DH::Put2(const byte* inString, size_t length, int messageEnd, bool blocking) {
  if (!blocking) throw BlockingInputOnly("SSH::KEX_DH");
  if (length > 0) input_.Put(inString, length);
  if (messageEnd) {
    state_.checkTransportState(TransportState::kInKexInitReceived);
    state_.checkOutputState(TransportState::kOutKexInitSent);
    if (state_.isServer()) {
      receiveInit(messageEnd);
    } else {
      receiveReply();
    }
    input_.Clear();
  }
  return 0;
}

void KEX_DH::receiveReply() {
  expectMessage(input_, kKexDhReply);
  std::string hostKeyBlob;
  getStdString(input_, hostKeyBlob);
  CryptoPP::Integer f;
  getMPInt(input_, f);
  std::string signature;
  getStdString(input_, signature);

  // The session's peer is the one whose key the first exchange verified
  // (and the host checked); a later exchange may not bring another.
  if (!state_.sessionId().empty() && hostKeyBlob != state_.hostKeyBlob()) {
    throw CauseToDisconnect(kHostKeyNotVerifiable, "host key changed", kLanguage);
  }
  f_ = f;
  const CryptoPP::Integer K = agree(f_);
  const CryptoPP::SecByteBlock H = computeExchangeHash(hostKeyBlob, K);
  // The key offered, the algorithm agreed on and the signature must all be
  // the same kind; the check itself reports every fault as a failed check.
  if (blobAlgorithm(hostKeyBlob) != state_.negotiatedHostKeyAlgorithm()) failSignature();
  if (!verifyHostKeySignature(hostKeyBlob, signature, H, H.size())) failSignature();
  finish(hostKeyBlob, K, H);
}

void KEX_DH::receiveInit(int propagation) {
  expectMessage(input_, kKexDhInit);
  CryptoPP::Integer e;
  getMPInt(input_, e);
  e_ = e;
  generateKeyPair(f_);
  const CryptoPP::Integer K = agree(e_);

  // K_S is always the blob of the key that signs, so the two cannot differ.
  CryptoPP::ByteQueue blobQueue;
  encodeDsaPublicKeyBlob(*state_.hostKey(), blobQueue);
  std::string hostKeyBlob(static_cast<size_t>(blobQueue.MaxRetrievable()), '\0');
  blobQueue.Get(reinterpret_cast<byte*>(hostKeyBlob.data()), hostKeyBlob.size());

  const CryptoPP::SecByteBlock H = computeExchangeHash(hostKeyBlob, K);
  const std::string signature = signDss(*state_.hostKey(), H, H.size(), state_.rng());
  CryptoPP::BufferedTransformation& out = *AttachedTransformation();
  putByte(out, kKexDhReply);
  putStdString(out, hostKeyBlob);
  putMPInt(out, f_);
  putStdString(out, signature);
  out.Put2(nullptr, 0, propagation, true);
  finish(hostKeyBlob, K, H);
}

CryptoPP::SecByteBlock KEX_DH::exchangeHash(const std::string& clientVersion,
                                            const std::string& serverVersion,
                                            const std::string& clientKexInit,
                                            const std::string& serverKexInit,
                                            const std::string& hostKeyBlob,
                                            const CryptoPP::Integer& e, const CryptoPP::Integer& f,
                                            const CryptoPP::Integer& K) {
  CryptoPP::SecByteBlock digest(CryptoPP::SHA1::DIGESTSIZE);
  CryptoPP::SHA1 sha;
  CryptoPP::HashFilter hash(sha, new CryptoPP::ArraySink(digest, digest.size()));
  putStdString(hash, clientVersion);
  putStdString(hash, serverVersion);
  putStdString(hash, clientKexInit);
  putStdString(hash, serverKexInit);
  putStdString(hash, hostKeyBlob);
  putMPInt(hash, e);
  putMPInt(hash, f);
  putMPInt(hash, K);
  hash.MessageEnd();
  return digest;
}

CryptoPP::SecByteBlock KEX_DH::computeExchangeHash(const std::string& hostKeyBlob,
                                                   const CryptoPP::Integer& K) const {
  return exchangeHash(state_.clientVersion().line, state_.serverVersion().line,
                      state_.clientKexInit().hashPayload(), state_.serverKexInit().hashPayload(),
                      hostKeyBlob, e_, f_, K);
}

void KEX_DH::finish(const std::string& hostKeyBlob, const CryptoPP::Integer& K,
                    const CryptoPP::SecByteBlock& H) {
  state_.setHostKeyBlob(hostKeyBlob);
  state_.setSharedSecret(K);
  state_.setExchangeHash(H, H.size());
  state_.setSessionId(H, H.size());
  state_.setInputState(TransportState::kInKexDone);
  state_.setOutputState(TransportState::kOutKexDone);
}

}  // namespace SSH
