// The SSH client's scp against OpenSSH's own "scp -O" (the same legacy
// protocol) on one sshd, with one cipher and MAC for both, 64 MiB each way
// on tmpfs, each run including its connection; and the round trip of one
// byte through "cat" on an exec channel (p50 and p99 as counters: 40 ms
// outliers would mean Nagle).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SshdPeer.h"
#include "loam/terminal/zuSSH.h"
#include "support/ExternalTool.h"

namespace {

using tw::test::runTool;
using tw::test::shellQuote;

constexpr std::size_t kFileSize = std::size_t{64} << 20;
const char* kCipher = "aes256-cbc";
const char* kMac = "hmac-sha1";

// One sshd for the whole run, with a key for OpenSSH's client.
struct Bench {
  Bench() {
    const auto& keys = tw::test::sshdKeys();
    clientKey = keys.dir + "/client";
    runTool("ssh-keygen -q -t ed25519 -N '' -f " + shellQuote(clientKey) + " </dev/null && cp " +
            shellQuote(clientKey + ".pub") + " " + shellQuote(keys.dir + "/authorized_keys") +
            " && chmod 0644 " + shellQuote(keys.dir + "/authorized_keys"));
    sshd = std::make_unique<tw::test::Sshd>(std::vector<std::string>{
        std::string("Ciphers ") + kCipher, std::string("MACs ") + kMac, "PubkeyAuthentication yes",
        "AuthorizedKeysFile " + keys.dir + "/authorized_keys", "LogLevel ERROR"});
    remote = "/dev/shm/tw-bench-" + std::to_string(sshd->port());
    local = remote + ".local";
    std::string data(kFileSize, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
    std::ofstream(local, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    std::ofstream(remote, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    runTool("chmod 0666 " + shellQuote(remote));
  }
  ~Bench() {
    std::remove(remote.c_str());
    std::remove(local.c_str());
    std::remove((remote + ".up").c_str());
  }
  std::string scpCommand() const {
    return "scp -q -O -c " + std::string(kCipher) + " -o MACs=" + kMac +
           " -o KexAlgorithms=diffie-hellman-group1-sha1 -o HostKeyAlgorithms=ssh-dss,ssh-rsa"
           " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes -i " +
           shellQuote(clientKey) + " -P " + std::to_string(sshd->port()) + " ";
  }
  std::string target(const std::string& path) const {
    return std::string(tw::test::kSshUser) + "@127.0.0.1:" + path;
  }
  bool connect(zuSSH& ssh) const {
    ssh.setPort(sshd->port());
    return ssh.connect(zuIPAddress("127.0.0.1"), tw::test::kSshUser, tw::test::kSshPassword, 60000);
  }

  std::unique_ptr<tw::test::Sshd> sshd;
  std::string clientKey;
  std::string remote;
  std::string local;
};

Bench& bench() {
  static Bench b;
  return b;
}

void BM_zuSSH_ScpDownload(benchmark::State& state) {
  Bench& b = bench();
  for (auto _ : state) {
    zuSSH ssh(nullptr);
    if (!b.connect(ssh)) return state.SkipWithError("connect failed");
    std::ofstream out(b.local + ".down", std::ios::binary);
    u32 size = 0;
    if (!ssh.scpGet(b.remote, size, out)) return state.SkipWithError("scpGet failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
  std::remove((b.local + ".down").c_str());
}

void BM_OpenSSH_ScpDownload(benchmark::State& state) {
  Bench& b = bench();
  for (auto _ : state) {
    if (runTool(b.scpCommand() + shellQuote(b.target(b.remote)) + " " +
                shellQuote(b.local + ".down")) != 0)
      return state.SkipWithError("scp failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
  std::remove((b.local + ".down").c_str());
}

void BM_zuSSH_ScpUpload(benchmark::State& state) {
  Bench& b = bench();
  for (auto _ : state) {
    zuSSH ssh(nullptr);
    if (!b.connect(ssh)) return state.SkipWithError("connect failed");
    std::ifstream in(b.local, std::ios::binary);
    if (!ssh.scpPut(b.remote + ".up", in)) return state.SkipWithError("scpPut failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

void BM_OpenSSH_ScpUpload(benchmark::State& state) {
  Bench& b = bench();
  for (auto _ : state) {
    if (runTool(b.scpCommand() + shellQuote(b.local) + " " +
                shellQuote(b.target(b.remote + ".up"))) != 0)
      return state.SkipWithError("scp failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

void BM_zuSSH_CatRoundTrip(benchmark::State& state) {
  Bench& b = bench();
  zuSSH ssh(nullptr);
  if (!b.connect(ssh)) return state.SkipWithError("connect failed");
  u32 number = 0;
  if (!ssh.openChannel("session", number)) return state.SkipWithError("no channel");
  ClientManager& manager = ssh.session()->manager();
  manager.requestExec(number, "cat");
  std::vector<double> ms;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    manager.sendData(number, "x\n");
    std::ostringstream out;
    if (ssh.readChannel(manager.sessionChannel(number), &out, '\n', false) != 0)
      return state.SkipWithError("no echo");
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  }
}

BENCHMARK(BM_zuSSH_ScpDownload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_OpenSSH_ScpDownload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_zuSSH_ScpUpload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_OpenSSH_ScpUpload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_zuSSH_CatRoundTrip)->Unit(benchmark::kMicrosecond)->Iterations(500)->UseRealTime();

}  // namespace
