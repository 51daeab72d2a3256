// The packet decoder over arbitrary bytes in arbitrary pieces.
// Byte 0 picks the set-up:
//   bits 0-1: 0 null cipher and MAC; 1 aes256-cbc + hmac-sha1 with a fixed
//             key, the rest encrypted by a matching CBC encryptor so the
//             fuzzer steers the plaintext (the MAC then fails unless found);
//             2 the rest cut into payloads that a real encoder frames, which
//             the decoder must give back unchanged; 3 as 0 from the
//             identification phase
//   bit 2:    a zlib decompressor on the receive side (and compressor on the
//             send side in mode 2)
// The rest is a list of records, each a length byte n and n + 1 bytes.
// Only SSH::CauseToDisconnect may leave the decoder.
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/queue.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Err.h"
#include "sshlib/Mac.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/TransportState.h"

namespace {

using CryptoPP::byte;

class FixedRng : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(byte* output, size_t size) override {
    for (size_t i = 0; i < size; ++i) output[i] = static_cast<byte>(i * 7);
  }
};

class Collector : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const byte* inString, size_t length, int messageEnd, bool) override {
    current.append(reinterpret_cast<const char*>(inString), length);
    if (current.size() > SSH::PacketDecoder::kMaxPayloadLength) std::abort();
    if (messageEnd) {
      messages.push_back(current);
      current.clear();
    }
    return 0;
  }
  std::vector<std::string> messages;
  std::string current;
};

const byte kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                       17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const byte kIv[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

std::vector<std::string> records(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> out;
  for (size_t at = 0; at < size;) {
    const size_t n = std::size_t{data[at++]} + 1;
    const size_t take = n < size - at ? n : size - at;
    out.emplace_back(reinterpret_cast<const char*>(data + at), take);
    at += take;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned mode = data[0] & 3u;
  const bool zlib = (data[0] & 4u) != 0;
  const std::vector<std::string> pieces = records(data + 1, size - 1);

  FixedRng rng;
  SSH::TransportState receiver(rng);
  if (mode != 3) receiver.setInputState(SSH::TransportState::kInVersionReceived);
  if (mode == 1 || mode == 2) {
    receiver.inCipher().createKeyed("aes256-cbc", kKey, kIv, true);
    receiver.inMac().createKeyed("hmac-sha1", kKey, 20, false);
  }
  if (zlib) receiver.inCompressor().create("zlib", false);
  auto* collector = new Collector;
  SSH::PacketDecoder decoder(receiver, collector);

  try {
    if (mode == 1) {
      CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption encrypt(kKey, sizeof kKey, kIv);
      for (std::string piece : pieces) {
        piece.resize((piece.size() + 15) / 16 * 16, '\0');
        encrypt.ProcessString(reinterpret_cast<byte*>(piece.data()), piece.size());
        decoder.Put(reinterpret_cast<const byte*>(piece.data()), piece.size());
      }
    } else if (mode == 2) {
      SSH::TransportState sender(rng);
      sender.setOutputState(SSH::TransportState::kOutKexInitSent);
      sender.outCipher().createKeyed("aes256-cbc", kKey, kIv, false);
      sender.outMac().createKeyed("hmac-sha1", kKey, 20, true);
      if (zlib) sender.outCompressor().create("zlib", true);
      CryptoPP::ByteQueue wire;
      SSH::PacketEncoder encoder(sender, new CryptoPP::Redirector(wire));
      for (const std::string& piece : pieces) {
        encoder.PutMessageEnd(reinterpret_cast<const byte*>(piece.data()), piece.size(), 0);
      }
      std::string bytes(static_cast<size_t>(wire.MaxRetrievable()), '\0');
      wire.Get(reinterpret_cast<byte*>(bytes.data()), bytes.size());
      decoder.Put(reinterpret_cast<const byte*>(bytes.data()), bytes.size());
      if (collector->messages != pieces) std::abort();
    } else {
      for (const std::string& piece : pieces) {
        decoder.Put(reinterpret_cast<const byte*>(piece.data()), piece.size());
      }
    }
  } catch (const SSH::CauseToDisconnect&) {
    if (mode == 2) std::abort();  // what the encoder wrote must decode
  }
  return 0;
}
