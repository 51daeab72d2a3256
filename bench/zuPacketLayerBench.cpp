// Packets per second through the packet layer over a socket pair, against
// writing and reading the same bytes on the bare sockets; and what a
// compression attempt costs on data that does not compress (it is thrown
// away and the payload goes out plain).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "loam/net/zuMemEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/platform/zuPlatformSocket.h"

namespace {

constexpr u32 kForever = 0xFFFFFFFF;

std::vector<u8> randomBytes(std::size_t n) {
  std::vector<u8> out(n);
  u32 seed = 12345;
  for (u8& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<u8>(seed >> 23);
  }
  return out;
}

// One thread sends a packet and reads it back from the other end.
void BM_PacketLayerRoundTrip(benchmark::State& state) {
  const u32 size = static_cast<u32>(state.range(0));
  auto a = std::make_unique<zuTCPEndpoint>(nullptr, kForever);
  auto b = std::make_unique<zuTCPEndpoint>(nullptr, kForever);
  if (!zuConnectEndpointPair(*a, *b)) {
    state.SkipWithError("no socket pair");
    return;
  }
  zuNetPacketLayer sender(std::move(a), false);
  zuNetPacketLayer receiver(std::move(b), false);
  const std::vector<u8> payload = randomBytes(size);
  zuNetBuffer out(size);
  zuNetBuffer in(size);
  for (auto _ : state) {
    std::memcpy(out.payload(), payload.data(), size);
    u32 length = 0;
    if (sender.send(out, size) != 0 || receiver.receive(in, length, kForever) != 0) {
      state.SkipWithError("transfer failed");
      return;
    }
    benchmark::DoNotOptimize(in.payload());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * (size + 6));
}
BENCHMARK(BM_PacketLayerRoundTrip)->Arg(64)->Arg(1024)->Arg(30006);

// The same bytes with one send and an exact read on the bare sockets.
void BM_RawSocketRoundTrip(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) + 6;
  zuPlatform::Socket a = zuPlatform::kInvalidSocket;
  zuPlatform::Socket b = zuPlatform::kInvalidSocket;
  if (!zuPlatform::socketPair(a, b)) {
    state.SkipWithError("no socket pair");
    return;
  }
  const std::vector<u8> frame = randomBytes(size);
  std::vector<u8> in(size);
  std::vector<zuPlatform::SocketWaitEntry> wait{{b, zuPlatform::kEventRead, 0, 0}};
  for (auto _ : state) {
    std::size_t sent = 0;
    while (sent < size) {
      const i64 n = zuPlatform::sendSocket(a, frame.data() + sent, size - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    std::size_t got = 0;
    while (got < size) {
      const i64 n = zuPlatform::receiveSocket(b, in.data() + got, size - got);
      if (n > 0)
        got += static_cast<std::size_t>(n);
      else
        zuPlatform::waitForSockets(wait, {}, kForever);
    }
    benchmark::DoNotOptimize(in.data());
  }
  zuPlatform::closeSocket(a);
  zuPlatform::closeSocket(b);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * static_cast<i64>(size));
}
BENCHMARK(BM_RawSocketRoundTrip)->Arg(64)->Arg(1024)->Arg(30006);

// Sending one 30000-byte chunk of random bytes into a memory endpoint, with
// compression on (the attempt is wasted) and off.
void BM_SendRandomChunk(benchmark::State& state) {
  const bool compress = state.range(0) != 0;
  zuNetPacketLayer layer(std::make_unique<zuMemEndpoint>(), compress);
  const std::vector<u8> payload = randomBytes(30000);
  zuNetBuffer out(30000);
  for (auto _ : state) {
    std::memcpy(out.payload(), payload.data(), payload.size());
    if (layer.send(out, 30000) != 0) {
      state.SkipWithError("send failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * 30000);
}
BENCHMARK(BM_SendRandomChunk)->ArgName("compress")->Arg(0)->Arg(1);

// For comparison: a chunk that compresses well.
void BM_SendTextChunk(benchmark::State& state) {
  zuNetPacketLayer layer(std::make_unique<zuMemEndpoint>(), true);
  std::vector<u8> payload(30000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<u8>('a' + i % 23);
  zuNetBuffer out(30000);
  for (auto _ : state) {
    std::memcpy(out.payload(), payload.data(), payload.size());
    layer.send(out, 30000);
  }
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * 30000);
}
BENCHMARK(BM_SendTextChunk);

}  // namespace
