// Walking and sorting a zone. A walk over one type and tag with recordAt
// resumes at the cursor, so a whole walk is linear in the records of that
// type (the time per record stays flat as the zone grows); a sort works out
// each record's keys once, so it grows as n log n.
#include <benchmark/benchmark.h>

#include <string>

#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

// n records: A, MX and SRV in turn, tags 1 and 2 in turn, names and numbers
// that are not in order.
void fill(zuRecordCollection& zone, u32 n) {
  for (u32 i = 0; i < n; ++i) {
    const u32 k = (i * 7919u) % n;
    const std::string name = "host" + std::to_string(k);
    const u32 tag = 1 + i % 2;
    switch (i % 3) {
      case 0:
        zone.addRecord(name, "", zuRRType::kA, "10.0." + std::to_string(k % 256) + ".1", "",
                       true, tag);
        break;
      case 1:
        zone.addRecord(name, "", zuRRType::kMX, std::to_string(k % 50) + "\tmail", "", true, tag);
        break;
      default:
        zone.addRecord(name, "", zuRRType::kSRV, "0\t" + std::to_string(k % 9) + "\t5060\tsip",
                       "", true, tag);
    }
  }
}

void BM_WalkOneTypeAndTag(benchmark::State& state) {
  const u32 n = static_cast<u32>(state.range(0));
  zuRecordCollection zone("example.com.");
  fill(zone, n);
  for (auto _ : state) {
    const u32 count = zone.count(zuRRType::kMX, 1);
    for (u32 i = 0; i < count; ++i)
      benchmark::DoNotOptimize(zone.recordAt(i, zuRRType::kMX, 1));
  }
  state.SetItemsProcessed(state.iterations() * zone.count(zuRRType::kMX, 1));
}
BENCHMARK(BM_WalkOneTypeAndTag)->Arg(1000)->Arg(10000)->Arg(100000);

void BM_SortByName(benchmark::State& state) {
  const u32 n = static_cast<u32>(state.range(0));
  zuRecordCollection zone("example.com.");
  fill(zone, n);
  bool descending = false;
  for (auto _ : state) {
    zone.sort(zuRecordCollection::kSortByName, descending);
    descending = !descending;  // a fresh order each time
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SortByName)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace
