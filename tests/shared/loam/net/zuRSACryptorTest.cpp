// The RSA key pair and the OAEP (SHA-1) wrap of the session key block, checked
// against openssl as an independent peer in both directions.
#include <cryptopp/drbg.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "loam/net/zuRSACryptor.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using tw::test::runTool;
using tw::test::shellQuote;

constexpr u32 kBlock = 64;
constexpr size_t kBlock1024 = 128;

std::vector<u8> randomBytes(size_t n) {
  CryptoPP::AutoSeededRandomPool pool;
  std::vector<u8> bytes(n);
  pool.GenerateBlock(bytes.data(), bytes.size());
  return bytes;
}

std::string asString(const std::vector<u8>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}
std::vector<u8> asBytes(const std::string& s) { return std::vector<u8>(s.begin(), s.end()); }

std::string decodeHex(const std::string& hex) {
  std::string bytes;
  CryptoPP::StringSource(hex, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

CryptoPP::RSA::PublicKey publicKeyOf(const std::string& text) {
  CryptoPP::RSA::PublicKey key;
  CryptoPP::StringSource der(decodeHex(text), true);
  key.BERDecode(der);
  return key;
}

// A generator that always fails, as an unreadable random device does.
class FailingRandom : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(CryptoPP::byte*, size_t) override {
    throw CryptoPP::OS_RNG_Err("random device not readable");
  }
};

// Repeatable randomness for the test seam.
std::unique_ptr<CryptoPP::Hash_DRBG<>> seededRandom(u8 seed) {
  std::vector<u8> entropy(32, seed);
  return std::make_unique<CryptoPP::Hash_DRBG<>>(entropy.data(), entropy.size());
}

bool haveTools() { return tw::test::haveTool("openssl") && tw::test::haveTool("xxd"); }
constexpr const char* kNoTools =
    "openssl and xxd are needed as the independent peer (Debian packages openssl and xxd)";

const char* kOaep = " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha1";

// One key pair for the whole suite: generating costs far more than using it.
class RSACryptorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pair_ = new zuRSACryptor;
    // Whatever size is asked for, the pair is 1024 bits.
    ASSERT_TRUE(pair_->generateKeys(2048));
  }
  static void TearDownTestSuite() {
    delete pair_;
    pair_ = nullptr;
  }

  // Writes a hex key text as DER through xxd, as a peer would hold it.
  std::string derFile(const std::string& name, const std::string& hexText) {
    const std::string hexPath = dir_.file(name + ".hex");
    const std::string derPath = dir_.file(name + ".der");
    tw::test::writeFileBytes(hexPath, hexText);
    EXPECT_EQ(runTool("xxd -r -p " + shellQuote(hexPath) + " " + shellQuote(derPath)), 0);
    return derPath;
  }

  std::vector<u8> wrap(const std::vector<u8>& plain) const {
    std::vector<u8> block;
    EXPECT_NE(pair_->encrypt(plain.data(), static_cast<u32>(plain.size()), block), 0);
    return block;
  }

  static zuRSACryptor* pair_;
  tw::test::ScratchDir dir_;
};

zuRSACryptor* RSACryptorTest::pair_ = nullptr;

TEST_F(RSACryptorTest, GeneratedPairIs1024BitsWithExponent17AsUpperCaseHexDer) {
  EXPECT_EQ(pair_->keySize, 1024);
  for (const std::string* text : {&pair_->privateKey, &pair_->publicKey}) {
    ASSERT_FALSE(text->empty());
    EXPECT_TRUE(std::all_of(text->begin(), text->end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    })) << *text;
  }

  const CryptoPP::RSA::PublicKey pub = publicKeyOf(pair_->publicKey);
  EXPECT_EQ(pub.GetModulus().BitCount(), 1024u);
  EXPECT_EQ(pub.GetPublicExponent(), CryptoPP::Integer(17L));

  CryptoPP::RSA::PrivateKey priv;
  CryptoPP::StringSource der(decodeHex(pair_->privateKey), true);
  priv.BERDecode(der);
  CryptoPP::AutoSeededRandomPool rng;
  EXPECT_TRUE(priv.Validate(rng, 3));
  EXPECT_EQ(priv.GetModulus(), pub.GetModulus());
}

TEST(RSACryptorGenerate, MakesA1024BitPairWhateverSizeIsAsked) {
  for (u32 asked : {0u, 512u, 4096u}) {
    zuRSACryptor cryptor;
    EXPECT_EQ(cryptor.keySize, 0);
    ASSERT_TRUE(cryptor.generateKeys(asked)) << asked;
    EXPECT_EQ(cryptor.keySize, 1024) << asked;
    EXPECT_EQ(publicKeyOf(cryptor.publicKey).GetModulus().BitCount(), 1024u) << asked;
  }
}

