// The secure endpoint over loopback: bytes per second of an encrypted session
// against a session whose handshake agreed on no encryption, and full
// handshakes per second (the server's RSA-1024 unwrap dominates; compare
// BM_RSA1024Unwrap in zuCryptorBench and `openssl speed rsa1024`).
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/threads/zuSingleEvent.h"

namespace {

constexpr u32 kForever = zuNetEndpoint::kNoTimeout;
const zuIPAddress kLoopback("127.0.0.1");

std::string hello(u8 encrypt) {
  return std::string("ZUSL\x01\x00", 6) + static_cast<char>(encrypt) +
         std::string("\x00\x00\x00", 3);
}

// A sender and a receiver joined over loopback, with the handshake done.
struct Session {
  std::unique_ptr<zuNetEndpoint> sender;
  std::unique_ptr<zuNetEndpoint> receiver;
};

Session encryptedSession(zuSecureTCPEndpoint& listener) {
  Session s;
  std::thread accepting([&] { s.receiver = listener.accept(); });
  auto client = std::make_unique<zuSecureTCPEndpoint>(nullptr, kForever, false);
  if (client->connect(kLoopback, listener.localPort()) == 0) s.sender = std::move(client);
  accepting.join();
  return s;
}

// The server's side sends; the client offered no encryption, so it is a
// plain TCP endpoint that has read the server's answer.
Session clearSession(zuSecureTCPEndpoint& listener) {
  Session s;
  std::thread accepting([&] { s.sender = listener.accept(); });
  auto client = std::make_unique<zuTCPEndpoint>(nullptr, kForever);
  const std::string h = hello(0);
  char answer[10];
  if (client->connect(kLoopback, listener.localPort()) == 0 &&
      client->sendRaw(h.data(), static_cast<u32>(h.size())) == 0)
    s.receiver = std::move(client);
  accepting.join();
  if (s.receiver && s.receiver->read(answer, sizeof answer) != 0) s.receiver.reset();
  return s;
}

// range(0): 1 encrypted, 0 clear; range(1): bytes per write (1024 collects
// in the buffer, 30006 is a full packet that goes straight through).
void BM_SecureThroughput(benchmark::State& state) {
  zuSecureTCPEndpoint listener(nullptr, kForever, true);
  if (listener.listen(0, kLoopback) != 0) {
    state.SkipWithError("listen failed");
    return;
  }
  Session s = state.range(0) != 0 ? encryptedSession(listener) : clearSession(listener);
  if (!s.sender || !s.receiver) {
    state.SkipWithError("no session");
    return;
  }
  const u32 size = static_cast<u32>(state.range(1));
  // The reader drains until the sender closes.
  std::thread reader([&] {
    std::vector<u8> in(65536);
    for (;;) {
      u32 n = static_cast<u32>(in.size());
      if (s.receiver->readSome(in.data(), &n) != 0) return;
    }
  });
  const std::vector<u8> out(size, 0x5A);
  for (auto _ : state) {
    if (s.sender->write(out.data(), size) != 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
  s.sender->close();
  reader.join();
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * size);
}
BENCHMARK(BM_SecureThroughput)
    ->ArgNames({"encrypted", "bytes"})
    ->Args({0, 1024})
    ->Args({1, 1024})
    ->Args({0, 30006})
    ->Args({1, 30006})
    ->UseRealTime();

// One full handshake per iteration: connect, then one byte from the server
// so that its unwrap is inside the measured time.
void BM_SecureHandshake(benchmark::State& state) {
  zuSingleEvent stop;
  zuSecureTCPEndpoint listener(&stop, kForever, true);
  if (listener.listen(0, kLoopback) != 0) {
    state.SkipWithError("listen failed");
    return;
  }
  std::thread server([&] {
    while (std::unique_ptr<zuNetEndpoint> e = listener.accept()) {
      e->write("!", 1);
      e->flush();
    }
  });
  for (auto _ : state) {
    zuSecureTCPEndpoint client(nullptr, kForever, true);
    char byte = 0;
    if (client.connect(kLoopback, listener.localPort()) != 0 || client.read(&byte, 1) != 0) {
      state.SkipWithError("handshake failed");
      break;
    }
  }
  stop.set();
  server.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SecureHandshake)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
