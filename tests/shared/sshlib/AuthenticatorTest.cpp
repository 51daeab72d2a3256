// User authentication at the fixture manager: answers parsed into the
// authenticator, the signed data, and the refusal to send credentials in
// the clear.
#include <gtest/gtest.h>

#include "ManagerTestSupport.h"

namespace {

using namespace sshtest;
using SSH::Authenticator;

struct ClientAuth : ManagerFixture {
  ClientAuth() { auth.state = Authenticator::kNothingYet; }
};

TEST(AuthenticatorTest, FailureWithPartialSuccessKeepsTheMethods) {
  ClientAuth f;
  f.feed(Payload(SSH::kMsgUserAuthFailure).str("publickey,password").boolean(true).bytes());
  EXPECT_EQ(f.auth.state, Authenticator::kPartialSuccess);
  EXPECT_EQ(f.auth.methodsCanContinue, "publickey,password");
  f.feed(Payload(SSH::kMsgUserAuthFailure).str("password").boolean(false).bytes());
  EXPECT_EQ(f.auth.state, Authenticator::kFailure);
  f.feed(Payload(SSH::kMsgUserAuthSuccess).bytes());
  EXPECT_EQ(f.auth.state, Authenticator::kSuccess);
}

TEST(AuthenticatorTest, MessageSixtyIsReadByTheLastMethod) {
  struct Case {
    const char* method;
    CryptoPP::word32 state;
    std::string Authenticator::*first;
    std::string Authenticator::*second;
  };
  for (const Case& k : {Case{"publickey", Authenticator::kPublicKeyAcceptable,
                             &Authenticator::acceptedKeyAlgorithm, &Authenticator::acceptedKeyBlob},
                        Case{"password", Authenticator::kPasswordChangeRequested,
                             &Authenticator::passwordPrompt, &Authenticator::promptLanguage}}) {
    SCOPED_TRACE(k.method);
    ClientAuth f;
    f.auth.lastMethod = k.method;
    f.feed(Payload(SSH::kMsgUserAuthMethodSpecific1).str("one").str("two").bytes());
    EXPECT_EQ(f.auth.state, k.state);
    EXPECT_EQ(f.auth.*k.first, "one");
    EXPECT_EQ(f.auth.*k.second, "two");
  }

  ClientAuth none;
  none.auth.lastMethod = "none";
  none.feed(Payload(SSH::kMsgUserAuthMethodSpecific1).str("x").str("y").bytes());
  EXPECT_EQ(none.auth.state, Authenticator::kNothingYet);
  EXPECT_EQ(none.written().at(0), Payload(SSH::kMsgUnimplemented).u32(0).bytes());
}

TEST(AuthenticatorTest, BannerBeforeSuccessIsShownAfterItSkipped) {
  struct BannerManager : TestManager {
    using TestManager::TestManager;
    void OnBanner(const std::string& m, const std::string& l) override {
      banners.push_back(m + "/" + l);
    }
    std::vector<std::string> banners;
  };
  CountingRng rng;
  SSH::TransportState state{rng};
  state.setInputState(SSH::TransportState::kInServiceRunning);
  Authenticator auth;
  BannerManager m{state, auth, new MessageRecorder};
  const std::string banner = Payload(SSH::kMsgUserAuthBanner).str("welcome").str("en").bytes();
  m.PutMessageEnd(bytes(banner), banner.size());
  auth.state = Authenticator::kSuccess;
  m.PutMessageEnd(bytes(banner), banner.size());
  EXPECT_EQ(m.banners, std::vector<std::string>{"welcome/en"});
}

TEST(AuthenticatorTest, SignedDataBeginWithTheSessionIdAndMessageNumber) {
  const std::string sid(20, '\x11');
  const std::string data = SSH::Manager::makePublicKeyAuthData(block(sid), "u", "ssh-rsa", "KEY");
  EXPECT_EQ(data.substr(0, 25), std::string("\0\0\0\x14", 4) + sid + "\x32");
  EXPECT_EQ(data, std::string("\0\0\0\x14", 4) + sid +
                      Payload(50)
                          .str("u")
                          .str("ssh-connection")
                          .str("publickey")
                          .boolean(true)
                          .str("ssh-rsa")
                          .str("KEY")
                          .bytes());
}

TEST(AuthenticatorTest, SupportedKeysNameTheirAlgorithmFirst) {
  const std::string rsaBlob = std::string("\0\0\0\x07ssh-rsa", 11) + "rest";
  EXPECT_TRUE(SSH::Manager::isSupportedKey("ssh-rsa", rsaBlob));
  EXPECT_FALSE(SSH::Manager::isSupportedKey("ssh-dss", rsaBlob));
  EXPECT_FALSE(
      SSH::Manager::isSupportedKey("ssh-ed25519", std::string("\0\0\0\x0bssh-ed25519", 15)));
  EXPECT_FALSE(SSH::Manager::isSupportedKey("ssh-rsa", std::string("\0\0", 2)));
}

TEST(AuthenticatorTest, CredentialsAreNotSentWithoutACipherAndAMac) {
  ClientAuth f;
  const std::vector<std::function<void()>> writers = {
      [&] { f.manager.sendPasswordRequest("u", bytes("pw"), 2); },
      [&] { f.manager.sendPasswordChangeRequest("u", bytes("a"), 1, bytes("b"), 1); },
      [&] { f.manager.sendPublicKeyQuery("u", "ssh-rsa", "blob"); },
      [&] { f.manager.sendPublicKeySigned("u", "ssh-rsa", "blob", "sig"); },
  };
  for (const auto& write : writers) {
    EXPECT_EQ(errorOf(write), "SSH: credentials are not sent without a cipher and a MAC");
  }
  EXPECT_TRUE(f.written().empty());
  // "none" reveals nothing and may go out.
  f.manager.sendNoneRequest("u");
  EXPECT_EQ(f.written().at(0),
            Payload(SSH::kMsgUserAuthRequest).str("u").str("ssh-connection").str("none").bytes());
  EXPECT_EQ(f.auth.lastMethod, "none");
}

// A server in receive state 6 before authentication.
struct ServerAuth {
  CountingRng rng;
  SSH::TransportState state{rng};
  ServerAuthenticator auth;
  MessageRecorder* out = new MessageRecorder;
  TestManager manager{state, auth, out};