TEST_F(RSACryptorTest, OpenSslReadsTheGeneratedKeys) {
  if (!haveTools()) GTEST_SKIP() << kNoTools;
  std::string text;
  ASSERT_EQ(runTool("openssl pkey -pubin -inform DER -text -noout -in " +
                        shellQuote(derFile("pub", pair_->publicKey)),
                    &text),
            0);
  EXPECT_NE(text.find("Public-Key: (1024 bit)"), std::string::npos) << text;
  EXPECT_NE(text.find("Exponent: 17 (0x11)"), std::string::npos) << text;

  text.clear();
  ASSERT_EQ(runTool("openssl pkey -inform DER -check -noout -in " +
                        shellQuote(derFile("priv", pair_->privateKey)) + " 2>&1",
                    &text),
            0)
      << text;
  EXPECT_NE(text.find("Key is valid"), std::string::npos) << text;
}

TEST_F(RSACryptorTest, OpenSslWrapIsUnwrappedByUs) {
  if (!haveTools()) GTEST_SKIP() << kNoTools;
  const std::vector<u8> keyBlock = randomBytes(kBlock);
  tw::test::writeFileBytes(dir_.file("plain"), asString(keyBlock));
  ASSERT_EQ(runTool("openssl pkeyutl -encrypt -pubin -keyform DER -inkey " +
                    shellQuote(derFile("pub", pair_->publicKey)) + kOaep + " -in " +
                    shellQuote(dir_.file("plain")) + " -out " + shellQuote(dir_.file("wrapped"))),
            0);
  const std::vector<u8> wrapped = asBytes(tw::test::readFileBytes(dir_.file("wrapped")));
  ASSERT_EQ(wrapped.size(), kBlock1024);

  // The server unwraps with the copy of the key texts its accepted endpoint got.
  zuRSACryptor accepted;
  accepted.privateKey = pair_->privateKey;
  accepted.publicKey = pair_->publicKey;
  std::vector<u8> out(kBlock);
  ASSERT_EQ(accepted.decrypt(wrapped.data(), static_cast<u32>(wrapped.size()), out.data(), kBlock),
            kBlock);
  EXPECT_EQ(out, keyBlock);
}

TEST_F(RSACryptorTest, OurWrapIsUnwrappedByOpenSsl) {
  if (!haveTools()) GTEST_SKIP() << kNoTools;
  const std::vector<u8> keyBlock = randomBytes(kBlock);
  zuRSACryptor client;
  client.publicKey = pair_->publicKey;
  std::vector<u8> wrapped;
  ASSERT_EQ(client.encrypt(keyBlock.data(), kBlock, wrapped), kBlock1024);
  ASSERT_EQ(wrapped.size(), kBlock1024);

  tw::test::writeFileBytes(dir_.file("wrapped"), asString(wrapped));
  ASSERT_EQ(runTool("openssl pkeyutl -decrypt -keyform DER -inkey " +
                    shellQuote(derFile("priv", pair_->privateKey)) + kOaep + " -in " +
                    shellQuote(dir_.file("wrapped")) + " -out " + shellQuote(dir_.file("plain"))),
            0);
  EXPECT_EQ(asBytes(tw::test::readFileBytes(dir_.file("plain"))), keyBlock);

  // OAEP is randomised: the same block never wraps the same way twice.
  std::vector<u8> again;
  ASSERT_EQ(client.encrypt(keyBlock.data(), kBlock, again), kBlock1024);
  EXPECT_NE(again, wrapped);
}

