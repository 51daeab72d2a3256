// Key files against the independent implementations: OpenSSH's ssh-keygen
// and OpenSSL read what we write, and we read what they write.
#include <cryptopp/base64.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "KeyTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Encoding.h"
#include "sshlib/KeyFiles.h"
#include "sshlib/PublicKeyFiles.h"
#include "support/TestSupport.h"

namespace {

using sshtest::bytePtr;
using sshtest::contents;
using sshtest::errorOf;
using sshtest::queueOf;
using tw::test::readFileBytes;
using tw::test::runTool;
using tw::test::shellQuote;

// Field 2 (the Base64 blob) of a one-line public key, decoded.
std::string blobOfLine(const std::string& line) {
  std::istringstream words(line);
  std::string algorithm, base64;
  words >> algorithm >> base64;
  std::string blob;
  CryptoPP::StringSource(base64, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(blob)));
  return blob;
}

std::string run(const std::string& command) {
  std::string out;
  EXPECT_EQ(runTool(command + " 2>&1", &out), 0) << command << "\n" << out;
  return out;
}

SSH::LoadedPrivateKey loadFile(const std::string& path, const std::string& pass = "") {
  auto in = queueOf(readFileBytes(path));
  return SSH::loadPrivateKey(in, bytePtr(pass), pass.size());
}

class SSHKeyFilesPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    SSH_REQUIRE_TOOL("ssh-keygen");
    SSH_REQUIRE_TOOL("openssl");
  }
  std::string file(const std::string& name) const { return scratch.file(name); }
  std::string quoted(const std::string& name) const { return shellQuote(file(name)); }

  // Exports a key into name (PEM), name.pub (one line) and name.ssh2.
  std::string exportTo(const std::string& name, const std::string& algorithm,
                       const std::string& pass) {
    CryptoPP::ByteQueue ssh2, line, pem;
    SSH::exportKey(algorithm, sshtest::rng(), 1024, "tester@example", ssh2, line, bytePtr(pass),
                   pass.size(), pem);
    SSH::writeKeyFile(file(name), contents(pem), true);
    SSH::writeKeyFile(file(name + ".pub"), contents(line), false);
    SSH::writeKeyFile(file(name + ".ssh2"), contents(ssh2), false);
    return blobOfLine(contents(line));
  }

  tw::test::ScratchDir scratch;
};

TEST_F(SSHKeyFilesPeer, KeysMadeBySshKeygenReadBackWithTheirFingerprints) {
  for (const std::string type : {"rsa", "dsa"}) {
    run("ssh-keygen -q -t " + type + " -m PEM -N '' -C peer -f " + quoted(type));
    const std::string pubLine = readFileBytes(file(type + ".pub"));
    const SSH::LoadedPrivateKey key = loadFile(file(type));
    EXPECT_EQ(key.algorithm, type == "rsa" ? "ssh-rsa" : "ssh-dss");
    EXPECT_EQ(key.publicKeyBlob(), blobOfLine(pubLine)) << type;

    auto in = queueOf(pubLine);
    const SSH::PublicKeyInfo info = SSH::readPublicKey(in);
    EXPECT_NE(run("ssh-keygen -l -E md5 -f " + quoted(type + ".pub")).find(" MD5:" + info.md5Fingerprint + " "),
              std::string::npos);
    EXPECT_NE(run("ssh-keygen -B -f " + quoted(type + ".pub")).find(" " + info.bubbleBabbleFingerprint + " "),
              std::string::npos);
    const std::string bits = run("ssh-keygen -l -f " + quoted(type + ".pub"));
    EXPECT_EQ(bits.substr(0, bits.find(' ')), std::to_string(info.bits));
  }
}

TEST_F(SSHKeyFilesPeer, Des3PemWrittenByOpenSslReads) {
  run("ssh-keygen -q -t rsa -b 1024 -m PEM -N '' -f " + quoted("plain"));
  run("openssl pkey -in " + quoted("plain") + " -traditional -des3 -passout pass:secret -out " +
      quoted("des3"));
  ASSERT_NE(readFileBytes(file("des3")).find("DEK-Info: DES-EDE3-CBC,"), std::string::npos);
  EXPECT_EQ(loadFile(file("des3"), "secret").publicKeyBlob(), loadFile(file("plain")).publicKeyBlob());
}

