#include "sshlib/VersionInfo.h"

#include <gtest/gtest.h>

#include "SSHTestSupport.h"

namespace {

using sshtest::disconnectOf;

TEST(SSHVersionInfo, LocalLineTrimsBlanks) {
  const SSH::VersionInfo v = SSH::makeVersionString("  App 1.0  ");
  EXPECT_EQ(v.line, "SSH-2.0-1.27 sshlib: App 1.0");
  EXPECT_EQ(v.protocolVersion, "2.0");
  EXPECT_EQ(v.softwareVersion, "1.27");
  EXPECT_EQ(v.comments, "sshlib: App 1.0");
}

TEST(SSHVersionInfo, LocalLineRefusals) {
  // "SSH-2.0-1.27 sshlib: " is 21 characters.
  const std::string fits(253 - 21, 'a');
  EXPECT_EQ(SSH::makeVersionString(fits).line.size(), 253u);
  struct Case {
    std::string text, error;
  };
  const Case cases[] = {
      {"   ", "SSH: appNameAndVersion must not be empty"},
      {"", "SSH: appNameAndVersion must not be empty"},
      {"App\t1.0", "SSH: appNameAndVersion contains invalid characters"},
      {"App\x7f", "SSH: appNameAndVersion contains invalid characters"},
      {"App\r\n", "SSH: appNameAndVersion contains invalid characters"},
      {fits + "a", "SSH: appNameAndVersion is too large"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sshtest::caughtErr([&] { SSH::makeVersionString(c.text); }),
              (sshtest::Caught{2, c.error}))
        << c.text;
}

TEST(SSHVersionInfo, PeerLineParts) {
  struct Case {
    std::string line, protocol, software, comments;
  };
  const Case cases[] = {
      {"SSH-1.99-Name_1", "1.99", "Name_1", ""},
      {"SSH-2.0-x y z", "2.0", "x", "y z"},
      {"SSH-3.0-future", "3.0", "future", ""},
      {"SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3", "2.0", "OpenSSH_9.2p1", "Debian-2+deb12u3"},
      {"SSH-2.0", "2.0", "", ""},
      {"SSH-2.0-", "2.0", "", ""},
  };
  for (const auto& c : cases) {
    const SSH::VersionInfo v = SSH::parseVersionLine(c.line);
    EXPECT_EQ(v, SSH::VersionInfo(c.protocol, c.software, c.comments, c.line)) << c.line;
  }
}

TEST(SSHVersionInfo, OldProtocolsAreRefused) {
  for (const char* line : {"SSH-1.5-old", "SSH--x", "SSH-1-x", "SSH-1.99x-x"})
    EXPECT_EQ(disconnectOf([&] { SSH::parseVersionLine(line); }), "protocol version not supported")
        << line;
}

}  // namespace