// The server chooses its key; the client must size the wrapped block from it.
// The largest is the largest whose text still fits the handshake's 2048-byte
// length field: 7888 bits (four primes keep openssl quick), a 986-byte block.
TEST(RSACryptorPeerKeys, WrapsUnderPeerKeysOfEverySize) {
  if (!haveTools()) GTEST_SKIP() << kNoTools;
  struct Case {
    int bits;
    int primes;
    u16 blockLength;  // 0: too small to carry the 64-byte block
  };
  const Case cases[] = {
      {512, 2, 0}, {1024, 2, 128}, {2048, 2, 256}, {4096, 2, 512}, {7888, 4, 986}};
  tw::test::ScratchDir dir;
  const std::string key = shellQuote(dir.file("key.der"));
  const std::string pub = shellQuote(dir.file("pub.der"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    ASSERT_EQ(runTool("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" +
                      std::to_string(c.bits) + " -pkeyopt rsa_keygen_primes:" +
                      std::to_string(c.primes) + " -outform DER -out " + key + " 2>/dev/null"),
              0);
    ASSERT_EQ(runTool("openssl pkey -inform DER -in " + key + " -pubout -outform DER -out " + pub),
              0);
    std::string hex;
    ASSERT_EQ(runTool("xxd -p " + pub, &hex), 0);
    hex.erase(std::remove(hex.begin(), hex.end(), '\n'), hex.end());
    ASSERT_LE(hex.size(), 2048u);
    if (c.bits == 7888) {
      EXPECT_EQ(hex.size(), 2048u);
    }

    zuRSACryptor client;
    client.publicKey = hex;  // xxd writes lower case; any case decodes
    const std::vector<u8> keyBlock = randomBytes(kBlock);
    std::vector<u8> wrapped;
    ASSERT_EQ(client.encrypt(keyBlock.data(), kBlock, wrapped), c.blockLength);
    ASSERT_EQ(wrapped.size(), c.blockLength);
    if (c.blockLength == 0) continue;

    tw::test::writeFileBytes(dir.file("wrapped"), asString(wrapped));
    ASSERT_EQ(runTool("openssl pkeyutl -decrypt -keyform DER -inkey " + key + kOaep + " -in " +
                      shellQuote(dir.file("wrapped")) + " -out " + shellQuote(dir.file("plain"))),
              0);
    EXPECT_EQ(asBytes(tw::test::readFileBytes(dir.file("plain"))), keyBlock);
  }
}

TEST_F(RSACryptorTest, RefusesBlocksThatAreNotExactlyTheModulusLength) {
  const std::vector<u8> keyBlock = randomBytes(kBlock);
  const std::vector<u8> wrapped = wrap(keyBlock);
  ASSERT_EQ(wrapped.size(), kBlock1024);
  // Longer inputs start with the valid block: unwrapping "one block from the
  // start" would wrongly accept them.
  for (size_t length : {0u, 1u, 64u, 127u, 129u, 256u, 2048u}) {
    std::vector<u8> input(length, 0);
    std::copy_n(wrapped.begin(), std::min(length, wrapped.size()), input.begin());
    std::vector<u8> out(kBlock, 0xEE);
    EXPECT_EQ(pair_->decrypt(input.data(), static_cast<u32>(input.size()), out.data(), kBlock), 0)
        << length;
    EXPECT_EQ(out, std::vector<u8>(kBlock, 0xEE)) << length;
  }
  std::vector<u8> out(kBlock);
  EXPECT_EQ(pair_->decrypt(wrapped.data(), kBlock1024, out.data(), kBlock), kBlock);
  EXPECT_EQ(out, keyBlock);
}

TEST_F(RSACryptorTest, CopiesOnlyAnUnwrappedTextOfTheExpectedLength) {
  struct Case {
    u32 wrappedLength;
    u32 expected;
    bool accepted;
  };
  const Case cases[] = {{64, 64, true},  {63, 64, false}, {65, 64, false}, {0, 64, false},
                        {86, 64, false}, {32, 32, true},  {86, 86, true},  {64, 86, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.wrappedLength << " as " << c.expected);
    const std::vector<u8> plain = randomBytes(c.wrappedLength);
    std::vector<u8> wrapped;
    ASSERT_EQ(pair_->encrypt(plain.data(), c.wrappedLength, wrapped), kBlock1024);
    // A guard after the expected length catches any copy of more than that.
    std::vector<u8> out(c.expected + 16, 0xEE);
    const u16 got =
        pair_->decrypt(wrapped.data(), static_cast<u32>(wrapped.size()), out.data(), c.expected);
    if (c.accepted) {
      EXPECT_EQ(got, c.expected);
      EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
      EXPECT_EQ(std::vector<u8>(out.begin() + c.expected, out.end()), std::vector<u8>(16, 0xEE));
    } else {
      EXPECT_EQ(got, 0);
      EXPECT_EQ(out, std::vector<u8>(c.expected + 16, 0xEE));
    }
  }
  // A 1024-bit key carries at most 86 bytes under OAEP with SHA-1.
  const std::vector<u8> tooLong = randomBytes(87);
  std::vector<u8> wrapped{1, 2, 3};
  EXPECT_EQ(pair_->encrypt(tooLong.data(), 87, wrapped), 0);
  EXPECT_TRUE(wrapped.empty());
}

TEST_F(RSACryptorTest, RefusesTamperedBlocksAndBlocksForAnotherKey) {
  const std::vector<u8> wrapped = wrap(randomBytes(kBlock));
  for (size_t at : {size_t{0}, size_t{1}, size_t{64}, kBlock1024 - 1}) {
    std::vector<u8> tampered = wrapped;
    tampered[at] ^= 0x01;
    std::vector<u8> out(kBlock);
    EXPECT_EQ(pair_->decrypt(tampered.data(), kBlock1024, out.data(), kBlock), 0) << at;
  }
  zuRSACryptor other;
  ASSERT_TRUE(other.generateKeys(1024));
  std::vector<u8> out(kBlock);
  EXPECT_EQ(other.decrypt(wrapped.data(), kBlock1024, out.data(), kBlock), 0);
}

TEST_F(RSACryptorTest, RefusesKeyTextsThatDoNotDecode) {
  const std::string& pub = pair_->publicKey;
  const std::string withBlank = pub.substr(0, 10) + " " + pub.substr(10);
  const std::string cases[] = {"",         "0",
                               "ZZ",       pub.substr(1),
                               withBlank,  pub.substr(0, pub.size() - 2),
                               pub + "00", pair_->privateKey};
  const std::vector<u8> keyBlock = randomBytes(kBlock);
  for (const std::string& text : cases) {
    zuRSACryptor client;
    client.publicKey = text;
    std::vector<u8> wrapped{1};
    EXPECT_EQ(client.encrypt(keyBlock.data(), kBlock, wrapped), 0) << text;
    EXPECT_TRUE(wrapped.empty());
  }

  const std::vector<u8> wrapped = wrap(keyBlock);
  for (const std::string& text : {std::string(), pair_->publicKey, pair_->privateKey + "00"}) {
    zuRSACryptor server;
    server.privateKey = text;
    std::vector<u8> out(kBlock);
    EXPECT_EQ(server.decrypt(wrapped.data(), kBlock1024, out.data(), kBlock), 0) << text;
  }
}

TEST_F(RSACryptorTest, FailingRandomSourceFailsEveryOperationAndKeepsTheKeys) {
  FailingRandom failing;
  zuRSACryptor cryptor(failing);
  cryptor.privateKey = pair_->privateKey;
  cryptor.publicKey = pair_->publicKey;
  EXPECT_FALSE(cryptor.generateKeys(1024));
  EXPECT_EQ(cryptor.privateKey, pair_->privateKey);
  EXPECT_EQ(cryptor.publicKey, pair_->publicKey);
  EXPECT_EQ(cryptor.keySize, 0);

  const std::vector<u8> keyBlock = randomBytes(kBlock);
  std::vector<u8> wrapped;
  EXPECT_EQ(cryptor.encrypt(keyBlock.data(), kBlock, wrapped), 0);
  EXPECT_TRUE(wrapped.empty());

  // Unwrapping blinds with fresh randomness too.
  wrapped = wrap(keyBlock);
  std::vector<u8> out(kBlock);
  EXPECT_EQ(cryptor.decrypt(wrapped.data(), kBlock1024, out.data(), kBlock), 0);

  // Back to the auto-seeded pool.
  cryptor.setRandom(nullptr);
  EXPECT_EQ(cryptor.decrypt(wrapped.data(), kBlock1024, out.data(), kBlock), kBlock);
}

TEST(RSACryptorRandom, InjectedGeneratorMakesKeysAndWrapsRepeatable) {
  std::vector<u8> wrapped[2];
  std::string publicKeys[2];
  const std::vector<u8> keyBlock(kBlock, 0x42);
  for (int i = 0; i < 2; ++i) {
    auto random = seededRandom(7);
    zuRSACryptor cryptor(*random);
    ASSERT_TRUE(cryptor.generateKeys(1024));
    publicKeys[i] = cryptor.publicKey;
    ASSERT_EQ(cryptor.encrypt(keyBlock.data(), kBlock, wrapped[i]), kBlock1024);
    std::vector<u8> out(kBlock);
    ASSERT_EQ(cryptor.decrypt(wrapped[i].data(), kBlock1024, out.data(), kBlock), kBlock);
    EXPECT_EQ(out, keyBlock);
  }
  EXPECT_EQ(publicKeys[0], publicKeys[1]);
  EXPECT_EQ(wrapped[0], wrapped[1]);
  EXPECT_EQ(publicKeyOf(publicKeys[0]).GetPublicExponent(), CryptoPP::Integer(17L));
}

}  // namespace
