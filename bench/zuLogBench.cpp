// Cost of the log: lines that no one wants (they must cost nanoseconds, as
// the level is tested before anything is formatted or locked), and the
// throughput of wanted lines from many threads, taken by a listener or
// appended to a file.
#include <benchmark/benchmark.h>

#include "loam/threads/zuLog.h"

namespace {

bool takesEverything(u32, const char*) { return true; }

void BM_LogfFiltered(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) zuLog::logf(5, "value %d of %s", ++i, "something");
}
BENCHMARK(BM_LogfFiltered)->Threads(1)->Threads(8);

void BM_LogMessageFiltered(benchmark::State& state) {
  const zuMessage message("Connection request from [$d].", 'd', std::string("10.0.0.1"));
  for (auto _ : state) zuLog::log(5, message);
}
BENCHMARK(BM_LogMessageFiltered)->Threads(1)->Threads(8);

void BM_LogfTakenByListener(benchmark::State& state) {
  if (state.thread_index() == 0) zuLog::addListener(&takesEverything);
  int i = 0;
  for (auto _ : state) zuLog::logf(3, "value %d of %s", ++i, "something");
  if (state.thread_index() == 0) zuLog::removeListener(&takesEverything);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogfTakenByListener)->Threads(1)->Threads(8)->UseRealTime();

// Every line opens, appends to and closes the file, as the log does.
void BM_LogfToFile(benchmark::State& state) {
  if (state.thread_index() == 0) zuLog::initFile("/dev/null");
  int i = 0;
  for (auto _ : state) zuLog::logf(3, "value %d of %s", ++i, "something");
  if (state.thread_index() == 0) zuLog::init("", zuLog::kModeConsole);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogfToFile)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
