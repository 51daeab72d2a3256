// New connections to the agent program, each with its secure handshake and one
// Connect exchange, from 1 and from 8 client threads: what a client costs the
// agent from the first byte to its first answer. The RSA-1024 private-key
// operation that each handshake makes on the agent's side is measured by
// zuCryptorBench (BM_RSA1024Unwrap).
#include <benchmark/benchmark.h>

#include <memory>

#include "AgentUnderBench.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetPacketLayer.h"

namespace {

constexpr u8 kConnectType = 2;
constexpr u8 kRequestFirstLast = 1 | 2 | 8;

// One connection, its handshake and one Connect: the reply's error code, or
// -1 when the exchange broke.
int connectOnce(u16 port, zuNetBuffer& buffer) {
  auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, bench::kAgentWait, false);
  if (endpoint->connect(bench::kLoopback, port) != 0) return -1;
  zuNetPacketLayer layer(std::move(endpoint), false);
  zuNetMessageHeader header;
  header.id = 1;
  header.type = kConnectType;
  header.flags = kRequestFirstLast;
  header.write(buffer.payload());
  if (layer.send(buffer, zuNetMessageHeader::kSize) != 0) return -1;
  for (;;) {
    u32 length = 0;
    if (layer.receive(buffer, length, bench::kAgentWait) != 0) return -1;
    zuNetMessageHeader reply;
    if (reply.read(buffer.payload(), length) != zuNetMessageHeader::kSize) return -1;
    if (reply.type != 0 && reply.id == 1) return reply.error;
  }
}

// Shared by the threads of one run; made and ended by thread 0 outside the
// timed loop, which all threads enter and leave together.
std::unique_ptr<bench::Agent> agent;

void BM_AgentConnect(benchmark::State& state) {
  if (state.thread_index() == 0) agent = std::make_unique<bench::Agent>();
  zuNetBuffer buffer(1024);
  for (auto _ : state) {
    if (agent->port() == 0) {
      state.SkipWithError("the agent did not start");
      break;
    }
    const int error = connectOnce(agent->port(), buffer);
    if (error != 0) {
      state.SkipWithError(("connect failed: " + std::to_string(error)).c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) agent.reset();
}
BENCHMARK(BM_AgentConnect)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(8);

}  // namespace
