// ReadFile and WriteFile of a 64 MiB file over loopback with the secure
// layer (encrypted; range(0) 1 when compression is agreed), through the
// requests, the connection handlers and the file responses. Compare with
// BM_SecureThroughput (zuSecureEndpointBench) and BM_AES128CFBEncrypt
// (zuCryptorBench) run in the same session.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>

#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetReqReadFile.h"
#include "loam/netobjects/zuNetReqWriteFile.h"
#include "loam/netobjects/zuNetResReadFile.h"
#include "loam/netobjects/zuNetResWriteFile.h"

namespace {

namespace fs = std::filesystem;

constexpr u32 kForever = zuNetEndpoint::kNoTimeout;
constexpr std::size_t kFileSize = std::size_t{64} << 20;
const zuIPAddress kLoopback("127.0.0.1");

// Takes every byte and keeps none.
class Discard : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

std::string fileBytes() {
  std::string s(kFileSize, '\0');
  u32 x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// A client and a server handler over one secure loopback connection, the
// server serving the file responses in a scratch root.
struct Link {
  explicit Link(bool compress) {
    root = fs::temp_directory_path() / ("zu-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(root);
    zuSecureTCPEndpoint listener(nullptr, kForever, compress);
    if (listener.listen(0, kLoopback) != 0) return;
    std::unique_ptr<zuNetEndpoint> accepted;
    std::thread accepting([&] { accepted = listener.accept(); });
    auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, kForever, compress);
    const u16 status = endpoint->connect(kLoopback, listener.localPort());
    accepting.join();
    if (status != 0 || !accepted) return;
    const bool agreed = endpoint->compressionAgreed();
    client = std::make_unique<zuNetObjectHandler>(nullptr, std::move(endpoint), agreed);
    server = std::make_unique<zuNetObjectHandler>(nullptr, std::move(accepted), agreed);
    const std::string r = root.string();
    zuNetResponseFactoryMap factories;
    factories[6] = [r](u8) { return std::make_unique<zuNetResReadFile>(r); };
    factories[7] = [r](u8) { return std::make_unique<zuNetResWriteFile>(r); };
    server->setFactories(factories);
    server->setLoggedIn(true);
    server->start();
    client->start();
  }
  ~Link() {
    for (auto* h : {client.get(), server.get()}) {
      if (h) {
        h->stop();
        h->wait();
      }
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  bool ok() const { return client && server; }

  fs::path root;
  std::unique_ptr<zuNetObjectHandler> client;
  std::unique_ptr<zuNetObjectHandler> server;
};

void BM_WriteFile64MiB(benchmark::State& state) {
  Link link(state.range(0) != 0);
  if (!link.ok()) {
    state.SkipWithError("no connection");
    return;
  }
  std::istringstream in(fileBytes());
  for (auto _ : state) {
    in.clear();
    in.seekg(0);
    zuNetReqWriteFile put;
    put.prepare("f.bin", &in, false);
    put.start(link.client.get());
    if (!put.wait() || !put.isSucceeded()) {
      state.SkipWithError("WriteFile failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<i64>(kFileSize));
}
BENCHMARK(BM_WriteFile64MiB)
    ->ArgName("compress")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReadFile64MiB(benchmark::State& state) {
  Link link(state.range(0) != 0);
  if (!link.ok()) {
    state.SkipWithError("no connection");
    return;
  }
  {
    std::ofstream out(link.root / "f.bin", std::ios::binary);
    const std::string bytes = fileBytes();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  Discard sink;
  std::ostream out(&sink);
  for (auto _ : state) {
    zuNetReqReadFile get;
    get.prepare("f.bin", &out, false);
    get.start(link.client.get());
    if (!get.wait() || !get.isSucceeded() || get.bytesWritten() != kFileSize) {
      state.SkipWithError("ReadFile failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<i64>(kFileSize));
}
BENCHMARK(BM_ReadFile64MiB)
    ->ArgName("compress")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
