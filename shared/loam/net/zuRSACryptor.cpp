#include "loam/net/zuRSACryptor.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/secblock.h>

#include <algorithm>
#include <cstring>

#include "loam/base/zuString.h"

namespace {

// Key texts must be whole bytes of hex digits: Crypto++'s decoder would skip
// anything else, and a peer's key text must not be read loosely.
bool decodeKeyText(const std::string& text, CryptoPP::ByteQueue& der) {
  if (text.empty() || text.size() % 2 != 0) return false;
  if (!std::all_of(text.begin(), text.end(), zuIsHexDigit)) return false;
  CryptoPP::StringSource(text, true, new CryptoPP::HexDecoder(new CryptoPP::Redirector(der)));
  return true;
}

template <typename Key>
std::string encodeKeyText(const Key& key) {
  std::string text;
  CryptoPP::HexEncoder hex(new CryptoPP::StringSink(text), true);
  key.DEREncode(hex);
  hex.MessageEnd();
  return text;
}

// Decodes a whole key text; trailing bytes after the DER structure are refused.
template <typename Key>
bool loadKey(const std::string& text, Key& key) {
  CryptoPP::ByteQueue der;
  if (!decodeKeyText(text, der)) return false;
  key.BERDecode(der);
  return der.IsEmpty();
}

// Runs f with the injected generator, or with a pool of its own per call so
// that endpoints on different threads share nothing.
template <typename F>
auto withRandom(CryptoPP::RandomNumberGenerator* injected, F&& f) {
  if (injected) return f(*injected);
  CryptoPP::AutoSeededRandomPool pool;
  return f(pool);
}

// Crypto++ makes the OAEP padding object on its first use and publishes it
// with a relaxed store whose release fence comes after it, so two first
// handshakes at once race on it (harmless on x86; ThreadSanitizer reports
// it). It is made here once, under a static's guard that every user passes
// first.
void makeOaepPadding() {
  static const bool made = [] {
    CryptoPP::RSAES_OAEP_SHA_Decryptor unkeyed;
    (void)unkeyed.FixedMaxPlaintextLength();
    return true;
  }();
  (void)made;
}

}  // namespace

bool zuRSACryptor::generateKeys(u32 /*requestedSize*/) {
  try {
    return withRandom(random_, [this](CryptoPP::RandomNumberGenerator& rng) {
      CryptoPP::RSA::PrivateKey key;
      key.Initialize(rng, kKeyBits, CryptoPP::Integer(static_cast<long>(kPublicExponent)));
      std::string privateText = encodeKeyText(key);
      std::string publicText = encodeKeyText(CryptoPP::RSA::PublicKey(key));
      privateKey = std::move(privateText);
      publicKey = std::move(publicText);
      keySize = kKeyBits;
      return true;
    });
  } catch (const CryptoPP::Exception&) {
    return false;
  }
}

u16 zuRSACryptor::encrypt(const u8* plain, u32 length, std::vector<u8>& out) const {
  out.clear();
  if (!plain && length != 0) return 0;
  static const u8 kNothing = 0;
  if (length == 0) plain = &kNothing;  // the library copies from it even when empty
  try {
    makeOaepPadding();
    CryptoPP::RSAES_OAEP_SHA_Encryptor encryptor;
    if (!loadKey(publicKey, encryptor.AccessKey())) return 0;
    // The peer chooses the key size, so the block is sized from the key; a key
    // too small for the input (under 848 bits for the 64-byte key block) is refused.
    const size_t blockLength = encryptor.CiphertextLength(length);
    if (blockLength == 0 || blockLength > 0xFFFF) return 0;
    std::vector<u8> block(blockLength);
    withRandom(random_, [&](CryptoPP::RandomNumberGenerator& rng) {
      encryptor.Encrypt(rng, plain, length, block.data());
      return 0;
    });
    out = std::move(block);
    return static_cast<u16>(blockLength);
  } catch (const CryptoPP::Exception&) {
    return 0;
  }
}

u16 zuRSACryptor::decrypt(const u8* block, u32 length, u8* out, u32 expectedLength) const {
  if (!block || !out || expectedLength == 0) return 0;
  try {
    makeOaepPadding();
    CryptoPP::RSAES_OAEP_SHA_Decryptor decryptor;
    if (!loadKey(privateKey, decryptor.AccessKey())) return 0;
    // Exactly one block: a shorter read would leave the decryptor reading past
    // what the caller holds, a longer one means the peer is not speaking OAEP
    // under this key.
    if (length != decryptor.FixedCiphertextLength()) return 0;
    const size_t capacity = decryptor.MaxPlaintextLength(length);
    if (capacity == 0 || expectedLength > capacity) return 0;
    CryptoPP::SecByteBlock plain(capacity);
    const CryptoPP::DecodingResult result =
        withRandom(random_, [&](CryptoPP::RandomNumberGenerator& rng) {
          return decryptor.Decrypt(rng, block, length, plain);
        });
    const bool ok = result.isValidCoding && result.messageLength == expectedLength;
    if (ok) std::memcpy(out, plain, expectedLength);
    return ok ? static_cast<u16>(expectedLength) : 0;
  } catch (const CryptoPP::Exception&) {
    return 0;
  }
}
