// The server side of the secure handshake, fed a client's stream over a
// scripted transport, then the session that follows it.
//   byte 0: how the stream is cut: 0 one piece, n pieces of n bytes
//   rest:   what the client sends (hello, key header, wrapped block, data)
// The server's key pair is fixed, so the seed corpus can carry blocks that
// unwrap.
#include <cryptopp/drbg.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "loam/net/zuRSACryptor.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/net/zuSecureTCPEndpoint.h"

namespace {

const zuRSACryptor& serverPair() {
  static const zuRSACryptor pair = [] {
    static const std::vector<u8> seed(32, 0x5E);
    CryptoPP::Hash_DRBG<> random(seed.data(), seed.size());
    zuRSACryptor cryptor(random);
    if (!cryptor.generateKeys(1024)) __builtin_trap();
    cryptor.setRandom(nullptr);
    return cryptor;
  }();
  return pair;
}

class ScriptedServer : public zuSecureTCPEndpoint {
 public:
  ScriptedServer() : zuSecureTCPEndpoint(nullptr, kNoTimeout, true) {
    cryptor().privateKey = serverPair().privateKey;
    cryptor().publicKey = serverPair().publicKey;
    cryptor().keySize = serverPair().keySize;
  }
  zuScriptedEndpoint script;

 protected:
  u16 transportSend(const void* data, u32 count) override { return script.sendRaw(data, count); }
  u16 transportReceive(void* buffer, u32* count) override {
    return script.receiveRaw(buffer, count);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0];
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  ScriptedServer server;
  for (size_t at = 0; at < stream.size();) {
    const size_t n = piece == 0 ? stream.size() : std::min(piece, stream.size() - at);
    server.script.addBytes(stream.substr(at, n));
    at += n;
  }

  const u16 status = server.checkKeysAndHandshake();
  const std::string& sent = server.script.sent();
  if (status != 0) {
    // The script's end reads as a broken connection; nothing else may fail.
    if (status != zuErrFailed && status != zuErrConnectionBroken) __builtin_trap();
    if (server.isCipherActive() || server.bufferSize() != 0) __builtin_trap();
    return 0;
  }
  // The answer is a header (and the key, when encrypting) in clear.
  const bool encrypt = server.option(zuSecureHeader::kEncrypt) != 0;
  if (sent.compare(0, 4, "ZUSL") != 0 || server.isCipherActive() != encrypt) __builtin_trap();
  if (encrypt && sent.size() != zuSecureHeader::kSize + serverPair().publicKey.size())
    __builtin_trap();
  if (server.bufferSize() != zuNetEndpoint::kDefaultBufferSize) __builtin_trap();

  // Whatever follows is session data.
  char buffer[512];
  for (;;) {
    u32 n = sizeof buffer;
    if (server.readSome(buffer, &n) != 0 || n == 0) break;
  }
  const size_t before = sent.size();
  if (server.writeString("reply") != 0 || server.flush() != 0) __builtin_trap();
  if (sent.size() != before + 5) __builtin_trap();
  return 0;
}
