// Address text parse and format cost against the C library's inet_pton and
// inet_ntop on the same texts and values.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuIPAddressText.h"
#include "loam/net/zuIPv4Address.h"

namespace {

constexpr int kCount = 1024;

std::vector<zuIPAddress> randomAddresses(bool v4) {
  std::mt19937 gen(11);
  std::vector<zuIPAddress> out;
  for (int i = 0; i < kCount; ++i) {
    if (v4) {
      out.emplace_back(zuIPv4Address::fromHostValue(static_cast<u32>(gen())));
      continue;
    }
    u8 bytes[16];
    for (int g = 0; g < 8; ++g) {
      const u32 v = gen() % 3 == 0 ? 0u : static_cast<u32>(gen() & 0xFFFF);
      bytes[2 * g] = static_cast<u8>(v >> 8);
      bytes[2 * g + 1] = static_cast<u8>(v);
    }
    out.emplace_back(bytes);
  }
  return out;
}

std::vector<std::string> texts(bool v4) {
  std::vector<std::string> out;
  for (const zuIPAddress& a : randomAddresses(v4)) out.push_back(a.toString());
  return out;
}

void BM_ParseIPv4_Ours(benchmark::State& state) {
  const auto in = texts(true);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& t = in[i++ % in.size()];
    zuIPv4Address a;
    benchmark::DoNotOptimize(a.parse(t.data(), static_cast<u32>(t.size())));
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_ParseIPv4_Ours);

void BM_ParseIPv4_InetPton(benchmark::State& state) {
  const auto in = texts(true);
  std::size_t i = 0;
  for (auto _ : state) {
    in_addr out{};
    benchmark::DoNotOptimize(inet_pton(AF_INET, in[i++ % in.size()].c_str(), &out));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ParseIPv4_InetPton);

void BM_ParseIPv6_Ours(benchmark::State& state) {
  const auto in = texts(false);
  std::size_t i = 0;
  for (auto _ : state) {
    u8 out[16];
    benchmark::DoNotOptimize(zuParseIPv6Text(in[i++ % in.size()].c_str(), out));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ParseIPv6_Ours);

void BM_ParseIPv6_InetPton(benchmark::State& state) {
  const auto in = texts(false);
  std::size_t i = 0;
  for (auto _ : state) {
    u8 out[16];
    benchmark::DoNotOptimize(inet_pton(AF_INET6, in[i++ % in.size()].c_str(), out));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ParseIPv6_InetPton);

void BM_FormatIPv4_Ours(benchmark::State& state) {
  const auto in = randomAddresses(true);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s = in[i++ % in.size()].toString();
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FormatIPv4_Ours);

void BM_FormatIPv4_InetNtop(benchmark::State& state) {
  const auto in = randomAddresses(true);
  std::size_t i = 0;
  for (auto _ : state) {
    char buf[INET_ADDRSTRLEN];
    benchmark::DoNotOptimize(inet_ntop(AF_INET, in[i++ % in.size()].bytes() + 12, buf, sizeof buf));
    std::string s(buf);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FormatIPv4_InetNtop);

void BM_FormatIPv6_Ours(benchmark::State& state) {
  const auto in = randomAddresses(false);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s = in[i++ % in.size()].toIPv6Text(true, true);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FormatIPv6_Ours);

void BM_FormatIPv6_InetNtop(benchmark::State& state) {
  const auto in = randomAddresses(false);
  std::size_t i = 0;
  for (auto _ : state) {
    char buf[INET6_ADDRSTRLEN];
    benchmark::DoNotOptimize(inet_ntop(AF_INET6, in[i++ % in.size()].bytes(), buf, sizeof buf));
    std::string s(buf);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FormatIPv6_InetNtop);

}  // namespace
