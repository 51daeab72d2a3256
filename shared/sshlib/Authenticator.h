#pragma once
// The state record of user authentication ("ssh-userauth"): what was last
// asked, what the other side answered and the current result. The request
// writers and the parsing of answers are the Manager's; this record only
// holds the outcome and the hooks a host overrides.
#include <cryptopp/cryptlib.h>

#include <string>

namespace SSH {

class Manager;

class Authenticator {
 public:
  enum State : CryptoPP::word32 {
    kNothingYet = 0,
    kPublicKeyAcceptable = 2,  // USERAUTH_PK_OK after a "publickey" query
    kPasswordChangeRequested = 3,
    kFailure = 4,
    kPartialSuccess = 5,
    kSuccess = 6,
  };

  Authenticator() = default;
  virtual ~Authenticator() = default;
  Authenticator(const Authenticator&) = delete;
  Authenticator& operator=(const Authenticator&) = delete;

  // Called after every answer that sets the state (51, 52, 60).
  virtual void OnAuthResult(Manager&) {}
  // Server side: the method-specific rest of a USERAUTH_REQUEST whose method
  // is among the methods that can continue. It decides by setting state (or
  // calling fail); a hook that decides nothing leaves the request failed.
  virtual void HandleRequest(Manager&, const std::string& /*method*/,
                             CryptoPP::BufferedTransformation& /*message*/) {}
  virtual void reset() { state = kNothingYet; }
  virtual void fail() { state = kFailure; }
  // Server side: a USERAUTH_REQUEST that arrives after success (user,
  // service and method unread).
  virtual void HandleRequestAfterSuccess(Manager&, CryptoPP::BufferedTransformation&) {}

  CryptoPP::word32 state = kNothingYet;
  bool userKnown = false;
  std::string userName;
  // A name-list: at a client as the last USERAUTH_FAILURE gave it, at a
  // server the methods the host offers.
  std::string methodsCanContinue;
  std::string lastMethod;
  std::string passwordPrompt;
  std::string promptLanguage;
  std::string acceptedKeyAlgorithm;
  std::string acceptedKeyBlob;
};

}  // namespace SSH
