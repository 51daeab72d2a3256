// Peer input that reaches the cryptors: the first byte picks the path.
//   0: the rest is a server's public key text; the client wraps a key block under it.
//   1: the rest is a client's wrapped block; the server unwraps it under a fixed pair.
//   2: the rest is hexadecimal text for zuCryptor::decrypt.
#include <cryptopp/drbg.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "loam/net/zuCryptor.h"
#include "loam/net/zuRSACryptor.h"

namespace {

// Seeded, so the pair and the blocks wrapped for the seed corpus repeat.
CryptoPP::RandomNumberGenerator& fixedRandom() {
  static const std::vector<u8> seed(32, 0x17);
  static CryptoPP::Hash_DRBG<> random(seed.data(), seed.size());
  return random;
}

const zuRSACryptor& serverPair() {
  static const zuRSACryptor pair = [] {
    zuRSACryptor cryptor(fixedRandom());
    if (!cryptor.generateKeys(1024)) __builtin_trap();
    cryptor.setRandom(nullptr);
    return cryptor;
  }();
  return pair;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const u8 mode = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (mode == 0) {
    if (rest.size() > 2048) return 0;  // the handshake's length field bounds it
    zuRSACryptor client;
    client.publicKey = rest;
    const std::vector<u8> keyBlock(64, 0xA5);
    std::vector<u8> wrapped;
    const u16 n = client.encrypt(keyBlock.data(), 64, wrapped);
    if (n != wrapped.size()) __builtin_trap();
  } else if (mode == 1) {
    std::vector<u8> out(64, 0);
    const u16 n = serverPair().decrypt(reinterpret_cast<const u8*>(rest.data()),
                                       static_cast<u32>(rest.size()), out.data(), 64);
    if (n != 0 && n != 64) __builtin_trap();
  } else if (mode == 2) {
    static const zuCryptor cryptor("fuzz");
    std::string out;
    cryptor.decrypt(rest, out);
  }
  return 0;
}
