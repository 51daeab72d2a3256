// Upgrade files are signed with openssl, as a publisher would, and checked
// under keys made for the test run.
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ExternalTool.h"
#include "support/TestSupport.h"
#include "update_agent/uaVerifyUpgradeFile.h"

namespace {

using tw::test::readFileBytes;
using tw::test::runTool;
using tw::test::shellQuote;
using tw::test::writeFileBytes;

std::string toHex(const std::string& bytes, bool upper = true) {
  std::string text;
  CryptoPP::StringSource(bytes, true,
                         new CryptoPP::HexEncoder(new CryptoPP::StringSink(text), upper));
  return text;
}

std::string fromHex(const std::string& text) {
  std::string bytes;
  CryptoPP::StringSource(text, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

struct TestKey {
  std::string pem;      // private key file
  std::string keyText;  // public key as hex DER
};

class UpgradeSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!tw::test::haveTool("openssl")) return;
    dir_ = std::make_unique<tw::test::ScratchDir>();
    keyA_ = makeKey("a");
    keyB_ = makeKey("b");
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "openssl not found";
    ASSERT_FALSE(keyA_.keyText.empty());
    ASSERT_FALSE(keyB_.keyText.empty());
    // Several read blocks long, with NUL and high bytes.
    payload_.resize(70000);
    for (size_t i = 0; i < payload_.size(); ++i) payload_[i] = static_cast<char>((i * 131) % 256);
    filePath_ = dir_->file("upgrade.msi");
    writeFileBytes(filePath_, payload_);
  }

  static TestKey makeKey(const std::string& name) {
    TestKey key;
    const std::string pem = dir_->file(name + ".pem");
    const std::string der = dir_->file(name + ".der");
    if (runTool("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " +
                shellQuote(pem) + " 2>/dev/null") != 0 ||
        runTool("openssl pkey -in " + shellQuote(pem) + " -pubout -outform DER -out " +
                shellQuote(der)) != 0)
      return key;
    key.pem = pem;
    key.keyText = toHex(readFileBytes(der));
    return key;
  }

  // Hex text of an openssl signature over path; extra picks digest and padding.
  static std::string sign(const TestKey& key, const std::string& path,
                          const std::string& extra = "-sha1") {
    const std::string sig = path + ".sig";
    const int rc = runTool("openssl dgst " + extra + " -sign " + shellQuote(key.pem) + " -out " +
                           shellQuote(sig) + " " + shellQuote(path));
    EXPECT_EQ(rc, 0) << "openssl dgst " << extra;
    return rc == 0 ? toHex(readFileBytes(sig)) : std::string();
  }

  static bool verify(const std::string& path, const std::string& signature) {
    return uaVerifyUpgradeFileWithKey(keyA_.keyText, path, signature);
  }

  static inline std::unique_ptr<tw::test::ScratchDir> dir_;
  static inline TestKey keyA_;
  static inline TestKey keyB_;
  std::string payload_;
  std::string filePath_;
};

TEST_F(UpgradeSignatureTest, SignatureTextCases) {
  const std::string good = sign(keyA_, filePath_);
  ASSERT_EQ(good.size(), 512u);
  std::string flipped = fromHex(good);
  flipped[100] = static_cast<char>(flipped[100] ^ 0x01);
  std::string lower = toHex(fromHex(good), false);
  const std::string emptyFile = dir_->file("other.bin");
  writeFileBytes(emptyFile, "");

  struct Case {
    const char* name;
    std::string text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"upper-case digits", good, true},
      {"lower-case digits", lower, true},
      {"signed by another key", sign(keyB_, filePath_), false},
      {"SHA-256 digest", sign(keyA_, filePath_, "-sha256"), false},
      {"PSS padding", sign(keyA_, filePath_, "-sha1 -sigopt rsa_padding_mode:pss"), false},
      {"signature of another file", sign(keyA_, emptyFile), false},
      {"one signature bit changed", toHex(flipped), false},
      {"truncated to 510 digits", good.substr(0, 510), false},
      {"extended to 514 digits", good + "00", false},
      {"odd length 511", good.substr(0, 511), false},
      {"odd length 513", good + "0", false},
      {"non-hex digit", good.substr(0, 511) + "G", false},
      {"separators between digits", good.substr(0, 256) + " " + good.substr(256), false},
      {"empty", "", false},
      {"all zero", std::string(512, '0'), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(verify(filePath_, c.text), c.valid) << c.name;
  }
}

TEST_F(UpgradeSignatureTest, ChangedFileFails) {
  const std::string good = sign(keyA_, filePath_);
  ASSERT_TRUE(verify(filePath_, good));

  struct Change {
    const char* name;
    std::string bytes;
  };
  auto flipAt = [&](size_t i) {
    std::string b = payload_;
    b[i] = static_cast<char>(b[i] ^ 0x80);
    return b;
  };
  const std::vector<Change> changes = {
      {"first byte changed", flipAt(0)},
      {"middle byte changed", flipAt(payload_.size() / 2)},
      {"last byte changed", flipAt(payload_.size() - 1)},
      {"last byte dropped", payload_.substr(0, payload_.size() - 1)},
      {"one byte appended", payload_ + '\0'},
      {"emptied", ""},
  };
  const std::string changed = dir_->file("changed.msi");
  for (const Change& c : changes) {
    writeFileBytes(changed, c.bytes);
    EXPECT_FALSE(verify(changed, good)) << c.name;
  }
}

