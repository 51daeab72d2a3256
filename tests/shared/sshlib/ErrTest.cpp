#include "sshlib/Err.h"

#include <gtest/gtest.h>

#include "sshlib/Manager.h"
#include "sshlib/Names.h"

namespace {

TEST(SSHErr, MessageIsPrefixedAndCategoryIsTheLibrarysOwn) {
  const SSH::Err e(3, "premature end of data");
  EXPECT_STREQ(e.what(), "SSH: premature end of data");
  EXPECT_EQ(e.category(), 3u);
}

TEST(SSHErr, CauseToDisconnectKeepsTheBareDescriptionBesideTheMessage) {
  try {
    throw SSH::CauseToDisconnect(2, "unexpected end of packet", "en");
  } catch (const SSH::Err& e) {  // caught through the base, as the host does
    const auto& cause = dynamic_cast<const SSH::CauseToDisconnect&>(e);
    EXPECT_STREQ(e.what(), "SSH: cause to disconnect: unexpected end of packet");
    EXPECT_EQ(e.category(), 5u);
    EXPECT_EQ(cause.reason(), 2u);
    EXPECT_EQ(cause.description(), "unexpected end of packet");
    EXPECT_EQ(cause.language(), "en");
  }
}

TEST(SSHErr, ChannelOpenFailureWithEmptyDescriptionAndCopies) {
  const SSH::ChannelOpenFailure original(3, "", "en");
  const SSH::ChannelOpenFailure copy = original;  // NOLINT: the copy is the point
  EXPECT_STREQ(copy.what(), "SSH: channel open failure: ");
  EXPECT_EQ(copy.reason(), 3u);
  EXPECT_EQ(copy.description(), "");
  EXPECT_EQ(copy.language(), "en");
}

TEST(SSHErr, EveryErrorIsADependencyException) {
  auto caughtAsCryptoPP = [](auto thrower) {
    try {
      thrower();
    } catch (const CryptoPP::Exception&) {
      return true;
    } catch (...) {
    }
    return false;
  };
  EXPECT_TRUE(caughtAsCryptoPP([] { throw SSH::Err(2, "x"); }));
  EXPECT_TRUE(caughtAsCryptoPP([] { SSH::throwProtocolError("x"); }));
  EXPECT_TRUE(caughtAsCryptoPP([] { throw SSH::Manager::UnknownChannelType(); }));
  EXPECT_TRUE(caughtAsCryptoPP([] { throw SSH::Manager::TooManyWaitObjects(); }));
  EXPECT_STREQ(SSH::Manager::UnknownChannelType().what(), "unknown channel type");
  EXPECT_STREQ(SSH::Manager::TooManyWaitObjects().what(), "too many wait objects");
  EXPECT_EQ(SSH::Manager::TooManyWaitObjects().category(), 5u);
}

TEST(SSHNames, KnownAndUnknownCodes) {
  struct Case {
    std::string got, want;
  };
  const Case cases[] = {
      {SSH::disconnectReasonName(1), "SSH_DISCONNECT_HOST_NOT_ALLOWED_TO_CONNECT"},
      {SSH::disconnectReasonName(15), "SSH_DISCONNECT_ILLEGAL_USER_NAME"},
      {SSH::disconnectReasonName(16), "16 (unrecognized)"},
      {SSH::disconnectReasonName(0), "0 (unrecognized)"},
      {SSH::disconnectReasonName(0xFFFFFFFF), "4294967295 (unrecognized)"},
      {SSH::channelOpenFailureReasonName(4), "SSH_OPEN_RESOURCE_SHORTAGE"},
      {SSH::channelOpenFailureReasonName(5), "5 (unrecognized)"},
      {SSH::messageName(1), "SSH_MSG_DISCONNECT"},
      {SSH::messageName(7), "7 (unrecognized)"},
      {SSH::messageName(60), "SSH_MSG_USERAUTH_METHODSPECIFIC_1 (PK_OK, PASSWD_CHANGEREQ)"},
      {SSH::messageName(100), "SSH_MSG_CHANNEL_FAILURE"},
      {SSH::messageName(101), "101 (unrecognized)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(SSHNames, EveryNamedMessageNumberHasItsName) {
  // The constants and the name table must not drift apart.
  const unsigned numbers[] = {1, 2, 3, 4, 5, 6, 20, 21, 30, 31, 50, 51, 52, 53, 60,
                              80, 81, 82, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100};
  unsigned named = 0;
  for (unsigned n = 0; n < 256; ++n)
    if (SSH::messageName(n).find("(unrecognized)") == std::string::npos) ++named;
  EXPECT_EQ(named, std::size(numbers));
  for (unsigned n : numbers) EXPECT_EQ(SSH::messageName(n).rfind("SSH_MSG_", 0), 0u) << n;
}

}  // namespace