TEST_F(SSHKeyFilesPeer, OurRsaKeysAreAcceptedPlainAndEncrypted) {
  for (const std::string pass : {"", "secret"}) {
    const std::string blob = exportTo("id_rsa", "ssh-rsa", pass);
    const std::string passIn = pass.empty() ? "" : " -passin pass:" + pass;
    EXPECT_NE(run("openssl rsa -check -noout -in " + quoted("id_rsa") + passIn).find("RSA key ok"),
              std::string::npos);
    EXPECT_EQ(blobOfLine(run("ssh-keygen -y -P " + shellQuote(pass) + " -f " + quoted("id_rsa"))), blob);
    EXPECT_EQ(blobOfLine(run("ssh-keygen -i -m RFC4716 -f " + quoted("id_rsa.ssh2"))), blob);
    // e is 17, as the blob's second field shows.
    auto q = queueOf(blob);
    std::string name;
    CryptoPP::Integer e;
    SSH::getStdString(q, name);
    SSH::getMPInt(q, e);
    EXPECT_EQ(e, CryptoPP::Integer(17));
    EXPECT_EQ(loadFile(file("id_rsa"), pass).publicKeyBlob(), blob);
  }
}

TEST_F(SSHKeyFilesPeer, OurDsaKeysAreAccepted) {
  const std::string blob = exportTo("id_dsa", "ssh-dss", "secret");
  run("openssl dsa -noout -in " + quoted("id_dsa") + " -passin pass:secret");
  EXPECT_EQ(blobOfLine(run("ssh-keygen -y -P secret -f " + quoted("id_dsa"))), blob);
  EXPECT_EQ(blobOfLine(run("ssh-keygen -i -m RFC4716 -f " + quoted("id_dsa.ssh2"))), blob);

  auto in = queueOf(readFileBytes(file("id_dsa.pub")));
  const SSH::PublicKeyInfo info = SSH::readPublicKey(in);
  EXPECT_NE(run("ssh-keygen -l -E md5 -f " + quoted("id_dsa.pub")).find("MD5:" + info.md5Fingerprint),
            std::string::npos);
  EXPECT_NE(run("ssh-keygen -B -f " + quoted("id_dsa.pub")).find(info.bubbleBabbleFingerprint),
            std::string::npos);
}

TEST_F(SSHKeyFilesPeer, OtherPrivateKeyFormatsAreRefusedClearly) {
  run("ssh-keygen -q -t rsa -b 1024 -N '' -f " + quoted("openssh"));  // OpenSSH's own format
  run("ssh-keygen -q -t rsa -b 1024 -m PEM -N '' -f " + quoted("plain"));
  run("openssl pkey -in " + quoted("plain") + " -out " + quoted("pkcs8"));
  run("openssl pkey -in " + quoted("plain") + " -traditional -aes128 -passout pass:x -out " +
      quoted("aes"));
  ASSERT_NE(readFileBytes(file("openssh")).find("BEGIN OPENSSH PRIVATE KEY"), std::string::npos);
  ASSERT_NE(readFileBytes(file("pkcs8")).find("BEGIN PRIVATE KEY"), std::string::npos);
  EXPECT_EQ(errorOf([&] { loadFile(file("openssh")); }), "SSH: unrecognized private key algorithm");
  EXPECT_EQ(errorOf([&] { loadFile(file("pkcs8")); }), "SSH: unrecognized private key algorithm");
  EXPECT_EQ(errorOf([&] { loadFile(file("aes"), "x"); }), "SSH: unsupported encryption algorithm");
}

TEST_F(SSHKeyFilesPeer, ExportRefusals) {
  CryptoPP::ByteQueue a, b, c;
  auto exportWith = [&](const char* algorithm, unsigned bits) {
    return errorOf([&] { SSH::exportKey(algorithm, sshtest::rng(), bits, "", a, b, nullptr, 0, c); });
  };
  EXPECT_EQ(exportWith("ssh-ed25519", 256), "SSH: unrecognized algorithm id");
  EXPECT_EQ(exportWith("ssh-rsa", 512), "SSH: invalid key size");
  EXPECT_EQ(exportWith("ssh-dss", 2048), "SSH: invalid key size");
  EXPECT_EQ(a.MaxRetrievable() + b.MaxRetrievable() + c.MaxRetrievable(), 0u) << "nothing written";
}

TEST_F(SSHKeyFilesPeer, PrivateKeyFilesAreOwnerOnly) {
  SSH::writeKeyFile(file("secret"), "key", true);
  SSH::writeKeyFile(file("public"), "pub", false);
  struct stat st {};
  ASSERT_EQ(::stat(file("secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777u, 0600u);
  EXPECT_EQ(readFileBytes(file("secret")), "key");
  EXPECT_EQ(errorOf([&] { SSH::writeKeyFile(file("missing/dir/key"), "k", true); }),
            "SSH: cannot write key file \"" + file("missing/dir/key") + "\"");
}

}  // namespace