TEST_F(UpgradeSignatureTest, EmptyFileSignedProperlyVerifies) {
  const std::string path = dir_->file("empty.bin");
  writeFileBytes(path, "");
  EXPECT_TRUE(verify(path, sign(keyA_, path)));
}

TEST_F(UpgradeSignatureTest, UnreadablePathsFail) {
  const std::string good = sign(keyA_, filePath_);
  EXPECT_FALSE(verify(dir_->file("missing.msi"), good));
  EXPECT_FALSE(verify(dir_->path(), good)) << "a folder";
  // A read error must not pass for the end of an empty file.
  const std::string empty = dir_->file("empty.bin");
  writeFileBytes(empty, "");
  const std::string emptySignature = sign(keyA_, empty);
  ASSERT_TRUE(verify(empty, emptySignature));
  EXPECT_FALSE(verify(dir_->path(), emptySignature)) << "a folder read as empty";
  EXPECT_FALSE(verify("", good));
  // The name up to the NUL is the signed file, but the path as given is not.
  EXPECT_FALSE(verify(filePath_ + std::string(1, '\0') + ".evil", good));
}

TEST_F(UpgradeSignatureTest, MalformedKeyTextFails) {
  const std::string good = sign(keyA_, filePath_);
  const std::string& key = keyA_.keyText;
  const std::vector<std::pair<const char*, std::string>> keys = {
      {"empty", ""},
      {"truncated DER", key.substr(0, key.size() - 2)},
      {"odd length", key.substr(0, key.size() - 1)},
      {"non-hex digit", key.substr(0, key.size() - 1) + "Z"},
      {"garbage", std::string(584, 'F')},
  };
  for (const auto& [name, text] : keys) {
    EXPECT_FALSE(uaVerifyUpgradeFileWithKey(text, filePath_, good)) << name;
  }
}

TEST_F(UpgradeSignatureTest, PublicEntryUsesBuiltInKey) {
  const std::string good = sign(keyA_, filePath_);
  ASSERT_TRUE(verify(filePath_, good));
  EXPECT_FALSE(uaVerifyUpgradeFile(filePath_, good));
}

// The hex DER text of a public key file as the build takes it (PEM or hex).
std::string keyFileText(const std::string& file, const tw::test::ScratchDir& dir) {
  const std::string content = readFileBytes(file);
  if (content.find("-----BEGIN PUBLIC KEY-----") == std::string::npos) {
    std::string hex;
    for (char c : content)
      if (!std::isspace(static_cast<unsigned char>(c)))
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
  }
  const std::string der = dir.file("key.der");
  EXPECT_EQ(runTool("openssl pkey -pubin -in " + shellQuote(file) + " -outform DER -out " +
                    shellQuote(der)),
            0);
  return toHex(readFileBytes(der));
}

TEST(UpgradePublicKey, IsTheKeyTheBuildWasGivenOrNone) {
  if (!tw::test::haveTool("openssl")) GTEST_FAIL() << "openssl is needed to check the key";
  tw::test::ScratchDir dir;
  const std::string& text = uaUpgradePublicKeyText();
  EXPECT_EQ(&uaUpgradePublicKeyText(), &text) << "built once";
  // A file signed with the tests' own private key.
  const std::string file = dir.file("upgrade.msi");
  writeFileBytes(file, "package bytes");
  const std::string sig = dir.file("upgrade.sig");
  ASSERT_EQ(runTool("openssl dgst -sha1 -sign " + shellQuote(TW_TEST_UPGRADE_PRIVATE_KEY) +
                    " -out " + shellQuote(sig) + " " + shellQuote(file)),
            0);
  const std::string signature = toHex(readFileBytes(sig));

  const std::string keyFile = TW_UPGRADE_PUBLIC_KEY_FILE;
  if (keyFile.empty()) {
    // Built without a key: no upgrade can ever verify.
    EXPECT_EQ(text, "");
    EXPECT_FALSE(uaVerifyUpgradeFile(file, signature));
    return;
  }
  EXPECT_EQ(text, keyFileText(keyFile, dir));
  ASSERT_EQ(text.size(), 584u);
  for (char c : text) {
    ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << "digit '" << c << "'";
  }
  CryptoPP::RSA::PublicKey key;
  CryptoPP::StringSource source(fromHex(text), true);
  key.Load(source);
  EXPECT_EQ(key.GetModulus().BitCount(), 2048u);
  CryptoPP::AutoSeededRandomPool random;
  EXPECT_TRUE(key.Validate(random, 3));
  // Verifies exactly when the build was given the tests' own public key.
  const bool testKey = text == keyFileText(TW_TEST_UPGRADE_PUBLIC_KEY, dir);
  EXPECT_EQ(uaVerifyUpgradeFile(file, signature), testKey);
}

