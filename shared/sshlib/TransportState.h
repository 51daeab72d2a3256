#pragma once
// The per-connection state of the SSH-2 transport layer, shared through a
// plain pointer by every filter of one connection's pipeline (decoder,
// manager, key exchange, encoder). One thread uses it at a time.
//
// The side is decided by the host key: none means client. The raw setters
// here notify nobody; the Manager's state setters do.
#include <cryptopp/cryptlib.h>
#include <cryptopp/dsa.h>
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>

#include <memory>
#include <string>

#include "sshlib/KexInit.h"
#include "sshlib/VersionInfo.h"

namespace SSH {

class Cipher;
class Mac;
class Compressor;

class TransportState {
 public:
  // Receive-side states.
  enum InputState : CryptoPP::word32 {
    kInAwaitingVersion = 0,
    kInVersionReceived = 1,
    kInKexInitReceived = 2,
    kInKexDone = 3,
    kInNewKeysAtServer = 4,  // awaiting SERVICE_REQUEST
    kInNewKeysAtClient = 5,  // awaiting SERVICE_ACCEPT
    kInServiceRunning = 6,
    kInDisconnected = 7,
  };
  // Send-side states.
  enum OutputState : CryptoPP::word32 {
    kOutNothingSent = 0,
    kOutVersionSent = 1,
    kOutKexInitSent = 2,
    kOutKexDone = 3,
    kOutNewKeysBeforeService = 4,
    kOutServiceRunning = 5,  // NEWKEYS while the service runs, or service granted
    kOutDisconnected = 6,
  };

  // Starts with "none" filters; the send compressor's output collects in a
  // byte queue so the compressed payload can be measured before framing.
  explicit TransportState(CryptoPP::RandomNumberGenerator& rng);
  ~TransportState();
  TransportState(const TransportState&) = delete;
  TransportState& operator=(const TransportState&) = delete;

  CryptoPP::RandomNumberGenerator& rng() const noexcept { return rng_; }

  // The server's host key (not owned); absent at a client.
  const CryptoPP::DSA::PrivateKey* hostKey() const noexcept { return hostKey_; }
  void setHostKey(const CryptoPP::DSA::PrivateKey* key) noexcept { hostKey_ = key; }
  bool isClient() const noexcept { return hostKey_ == nullptr; }
  bool isServer() const noexcept { return hostKey_ != nullptr; }

  CryptoPP::word32 inputState() const noexcept { return inputState_; }
  CryptoPP::word32 outputState() const noexcept { return outputState_; }
  void setInputState(CryptoPP::word32 value) noexcept { inputState_ = value; }
  void setOutputState(CryptoPP::word32 value) noexcept { outputState_ = value; }

  const VersionInfo& peerVersion() const noexcept { return peerVersion_; }
  const VersionInfo& ownVersion() const noexcept { return ownVersion_; }
  void setPeerVersion(const VersionInfo& v) { peerVersion_ = v; }
  void setOwnVersion(const VersionInfo& v) { ownVersion_ = v; }
  const VersionInfo& clientVersion() const noexcept { return isClient() ? ownVersion_ : peerVersion_; }
  const VersionInfo& serverVersion() const noexcept { return isClient() ? peerVersion_ : ownVersion_; }

  // Sequence numbers of the next packet in each direction; they wrap.
  CryptoPP::word32 inSequence() const noexcept { return inSequence_; }
  CryptoPP::word32 outSequence() const noexcept { return outSequence_; }
  void incrementInSequence() noexcept { ++inSequence_; }
  void incrementOutSequence() noexcept { ++outSequence_; }

  bool peerKexInitReceived() const noexcept { return peerKexInitReceived_; }
  bool ownKexInitSent() const noexcept { return ownKexInitSent_; }
  const KexInit& peerKexInit() const noexcept { return peerKexInit_; }
  const KexInit& ownKexInit() const noexcept { return ownKexInit_; }
  // Each also sets its flag.
  void setPeerKexInit(const KexInit& k);
  void setOwnKexInit(const KexInit& k);
  void clearKexInitFlags() noexcept { peerKexInitReceived_ = ownKexInitSent_ = false; }
  const KexInit& clientKexInit() const noexcept { return isClient() ? ownKexInit_ : peerKexInit_; }
  const KexInit& serverKexInit() const noexcept { return isClient() ? peerKexInit_ : ownKexInit_; }

