#include "sshlib/TransportState.h"

#include <cryptopp/queue.h>

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Err.h"
#include "sshlib/Mac.h"
#include "sshlib/NameList.h"

namespace SSH {

namespace {

constexpr const char* kInappropriate = "received packet inappropriate for current transport state";

// The block changes size only through SecBlock::Assign, which wipes and
// frees the old block first.
void assignBlock(CryptoPP::SecByteBlock& block, const CryptoPP::byte* bytes, size_t length) {
  block.Assign(bytes, length);
}

}  // namespace

TransportState::TransportState(CryptoPP::RandomNumberGenerator& rng)
    : rng_(rng),
      inCipher_(std::make_unique<Cipher>()),
      outCipher_(std::make_unique<Cipher>()),
      inMac_(std::make_unique<Mac>()),
      outMac_(std::make_unique<Mac>()),
      inCompressor_(std::make_unique<Compressor>()),
      outCompressor_(std::make_unique<Compressor>(new CryptoPP::ByteQueue(1024))) {}

TransportState::~TransportState() = default;

void TransportState::setPeerKexInit(const KexInit& k) {
  peerKexInit_ = k;
  peerKexInitReceived_ = true;
}

void TransportState::setOwnKexInit(const KexInit& k) {
  ownKexInit_ = k;
  ownKexInitSent_ = true;
}

void TransportState::setExchangeHash(const CryptoPP::byte* bytes, size_t length) {
  assignBlock(exchangeHash_, bytes, length);
}

void TransportState::setSessionId(const CryptoPP::byte* bytes, size_t length) {
  if (sessionId_.empty()) assignBlock(sessionId_, bytes, length);
}

std::string TransportState::negotiate(NameListField field) const {
  return firstCommonName(clientKexInit().*field, serverKexInit().*field);
}

std::string TransportState::negotiate(unsigned direction, NameListField clientToServer,
                                      NameListField serverToClient) const {
  return negotiate(direction == 0 ? clientToServer : serverToClient);
}

std::string TransportState::negotiatedKexAlgorithm() const {
  return negotiate(&KexInit::kexAlgorithms);
}

std::string TransportState::negotiatedHostKeyAlgorithm() const {
  return negotiate(&KexInit::serverHostKeyAlgorithms);
}

std::string TransportState::negotiatedEncryptionAlgorithm(unsigned direction) const {
  return negotiate(direction, &KexInit::encryptionAlgorithmsClientToServer,
                   &KexInit::encryptionAlgorithmsServerToClient);
}

std::string TransportState::negotiatedMacAlgorithm(unsigned direction) const {
  return negotiate(direction, &KexInit::macAlgorithmsClientToServer,
                   &KexInit::macAlgorithmsServerToClient);
}

std::string TransportState::negotiatedCompressionAlgorithm(unsigned direction) const {
  return negotiate(direction, &KexInit::compressionAlgorithmsClientToServer,
                   &KexInit::compressionAlgorithmsServerToClient);
}

void TransportState::checkTransportState(CryptoPP::word32 expected) const {
  if (inputState_ != expected) throwProtocolError(kInappropriate);
}

void TransportState::checkOutputState(CryptoPP::word32 expected) const {
  if (outputState_ != expected) throwProtocolError(kInappropriate);
}

void TransportState::throwPacketMeantForClient() const {
  if (isServer()) throwProtocolError("received packet meant for client");
}

void TransportState::throwPacketMeantForServer() const {
  if (isClient()) throwProtocolError("received packet meant for server");
}

}  // namespace SSH
