// The user-authentication half of the Manager: request writers (client),
// answers to USERAUTH_REQUEST (server), and public-key signatures.
#include <cryptopp/queue.h>

#include "sshlib/Authenticator.h"
#include "sshlib/Encoding.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/KeyFiles.h"
#include "sshlib/Manager.h"
#include "sshlib/NameList.h"
#include "sshlib/Names.h"
#include "sshlib/TransportState.h"

namespace SSH {

namespace {

constexpr const char* kConnectionService = "ssh-connection";

const byte* bytesOf(const std::string& s) { return reinterpret_cast<const byte*>(s.data()); }

}  // namespace

void Manager::requireSecureOutput() const {
  if (outCipherName_ == "none" || outMacName_ == "none") {
    throw Err(Err::kInvalidArgument, "credentials are not sent without a cipher and a MAC");
  }
}

void Manager::writeUserAuthHeader(const std::string& user, const char* method) {
  putByte(output(), kMsgUserAuthRequest);
  putStdString(output(), user);
  putStdString(output(), kConnectionService);
  putStdString(output(), method);
  authenticator_.lastMethod = method;
}

void Manager::sendServiceRequest() {
  putByte(output(), kMsgServiceRequest);
  putStdString(output(), "ssh-userauth");
  output().MessageEnd();
}

void Manager::sendNoneRequest(const std::string& user) {
  writeUserAuthHeader(user, "none");
  output().MessageEnd();
}

void Manager::sendPasswordRequest(const std::string& user, const byte* password, size_t length) {
  requireSecureOutput();
  writeUserAuthHeader(user, "password");
  putBoolean(output(), false);
  putString(output(), password, length);
  output().MessageEnd();
}

void Manager::sendPasswordChangeRequest(const std::string& user, const byte* oldPassword,
                                        size_t oldLength, const byte* newPassword,
                                        size_t newLength) {
  requireSecureOutput();
  writeUserAuthHeader(user, "password");
  putBoolean(output(), true);
  putString(output(), oldPassword, oldLength);
  putString(output(), newPassword, newLength);
  output().MessageEnd();
}

void Manager::sendPublicKeyQuery(const std::string& user, const std::string& algorithm,
                                 const std::string& keyBlob) {
  requireSecureOutput();
  writeUserAuthHeader(user, "publickey");
  putBoolean(output(), false);
  putStdString(output(), algorithm);
  putStdString(output(), keyBlob);
  output().MessageEnd();
}

void Manager::sendPublicKeySigned(const std::string& user, const std::string& algorithm,
                                  const std::string& keyBlob, const std::string& signatureBlob) {
  requireSecureOutput();
  writeUserAuthHeader(user, "publickey");
  putBoolean(output(), true);
  putStdString(output(), algorithm);
  putStdString(output(), keyBlob);
  putStdString(output(), signatureBlob);
  output().MessageEnd();
}

void Manager::sendBanner(const std::string& message, const std::string& language) {
  putByte(output(), kMsgUserAuthBanner);
  putStdString(output(), message);
  putStdString(output(), language);
  output().MessageEnd();
}

void Manager::sendPublicKeyRequest(const std::string& user,
                                   CryptoPP::BufferedTransformation& keySource,
                                   const byte* passPhrase, size_t passLength,
                                   CryptoPP::RandomNumberGenerator* rng) {
  requireSecureOutput();
  const LoadedPrivateKey key = loadPrivateKey(keySource, passPhrase, passLength);
  const std::string blob = key.publicKeyBlob();
  if (!rng) {
    sendPublicKeyQuery(user, key.algorithm, blob);
    return;
  }
  const std::string data = makePublicKeyAuthData(state_.sessionId(), user, key.algorithm, blob);
  const std::string signature = key.rsa ? signRsa(*key.rsa, bytesOf(data), data.size(), *rng)
                                        : signDss(*key.dsa, bytesOf(data), data.size(), *rng);
  sendPublicKeySigned(user, key.algorithm, blob, signature);
}

std::string Manager::makePublicKeyAuthData(const CryptoPP::SecByteBlock& sessionId,
                                           const std::string& user, const std::string& algorithm,
                                           const std::string& keyBlob) {
  CryptoPP::ByteQueue q;
  putByteBlock(q, sessionId);
  putByte(q, kMsgUserAuthRequest);
  putStdString(q, user);
  putStdString(q, kConnectionService);
  putStdString(q, "publickey");
  putBoolean(q, true);
  putStdString(q, algorithm);
  putStdString(q, keyBlob);
  return takeAllBytes(q);
}

bool Manager::isSupportedKey(const std::string& algorithm, const std::string& keyBlob) {
  if (algorithm != "ssh-rsa" && algorithm != "ssh-dss") return false;
  CryptoPP::ByteQueue q;
  putStdBytes(q, keyBlob);
  std::string leading;
  try {
    getStdString(q, leading);
  } catch (const Err&) {
    return false;
  }
  return leading == algorithm;
}

bool Manager::verifyPublicKeyAuth(const std::string& user, const std::string& algorithm,
                                  const std::string& keyBlob,
                                  const std::string& signatureBlob) const {
  // The key blob, the signature blob and the request must all name one
  // algorithm; verifyHostKeySignature compares the two blobs.
  if (!isSupportedKey(algorithm, keyBlob)) return false;
  const std::string data = makePublicKeyAuthData(state_.sessionId(), user, algorithm, keyBlob);
  return verifyHostKeySignature(keyBlob, signatureBlob, bytesOf(data), data.size());
}

void Manager::handleUserAuthRequest(CryptoPP::BufferedTransformation& message) {
  if (authenticator_.state == Authenticator::kSuccess) {
    authenticator_.HandleRequestAfterSuccess(*this, message);
    message.Skip();
    return;
  }
  expectMessage(message, kMsgUserAuthRequest);
  std::string user, service, method;
  getStdString(message, user);
  getStdString(message, service);
  getStdString(message, method);
  authenticator_.lastMethod = method;
  if (service != kConnectionService) {
    throw CauseToDisconnect(kDisconnectServiceNotAvailable, "", kLanguage);
  }
  if (authenticator_.userKnown && user != authenticator_.userName) authenticator_.reset();
  authenticator_.userName = user;
  authenticator_.userKnown = true;

  // Each request is judged afresh: an answer left from the last one (a
  // PK_OK, say) must not answer this one.
  authenticator_.state = Authenticator::kNothingYet;
  if (!nameListContains(authenticator_.methodsCanContinue, method)) {
    authenticator_.fail();
  } else {
    authenticator_.HandleRequest(*this, method, message);
    // Every request gets an answer (RFC 4252 section 5): undecided is failed.
    if (authenticator_.state == Authenticator::kNothingYet) authenticator_.fail();
  }

  switch (authenticator_.state) {
    case Authenticator::kPublicKeyAcceptable:
      putByte(output(), kMsgUserAuthMethodSpecific1);
      putStdString(output(), authenticator_.acceptedKeyAlgorithm);
      putStdString(output(), authenticator_.acceptedKeyBlob);
      output().MessageEnd();
      break;
    case Authenticator::kPasswordChangeRequested:
      putByte(output(), kMsgUserAuthMethodSpecific1);
      putStdString(output(), authenticator_.passwordPrompt);
      putStdString(output(), authenticator_.promptLanguage);
      output().MessageEnd();
      break;
    case Authenticator::kFailure:
    case Authenticator::kPartialSuccess:
      // Each attempt may cost a signature check: a peer gets a bounded number.
      if (authenticator_.state == Authenticator::kFailure && ++authFailures_ > kMaxAuthFailures) {
        throw CauseToDisconnect(kDisconnectNoMoreAuthMethodsAvailable,
                                "too many authentication failures", kLanguage);
      }
      putByte(output(), kMsgUserAuthFailure);
      putStdString(output(), authenticator_.methodsCanContinue);
      putBoolean(output(), authenticator_.state == Authenticator::kPartialSuccess);
      output().MessageEnd();
      break;
    case Authenticator::kSuccess:
      putByte(output(), kMsgUserAuthSuccess);
      output().MessageEnd();
      break;
    default:
      break;
  }
}

void Manager::handleAuthMethodSpecific(CryptoPP::BufferedTransformation& message) {
  if (authenticator_.state == Authenticator::kSuccess) {
    message.Skip();
    return;
  }
  if (authenticator_.lastMethod == "publickey") {
    expectMessage(message, kMsgUserAuthMethodSpecific1);
    getStdString(message, authenticator_.acceptedKeyAlgorithm);
    getStdString(message, authenticator_.acceptedKeyBlob);
    authenticator_.state = Authenticator::kPublicKeyAcceptable;
  } else if (authenticator_.lastMethod == "password") {
    expectMessage(message, kMsgUserAuthMethodSpecific1);
    getStdString(message, authenticator_.passwordPrompt);
    getStdString(message, authenticator_.promptLanguage);
    authenticator_.state = Authenticator::kPasswordChangeRequested;
  } else {
    message.Skip();
    sendUnimplemented();
    return;
  }
  authenticator_.OnAuthResult(*this);
}

}  // namespace SSH