TEST(UpgradeKeyScript, MakesAPairAndSignsForTheAgent) {
  if (!tw::test::haveTool("openssl")) GTEST_FAIL() << "openssl is needed by the script";
  tw::test::ScratchDir dir;
  const std::string script = std::string(TW_SOURCE_DIR) + "/scripts/upgrade-key.sh";
  const std::string keys = dir.file("keys");
  ASSERT_EQ(runTool("bash " + shellQuote(script) + " new " + shellQuote(keys) + " >/dev/null"), 0);
  const std::string privateKey = keys + "/upgrade-private.pem";
  EXPECT_EQ(std::filesystem::status(privateKey).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // A second run never replaces the pair.
  EXPECT_NE(runTool("bash " + shellQuote(script) + " new " + shellQuote(keys) + " 2>/dev/null"), 0);
  const std::string text = keyFileText(keys + "/upgrade-public.pem", dir);
  EXPECT_EQ(text.size(), 584u);

  const std::string file = dir.file("upgrade.msi");
  writeFileBytes(file, "package bytes");
  const std::string out = dir.file("signature.txt");
  ASSERT_EQ(runTool("bash " + shellQuote(script) + " sign " + shellQuote(privateKey) + " " +
                    shellQuote(file) + " > " + shellQuote(out)),
            0);
  std::string signature = readFileBytes(out);
  ASSERT_FALSE(signature.empty());
  EXPECT_EQ(signature.back(), '\n');
  signature.pop_back();
  EXPECT_EQ(signature.size(), 512u);
  EXPECT_TRUE(uaVerifyUpgradeFileWithKey(text, file, signature));
  writeFileBytes(file, "package bytes!");
  EXPECT_FALSE(uaVerifyUpgradeFileWithKey(text, file, signature));
}

// The build takes only the kind of key the agent can use; any other stops the
// configure step with a message that says so, instead of building an agent
// that refuses every upgrade.
TEST(UpgradeKeyBuildCheck, OnlyRsa2048WithExponent17IsTaken) {
  if (!tw::test::haveTool("openssl") || !tw::test::haveTool("cmake"))
    GTEST_FAIL() << "openssl makes the keys, cmake runs the check";
  tw::test::ScratchDir dir;
  const auto publicKey = [&](const std::string& name, const std::string& options) {
    const std::string privateKey = dir.file(name + ".key");
    const std::string file = dir.file(name + ".pem");
    EXPECT_EQ(runTool("openssl genpkey " + options + " -out " + shellQuote(privateKey) +
                      " 2>/dev/null && openssl pkey -in " + shellQuote(privateKey) +
                      " -pubout -out " + shellQuote(file)),
              0);
    return file;
  };
  const std::string hexKey = dir.file("test-key.hex");
  writeFileBytes(hexKey, keyFileText(TW_TEST_UPGRADE_PUBLIC_KEY, dir) + "\n");
  const std::string notAKey = dir.file("private.pem");
  writeFileBytes(notAKey, readFileBytes(TW_TEST_UPGRADE_PRIVATE_KEY));
  const std::string wrongKind = "is not an RSA public key of 2048 bits with exponent 17";
  struct Case {
    std::string file;
    std::string says;  // empty: taken
  };
  const std::vector<Case> cases = {
      {TW_TEST_UPGRADE_PUBLIC_KEY, ""},
      {hexKey, ""},
      {publicKey("e65537", "-algorithm RSA -pkeyopt rsa_keygen_bits:2048"), wrongKind},
      {publicKey("rsa3072", "-algorithm RSA -pkeyopt rsa_keygen_bits:3072 "
                            "-pkeyopt rsa_keygen_pubexp:17"),
       wrongKind},
      {publicKey("ec", "-algorithm EC -pkeyopt ec_paramgen_curve:P-256"), wrongKind},
      {notAKey, "is neither a PEM public key nor hex DER"}};
  const std::string script = std::string(TW_SOURCE_DIR) + "/cmake/UpgradeKey.cmake";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string out;
    const int status =
        runTool("cmake -DUA_KEY_FILE=" + shellQuote(c.file) + " -P " + shellQuote(script) + " 2>&1",
                &out);
    // CMake wraps its messages: compared with the blanks folded.
    std::string folded;
    for (char ch : out) {
      if (std::isspace(static_cast<unsigned char>(ch))) {
        if (!folded.empty() && folded.back() != ' ') folded += ' ';
      } else {
        folded += ch;
      }
    }
    if (c.says.empty()) {
      EXPECT_EQ(status, 0) << out;
      EXPECT_NE(folded.find("Upgrade public key: " + c.file), std::string::npos) << out;
    } else {
      EXPECT_NE(status, 0) << out;
      EXPECT_NE(folded.find(c.says), std::string::npos) << out;
    }
  }
}

}  // namespace
