// Cost of the library's lock against the standard recursive mutex, and the
// time from setting an event to the wake of a thread waiting on it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuMemMutex.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuStMutex.h"

namespace {

void BM_zuMemMutexLockUnlock(benchmark::State& state) {
  zuMemMutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_zuMemMutexLockUnlock);

void BM_zuMemMutexNestedThroughStMutex(benchmark::State& state) {
  zuMemMutex m;
  for (auto _ : state) {
    zuStMutex outer(m);
    zuStMutex inner(m);
    benchmark::DoNotOptimize(&inner);
  }
}
BENCHMARK(BM_zuMemMutexNestedThroughStMutex);

void BM_StdRecursiveMutexLockUnlock(benchmark::State& state) {
  std::recursive_mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdRecursiveMutexLockUnlock);

// One iteration is a round trip: ping wakes the other thread, which answers
// with pong. Half the time per iteration is one set-to-wake.
void BM_EventSetToWakeRoundTrip(benchmark::State& state) {
  zuSingleEvent ping, pong;
  std::atomic<bool> stop{false};
  std::thread other([&] {
    for (;;) {
      zuPlatform::waitForOne(ping.handle(), zuPlatform::kWaitForever);
      ping.reset();
      if (stop.load()) return;
      pong.set();
    }
  });
  for (auto _ : state) {
    ping.set();
    zuPlatform::waitForOne(pong.handle(), zuPlatform::kWaitForever);
    pong.reset();
  }
  stop.store(true);
  ping.set();
  other.join();
}
BENCHMARK(BM_EventSetToWakeRoundTrip)->UseRealTime();

}  // namespace
