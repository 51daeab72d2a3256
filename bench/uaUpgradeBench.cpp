// A 25 MiB Upgrade end to end over loopback: the agent program runs as its
// own process (built with the tests' upgrade key), the client sends the signed
// file encrypted and uncompressed in 30000-byte chunks, and a stub installer
// ends at once. Reported: wall time per upgrade and the agent's peak resident
// size; beside it, AES-128-CFB plus SHA-1 over the same 25 MiB, the work the
// bytes cannot avoid (the agent decrypts and hashes them once).
#include <benchmark/benchmark.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AgentUnderBench.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuSessionCipher.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/threads/zuExec.h"

namespace fs = std::filesystem;

namespace {

using bench::Agent;
using bench::kLoopback;
using bench::readFile;

constexpr u32 kSize = 25 * 1024 * 1024;
constexpr u32 kChunk = 30000;
constexpr u32 kWait = bench::kAgentWait;

// An installer that ends at once: a shell script whose first lines exit,
// padded to the size.
std::string stubInstaller() {
  std::string file = "#!/bin/sh\nexit 0\n";
  file.resize(kSize, '#');
  return file;
}

// The signature text of the file under the tests' key, made by openssl.
std::string sign(const fs::path& folder, const std::string& file) {
  { std::ofstream(folder / "stub", std::ios::binary) << file; }
  zuExec openssl;
  if (!openssl.start("openssl", "dgst -sha1 -sign \"" + std::string(TW_TEST_UPGRADE_PRIVATE_KEY) +
                                    "\" -out \"" + (folder / "stub.sig").string() + "\" \"" +
                                    (folder / "stub").string() + "\"") ||
      !openssl.wait(kWait, nullptr) || openssl.status() != 0)
    return "";
  std::string text;
  for (char c : readFile(folder / "stub.sig")) {
    static const char kHex[] = "0123456789ABCDEF";
    text += kHex[static_cast<u8>(c) >> 4];
    text += kHex[static_cast<u8>(c) & 15];
  }
  return text;
}

// Sends the whole Upgrade on one new connection; its reply's error code, or
// -1 when the exchange broke.
int upgradeOnce(u16 port, const std::string& payload, zuNetBuffer& buffer) {
  auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, kWait, false);
  if (endpoint->connect(kLoopback, port) != 0) return -1;
  zuNetPacketLayer layer(std::move(endpoint), false);
  for (size_t at = 0; at < payload.size(); at += kChunk) {
    const size_t n = std::min<size_t>(kChunk, payload.size() - at);
    zuNetMessageHeader header;
    header.id = 1;
    header.type = 1;
    header.flags = static_cast<u8>(1 | (at == 0 ? 2 : 0) | (at + n == payload.size() ? 8 : 0));
    header.write(buffer.payload());
    std::copy_n(payload.data() + at, n, buffer.payload() + 6);
    if (layer.send(buffer, static_cast<u32>(6 + n)) != 0) return -1;
  }
  for (;;) {
    u32 length = 0;
    if (layer.receive(buffer, length, kWait) != 0) return -1;
    zuNetMessageHeader header;
    if (header.read(buffer.payload(), length) != 6) return -1;
    if (header.type != 0 && header.id == 1 && (header.error != 0 || (header.flags & 8) != 0))
      return header.error;
  }
}

void BM_Upgrade25MiB(benchmark::State& state) {
  Agent agent;
  if (agent.port() == 0) {
    state.SkipWithError("the agent did not start");
    return;
  }
  const std::string file = stubInstaller();
  const std::string signature = sign(agent.folder(), file);
  if (signature.empty()) {
    state.SkipWithError("openssl could not sign");
    return;
  }
  std::string payload = std::string(1, '\0') + "stub.sh" + '\0' + '\0' + signature + '\0';
  for (int shift = 24; shift >= 0; shift -= 8) payload += static_cast<char>((kSize >> shift) & 255);
  payload += file;
  zuNetBuffer buffer(kChunk + 6);
  for (auto _ : state) {
    const int error = upgradeOnce(agent.port(), payload, buffer);
    if (error != 0) {
      state.SkipWithError(("upgrade failed: " + std::to_string(error)).c_str());
      break;
    }
  }
  state.counters["agent_peak_MiB"] = static_cast<double>(agent.peakKiB()) / 1024.0;
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * kSize);
}
BENCHMARK(BM_Upgrade25MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The cipher and the hash over the same bytes, in 30000-byte pieces.
void BM_AES128CFBAndSHA1Over25MiB(benchmark::State& state) {
  std::string file = stubInstaller();
  std::array<u8, zuSessionCipher::kKeyBlockSize> block{};
  std::array<u8, CryptoPP::SHA1::DIGESTSIZE> digest{};
  auto* bytes = reinterpret_cast<u8*>(file.data());
  for (auto _ : state) {
    zuSessionCipher cipher(block);
    CryptoPP::SHA1 sha;
    for (size_t at = 0; at < file.size(); at += kChunk) {
      const size_t n = std::min<size_t>(kChunk, file.size() - at);
      cipher.decrypt(bytes + at, n);
      sha.Update(bytes + at, n);
    }
    sha.Final(digest.data());
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * kSize);
}
BENCHMARK(BM_AES128CFBAndSHA1Over25MiB)->Unit(benchmark::kMillisecond);

}  // namespace
