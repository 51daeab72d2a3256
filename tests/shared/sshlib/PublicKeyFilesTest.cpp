#include "sshlib/PublicKeyFiles.h"

#include <cryptopp/base64.h>
#include <gtest/gtest.h>

#include "KeyTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Encoding.h"
#include "sshlib/Fingerprints.h"
#include "sshlib/KeyBlobs.h"

namespace {

using sshtest::contents;
using sshtest::errorOf;
using sshtest::queueOf;

using sshtest::rsaBlob;

std::string ssh2File(const std::string& comment, const std::string& blob) {
  CryptoPP::ByteQueue q;
  SSH::writeSsh2PublicKeyFile(q, comment, blob);
  return contents(q);
}

TEST(SSHPublicKeyFiles, LongCommentHeaderIsContinued) {
  const std::string comment(100, 'c');
  const std::string text = ssh2File(comment + "\x01\n", rsaBlob());
  const std::string expected = "---- BEGIN SSH2 PUBLIC KEY ----\n"
                               "Comment: \"" + std::string(61, 'c') + "\\\n" +
                               std::string(39, 'c') + "\"\n";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  // Base64 lines of at most 72 characters, then the END line.
  size_t at = expected.size();
  for (size_t eol; (eol = text.find('\n', at)) != std::string::npos; at = eol + 1)
    EXPECT_LE(eol - at, 72u);
  EXPECT_EQ(text.substr(text.size() - 30), "---- END SSH2 PUBLIC KEY ----\n");
}

TEST(SSHPublicKeyFiles, HeaderSplitAtExactly72) {
  // "Comment: \"" and the quote make 11; 61 characters of comment fill 72.
  EXPECT_NE(ssh2File(std::string(61, 'c'), rsaBlob()).find("\"" + std::string(61, 'c') + "\"\n"),
            std::string::npos);
  const std::string split = ssh2File(std::string(62, 'c'), rsaBlob());
  EXPECT_NE(split.find("\\\nc\"\n"), std::string::npos) << split;
  EXPECT_EQ(ssh2File("", rsaBlob()).find("Comment"), std::string::npos);
}

TEST(SSHPublicKeyFiles, AllThreeFormsReadToOneRecord) {
  const std::string blob = rsaBlob();
  CryptoPP::ByteQueue line;
  SSH::writePublicKeyLine(line, "ssh-rsa", "me@host\t", blob);
  const std::string lineText = contents(line);
  EXPECT_EQ(lineText.back(), '\n');
  EXPECT_EQ(lineText.substr(lineText.size() - 9), " me@host\n");

  for (const std::string& input : {blob, lineText, ssh2File(std::string(100, 'c'), blob),
                                   "junk\n" + ssh2File("x", blob) + "after\n"}) {
    auto in = queueOf(input);
    const SSH::PublicKeyInfo info = SSH::readPublicKey(in);
    EXPECT_EQ(info.blob, blob);
    EXPECT_EQ(info.algorithm, "ssh-rsa");
    EXPECT_EQ(info.bits, 1024u);
    EXPECT_EQ(info.md5Fingerprint, SSH::md5Fingerprint(blob));
    EXPECT_EQ(info.bubbleBabbleFingerprint, SSH::bubbleBabbleFingerprint(blob));
  }
}

TEST(SSHPublicKeyFiles, DsaKeySizeIsThatOfP) {
  auto q = queueOf(sshtest::dsaBlob());
  const SSH::PublicKeyInfo info = SSH::readPublicKey(q);
  EXPECT_EQ(info.algorithm, "ssh-dss");
  EXPECT_EQ(info.bits, 1024u);
}

TEST(SSHPublicKeyFiles, Refusals) {
  std::string ed25519Blob;
  {
    CryptoPP::ByteQueue q;
    SSH::putStdString(q, "ssh-ed25519");
    SSH::putStdString(q, std::string(32, 'k'));
    ed25519Blob = contents(q);
  }
  std::string ed25519Line;
  CryptoPP::StringSource(ed25519Blob, true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(ed25519Line), false));
  const std::string blob = rsaBlob();
  struct Case {
    std::string input, error;
  };
  const Case cases[] = {
      {"ssh-rsa", "SSH: insufficient data for key blob"},
      {"", "SSH: insufficient data for key blob"},
      {"ssh-rsa-without-any-blank-in-it", "SSH: invalid key blob encoding"},
      {"ssh-ed25519 " + ed25519Line + " c\n", "SSH: unsupported public key algorithm"},
      {blob.substr(0, 40), "SSH: cannot read key blob"},
      {"---- BEGIN SSH2 PUBLIC KEY ----\nAAAA\n", "SSH: cannot read key blob"},
      {"just some text\nand more\n", "SSH: cannot read key blob"},
  };
  for (const auto& c : cases) {
    auto in = queueOf(c.input);
    EXPECT_EQ(errorOf([&] { SSH::readPublicKey(in); }), c.error) << c.input;
  }
}

TEST(SSHPublicKeyFiles, StripControlCharacters) {
  EXPECT_EQ(SSH::stripControlCharacters(std::string("a\0b\x1f\n c\x7f", 8)), "ab c\x7f");
}

}  // namespace
