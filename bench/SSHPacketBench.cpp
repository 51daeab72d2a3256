// Cost of the SSH packet layer at 32 KiB payloads: the encoder and the
// decoder with aes256-cbc + hmac-sha1 and 3des-cbc + hmac-md5, next to the
// dependency's raw cipher and MAC over the same bytes in the same run. The
// difference is what framing, padding and queueing cost.
#include <benchmark/benchmark.h>

#include <cryptopp/aes.h>
#include <cryptopp/des.h>
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/hmac.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <memory>
#include <string>
#include <vector>

#include "sshlib/Cipher.h"
#include "sshlib/Mac.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/TransportState.h"

namespace {

using CryptoPP::byte;

constexpr size_t kPayload = 32 * 1024;
const std::string kKey(32, '\x5a');
const std::string kIv(16, '\xa5');

const byte* bytes(const std::string& s) { return reinterpret_cast<const byte*>(s.data()); }

class NullSink : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const byte*, size_t length, int, bool) override {
    total += length;
    return 0;
  }
  size_t total = 0;
};

void keySend(SSH::TransportState& s, const char* cipher, const char* mac) {
  s.setOutputState(SSH::TransportState::kOutKexInitSent);
  s.outCipher().createKeyed(cipher, bytes(kKey), bytes(kIv), false);
  s.outMac().createKeyed(mac, bytes(kKey), SSH::Mac::keyLength(mac, false), true);
}

void keyReceive(SSH::TransportState& s, const char* cipher, const char* mac) {
  s.setInputState(SSH::TransportState::kInVersionReceived);
  s.inCipher().createKeyed(cipher, bytes(kKey), bytes(kIv), true);
  s.inMac().createKeyed(mac, bytes(kKey), SSH::Mac::keyLength(mac, false), false);
}

void BM_Encode(benchmark::State& state, const char* cipher, const char* mac) {
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState sender(rng);
  keySend(sender, cipher, mac);
  SSH::PacketEncoder encoder(sender, new NullSink);
  const std::string payload(kPayload, 'p');
  for (auto _ : state) encoder.PutMessageEnd(bytes(payload), payload.size(), 0);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPayload));
}

void BM_Decode(benchmark::State& state, const char* cipher, const char* mac) {
  // A stream of packets made once; each receiver decodes it from the start.
  constexpr size_t kPackets = 64;
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState sender(rng);
  keySend(sender, cipher, mac);
  CryptoPP::ByteQueue wire;
  SSH::PacketEncoder encoder(sender, new CryptoPP::Redirector(wire));
  const std::string payload(kPayload, 'p');
  std::vector<std::string> packets;
  for (size_t i = 0; i < kPackets; ++i) {
    encoder.PutMessageEnd(bytes(payload), payload.size(), 0);
    std::string packet(static_cast<size_t>(wire.MaxRetrievable()), '\0');
    wire.Get(reinterpret_cast<byte*>(packet.data()), packet.size());
    packets.push_back(std::move(packet));
  }
  std::unique_ptr<SSH::TransportState> receiver;
  std::unique_ptr<SSH::PacketDecoder> decoder;
  size_t next = kPackets;
  for (auto _ : state) {
    if (next == kPackets) {
      state.PauseTiming();
      decoder.reset();
      receiver = std::make_unique<SSH::TransportState>(rng);
      keyReceive(*receiver, cipher, mac);
      decoder = std::make_unique<SSH::PacketDecoder>(*receiver, new NullSink);
      next = 0;
      state.ResumeTiming();
    }
    decoder->Put(bytes(packets[next]), packets[next].size());
    ++next;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPayload));
}

// The dependency alone: one CBC pass and one MAC over a packet's worth of
// bytes (32 KiB payload + 5 header + padding to the block), per iteration.
template <class Block, class Hash>
void BM_Raw(benchmark::State& state, size_t keyLength, bool decrypt) {
  const size_t block = Block::BLOCKSIZE;
  const size_t size = (kPayload + 9 + block - 1) / block * block;
  std::vector<byte> data(size, 'p');
  std::vector<byte> out(size);
  byte mac[Hash::DIGESTSIZE];
  typename CryptoPP::CBC_Mode<Block>::Encryption encrypt(bytes(kKey), keyLength, bytes(kIv));
  typename CryptoPP::CBC_Mode<Block>::Decryption decryptor(bytes(kKey), keyLength,
                                                             bytes(kIv));
  CryptoPP::HMAC<Hash> hmac(bytes(kKey), Hash::DIGESTSIZE);
  for (auto _ : state) {
    if (decrypt) {
      decryptor.ProcessData(out.data(), data.data(), size);
    } else {
      encrypt.ProcessData(out.data(), data.data(), size);
    }
    hmac.Update(data.data(), size);
    hmac.Final(mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPayload));
}

const auto BM_RawAesSha1 = &BM_Raw<CryptoPP::AES, CryptoPP::SHA1>;
const auto BM_RawDes3Md5 = &BM_Raw<CryptoPP::DES_EDE3, CryptoPP::Weak::MD5>;

BENCHMARK_CAPTURE(BM_Encode, aes256_cbc_hmac_sha1, "aes256-cbc", "hmac-sha1");
BENCHMARK_CAPTURE(BM_Decode, aes256_cbc_hmac_sha1, "aes256-cbc", "hmac-sha1");
BENCHMARK_CAPTURE(BM_RawAesSha1, encrypt_aes256_cbc_hmac_sha1, 32, false);
BENCHMARK_CAPTURE(BM_RawAesSha1, decrypt_aes256_cbc_hmac_sha1, 32, true);
BENCHMARK_CAPTURE(BM_Encode, des3_cbc_hmac_md5, "3des-cbc", "hmac-md5");
BENCHMARK_CAPTURE(BM_Decode, des3_cbc_hmac_md5, "3des-cbc", "hmac-md5");
BENCHMARK_CAPTURE(BM_RawDes3Md5, encrypt_3des_cbc_hmac_md5, 24, false);
BENCHMARK_CAPTURE(BM_RawDes3Md5, decrypt_3des_cbc_hmac_md5, 24, true);

}  // namespace
