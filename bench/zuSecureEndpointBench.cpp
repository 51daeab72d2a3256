// The secure endpoint over loopback: bytes per second of an encrypted session
// against a session whose handshake agreed on no encryption, and full
// handshakes per second (the server's RSA-1024 unwrap dominates; compare
// BM_RSA1024Unwrap in zuCryptorBench and `openssl speed rsa1024`).
#include <benchmark/benchmark.h>

#include <atomic>
#include <list>
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

// The server as the agent runs it: each accepted connection makes its
// handshake on its own thread, so handshakes from many clients use many
// cores. Shared by all client threads of a run.
class ThreadedHandshakeServer {
 public:
  ThreadedHandshakeServer() : listener_(&stop_, kForever, true) {
    if (listener_.listen(0, kLoopback) != 0) return;
    port_ = listener_.localPort();
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~ThreadedHandshakeServer() {
    stop_.set();
    if (acceptor_.joinable()) acceptor_.join();
    for (Worker& w : workers_) w.thread.join();
  }
  u16 port() const { return port_; }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void acceptLoop() {
    while (std::unique_ptr<zuNetEndpoint> accepted = listener_.acceptWithoutHandshake()) {
      for (auto it = workers_.begin(); it != workers_.end();) {
        if (!it->done->load()) {
          ++it;
          continue;
        }
        it->thread.join();
        it = workers_.erase(it);
      }
      auto done = std::make_shared<std::atomic<bool>>(false);
      std::shared_ptr<zuNetEndpoint> e(std::move(accepted));
      workers_.push_back({std::thread([e, done] {
                            if (e->checkKeysAndHandshake() == 0) {
                              e->write("!", 1);
                              e->flush();
                            }
                            *done = true;
                          }),
                          done});
    }
  }

  zuSingleEvent stop_;
  zuSecureTCPEndpoint listener_;
  u16 port_ = 0;
  std::thread acceptor_;
  std::list<Worker> workers_;
};

// Full handshakes per second from 1 and 8 client threads at once: how the
// server's handshake rate scales with cores (compare BM_RSA1024Unwrap).
void BM_SecureHandshakeThreads(benchmark::State& state) {
  static ThreadedHandshakeServer server;
  if (server.port() == 0) {
    state.SkipWithError("listen failed");
    return;
  }
  for (auto _ : state) {
    zuSecureTCPEndpoint client(nullptr, kForever, true);
    char byte = 0;
    if (client.connect(kLoopback, server.port()) != 0 || client.read(&byte, 1) != 0) {
      state.SkipWithError("handshake failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SecureHandshakeThreads)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Threads(1)
    ->Threads(8);

}  // namespace
