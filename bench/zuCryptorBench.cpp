// Cost of the secure layer's cryptography: the server's RSA-1024 unwrap of the
// client's key block (one per accepted connection) and the AES-128-CFB
// session stream (every byte sent or received).
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "loam/net/zuRSACryptor.h"
#include "loam/net/zuSessionCipher.h"

namespace {

void BM_RSA1024Unwrap(benchmark::State& state) {
  zuRSACryptor server;
  if (!server.generateKeys(1024)) {
    state.SkipWithError("key generation failed");
    return;
  }
  std::vector<u8> keyBlock(zuSessionCipher::kKeyBlockSize, 0x5A);
  std::vector<u8> wrapped;
  if (server.encrypt(keyBlock.data(), static_cast<u32>(keyBlock.size()), wrapped) == 0) {
    state.SkipWithError("wrap failed");
    return;
  }
  std::vector<u8> out(keyBlock.size());
  for (auto _ : state) {
    const u16 n = server.decrypt(wrapped.data(), static_cast<u32>(wrapped.size()), out.data(),
                                 static_cast<u32>(out.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RSA1024Unwrap)->Unit(benchmark::kMicrosecond);

std::array<u8, zuSessionCipher::kKeyBlockSize> sessionKeyBlock() {
  std::array<u8, zuSessionCipher::kKeyBlockSize> block{};
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<u8>(i * 7 + 1);
  return block;
}

// Chunk sizes: a small packet, the endpoint's full 10240-byte buffer, and a
// full 30006-byte packet (the bytes BM_SecureThroughput sends per write).
void BM_AES128CFBEncrypt(benchmark::State& state) {
  zuSessionCipher cipher(sessionKeyBlock());
  std::vector<u8> buffer(static_cast<size_t>(state.range(0)), 0x33);
  for (auto _ : state) {
    cipher.encrypt(buffer.data(), buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AES128CFBEncrypt)->Arg(64)->Arg(1500)->Arg(10240)->Arg(30006);

void BM_AES128CFBDecrypt(benchmark::State& state) {
  zuSessionCipher cipher(sessionKeyBlock());
  std::vector<u8> buffer(static_cast<size_t>(state.range(0)), 0x33);
  for (auto _ : state) {
    cipher.decrypt(buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AES128CFBDecrypt)->Arg(64)->Arg(1500)->Arg(10240);

}  // namespace