  // K_S of the last key exchange.
  const std::string& hostKeyBlob() const noexcept { return hostKeyBlob_; }
  void setHostKeyBlob(const std::string& blob) { hostKeyBlob_ = blob; }
  // K of the last key exchange.
  const CryptoPP::Integer& sharedSecret() const noexcept { return sharedSecret_; }
  void setSharedSecret(const CryptoPP::Integer& k) { sharedSecret_ = k; }
  // H of the last key exchange, and of the first one.
  const CryptoPP::SecByteBlock& exchangeHash() const noexcept { return exchangeHash_; }
  const CryptoPP::SecByteBlock& sessionId() const noexcept { return sessionId_; }
  void setExchangeHash(const CryptoPP::byte* bytes, size_t length);
  // The session id is H of the first exchange only: once set, later calls
  // leave it as it is.
  void setSessionId(const CryptoPP::byte* bytes, size_t length);

  bool serviceStarted() const noexcept { return serviceStarted_; }
  void setServiceStarted() noexcept { serviceStarted_ = true; }  // never cleared

  // Negotiation results, computed on each call from the client's and the
  // server's KEXINIT (client's list first); "" when nothing is common.
  // direction 0 is client to server, any other value server to client.
  std::string negotiatedKexAlgorithm() const;
  std::string negotiatedHostKeyAlgorithm() const;
  std::string negotiatedEncryptionAlgorithm(unsigned direction) const;
  std::string negotiatedMacAlgorithm(unsigned direction) const;
  std::string negotiatedCompressionAlgorithm(unsigned direction) const;

  // Protocol checks; each throws CauseToDisconnect reason 2.
  void checkTransportState(CryptoPP::word32 expected) const;
  void checkOutputState(CryptoPP::word32 expected) const;
  void throwPacketMeantForClient() const;  // throws at a server only
  void throwPacketMeantForServer() const;  // throws at a client only

  // The six filters, replaced in place by their factories on NEWKEYS.
  Cipher& inCipher() const noexcept { return *inCipher_; }
  Cipher& outCipher() const noexcept { return *outCipher_; }
  Mac& inMac() const noexcept { return *inMac_; }
  Mac& outMac() const noexcept { return *outMac_; }
  Compressor& inCompressor() const noexcept { return *inCompressor_; }
  Compressor& outCompressor() const noexcept { return *outCompressor_; }

 private:
  using NameListField = std::string KexInit::*;
  std::string negotiate(NameListField field) const;
  std::string negotiate(unsigned direction, NameListField clientToServer,
                        NameListField serverToClient) const;

  CryptoPP::RandomNumberGenerator& rng_;
  const CryptoPP::DSA::PrivateKey* hostKey_ = nullptr;
  CryptoPP::word32 inputState_ = kInAwaitingVersion;
  CryptoPP::word32 outputState_ = kOutNothingSent;
  VersionInfo peerVersion_;
  VersionInfo ownVersion_;
  CryptoPP::word32 inSequence_ = 0;
  CryptoPP::word32 outSequence_ = 0;
  bool peerKexInitReceived_ = false;
  bool ownKexInitSent_ = false;
  KexInit peerKexInit_;
  KexInit ownKexInit_;
  std::string hostKeyBlob_;
  CryptoPP::Integer sharedSecret_;
  CryptoPP::SecByteBlock exchangeHash_;
  CryptoPP::SecByteBlock sessionId_;
  bool serviceStarted_ = false;
  std::unique_ptr<Cipher> inCipher_;
  std::unique_ptr<Cipher> outCipher_;
  std::unique_ptr<Mac> inMac_;
  std::unique_ptr<Mac> outMac_;
  std::unique_ptr<Compressor> inCompressor_;
  std::unique_ptr<Compressor> outCompressor_;
};

}  // namespace SSH
