// Cost of starting a zuThread and waiting for its end (gate, registry and
// events included) against a bare pthread_create and pthread_join, and of
// restarting one object.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include "loam/threads/zuThread.h"

namespace {

class EmptyThread : public zuThread {
 protected:
  void run() override {}
};

void BM_zuThreadStartWait(benchmark::State& state) {
  for (auto _ : state) {
    EmptyThread t;
    t.start();
    t.wait();
  }
}
BENCHMARK(BM_zuThreadStartWait)->UseRealTime();

void BM_zuThreadRestartWait(benchmark::State& state) {
  EmptyThread t;
  for (auto _ : state) {
    t.start();
    t.wait();
  }
}
BENCHMARK(BM_zuThreadRestartWait)->UseRealTime();

void* emptyProcedure(void*) { return nullptr; }

void BM_PthreadCreateJoin(benchmark::State& state) {
  for (auto _ : state) {
    pthread_t t;
    if (pthread_create(&t, nullptr, &emptyProcedure, nullptr) != 0) {
      state.SkipWithError("pthread_create failed");
      break;
    }
    pthread_join(t, nullptr);
  }
}
BENCHMARK(BM_PthreadCreateJoin)->UseRealTime();

}  // namespace