  ServerAuth() {
    state.setHostKey(&Connection::hostKey());
    state.setInputState(SSH::TransportState::kInServiceRunning);
    state.setOutputState(SSH::TransportState::kOutServiceRunning);
    auth.keyBlob = std::string("\0\0\0\x07ssh-rsa", 11) + "KEY";
  }

  std::string answer(const std::string& method, const Payload& rest) {
    const std::string payload =
        Payload(SSH::kMsgUserAuthRequest).str("alice").str("ssh-connection").str(method).bytes() +
        rest.bytes().substr(1);
    out->messages.clear();
    manager.PutMessageEnd(bytes(payload), payload.size());
    return out->messages.empty() ? "" : out->messages.back();
  }
};

TEST(AuthenticatorTest, ServerAnswersEveryRequest) {
  ServerAuth s;
  s.auth.methodsCanContinue = "publickey,password,hostbased";
  const std::string failure =
      Payload(SSH::kMsgUserAuthFailure).str("publickey,password,hostbased").boolean(false).bytes();
  // Not offered, and offered but left undecided by the hook: both fail.
  EXPECT_EQ(s.answer("none", Payload(0)), failure);
  EXPECT_EQ(s.answer("hostbased", Payload(0).str("ssh-rsa")), failure);
  // A key query is answered with PK_OK; the next request is judged afresh.
  EXPECT_EQ(s.answer("publickey", Payload(0).boolean(false).str("ssh-rsa").str(s.auth.keyBlob)),
            Payload(SSH::kMsgUserAuthMethodSpecific1).str("ssh-rsa").str(s.auth.keyBlob).bytes());
  EXPECT_EQ(s.answer("password", Payload(0).boolean(false).str("wrong")), failure);
  EXPECT_EQ(s.answer("password", Payload(0).boolean(false).str("s3cret")),
            Payload(SSH::kMsgUserAuthSuccess).bytes());
  EXPECT_EQ(s.auth.userName, "alice");
  // After success a request is left to the hook and not answered.
  EXPECT_EQ(s.answer("password", Payload(0).boolean(false).str("s3cret")), "");
}

TEST(AuthenticatorTest, ServerGivesUpAfterTooManyFailures) {
  ServerAuth s;
  for (unsigned i = 0; i < SSH::Manager::kMaxAuthFailures; ++i) {
    ASSERT_NE(s.answer("password", Payload(0).boolean(false).str("guess")), "");
  }
  EXPECT_EQ(disconnectOf([&] { s.answer("password", Payload(0).boolean(false).str("guess")); },
                         SSH::kDisconnectNoMoreAuthMethodsAvailable),
            "too many authentication failures");
}

}  // namespace
