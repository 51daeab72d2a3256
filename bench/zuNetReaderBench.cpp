// Time per value for the netobject reader and writers. Each iteration reads
// or writes one value (the buffer is rewound every kBatch values), so the
// reported time is the cost of one value.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "loam/base/zuErrorMessage.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

namespace {

constexpr u32 kBatch = 1024;

void BM_WriteUInt32(benchmark::State& state) {
  std::vector<u8> buffer(kBatch * 4);
  zuNetWriter w(buffer.data(), static_cast<u32>(buffer.size()));
  u32 n = 0;
  for (auto _ : state) {
    if (n++ % kBatch == 0) w.reset();
    w.putUInt32(n);
  }
  benchmark::DoNotOptimize(buffer.data());
}
BENCHMARK(BM_WriteUInt32);

void BM_ReadUInt32(benchmark::State& state) {
  std::vector<u8> buffer(kBatch * 4, 0x5A);
  zuNetReader r(buffer.data(), static_cast<u32>(buffer.size()));
  for (auto _ : state) {
    if (r.bytesLeft() == 0) r.unget(r.length());
    benchmark::DoNotOptimize(r.getUInt32());
  }
}
BENCHMARK(BM_ReadUInt32);

void BM_WriteString16(benchmark::State& state) {
  const std::string text = "0123456789abcdef";
  std::vector<u8> buffer(kBatch * 17);
  zuNetWriter w(buffer.data(), static_cast<u32>(buffer.size()));
  u32 n = 0;
  for (auto _ : state) {
    if (n++ % kBatch == 0) w.reset();
    w.putString(text);
  }
  benchmark::DoNotOptimize(buffer.data());
}
BENCHMARK(BM_WriteString16);

std::vector<u8> strings16() {
  std::vector<u8> buffer;
  for (u32 i = 0; i < kBatch; ++i) {
    const char* s = "0123456789abcdef";
    buffer.insert(buffer.end(), s, s + 17);
  }
  return buffer;
}

void BM_ReadConstString16(benchmark::State& state) {
  const std::vector<u8> buffer = strings16();
  zuNetReader r(buffer.data(), static_cast<u32>(buffer.size()));
  for (auto _ : state) {
    if (r.bytesLeft() == 0) r.unget(r.length());
    benchmark::DoNotOptimize(r.getConstString());
  }
}
BENCHMARK(BM_ReadConstString16);

void BM_ReadStdString16(benchmark::State& state) {
  const std::vector<u8> buffer = strings16();
  zuNetReader r(buffer.data(), static_cast<u32>(buffer.size()));
  for (auto _ : state) {
    if (r.bytesLeft() == 0) r.unget(r.length());
    benchmark::DoNotOptimize(r.getStdString());
  }
}
BENCHMARK(BM_ReadStdString16);

void BM_ErrorMessageWriteAndRead(benchmark::State& state) {
  const zuErrorMessage m(1538, "Error opening file \"$f\" error: $e.", 'f', "a.txt", 'e', "0x2");
  u8 buffer[256];
  for (auto _ : state) {
    zuNetWriter w(buffer, sizeof buffer);
    w.putErrorMessage(m);
    zuNetReader r(buffer, w.size());
    zuErrorMessage back;
    r.getErrorMessage(back);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_ErrorMessageWriteAndRead);

// A 1 MiB payload built from empty in 100-byte pieces: growth by doubling
// from 10240 bytes, copies included.
void BM_DynamicWriterGrowth1MiB(benchmark::State& state) {
  const std::vector<u8> piece(100, 0x42);
  for (auto _ : state) {
    zuDynamicNetWriter w;
    for (u32 i = 0; i < 10486; ++i) w.putData(piece.data(), 100);
    benchmark::DoNotOptimize(w.getStart());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1048600);
}
BENCHMARK(BM_DynamicWriterGrowth1MiB);

}  // namespace
