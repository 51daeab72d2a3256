// A large zone (1,000,000 A, 250,000 MX and 125,000 two-string TXT records
// with the SOA, two NS and their addresses: 1,375,005 records, about 47 MB)
// parsed into a collection, sorted and written back, next to three other zone
// tools reading the same file in the same run. Each reports wall time, MB/s
// and peak resident memory. Run a Release build: bench/zuZoneBench.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "loam/dns/zuMasterFileParser.h"
#include "loam/dns/zuRecordCollection.h"

namespace {

const std::string& zoneFile() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "zuZoneBench.zone").string();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    // A fixed linear congruential sequence: the same file on every run.
    u32 x = 12345;
    auto next = [&x] {
      x = x * 1103515245u + 12345u;
      return x >> 8;
    };
    out << "$ORIGIN example.\n$TTL 3600\n"
        << "@\tIN\tSOA\tns1 hostmaster ( 2024010101 3600 600 86400 300 )\n"
        << "@\tIN\tNS\tns1\n@\tIN\tNS\tns2\nns1\tIN\tA\t10.0.0.1\nns2\tIN\tA\t10.0.0.2\n";
    for (u32 i = 0; i < 1000000; ++i) {
      const u32 a = next();
      out << "host" << i << "\t3600\tIN\tA\t10." << (a & 255) << "." << ((a >> 8) & 255) << "."
          << ((a >> 16) & 255) << "\n";
    }
    for (u32 i = 0; i < 250000; ++i)
      out << "mail" << i << "\tIN\tMX\t" << (next() % 100) << "\tmx" << (i % 1000) << "\n";
    for (u32 i = 0; i < 125000; ++i)
      out << "text" << i << "\tIN\tTXT\t\"v=spf1 include:_spf" << (next() % 10000)
          << ".example.com ~all\" \"entry " << i << "\"\n";
    return file;
  }();
  return path;
}

double fileMB() {
  return static_cast<double>(std::filesystem::file_size(zoneFile())) / (1024.0 * 1024.0);
}

// Peak resident memory of this process, in MB, since the last reset.
double peakRssMB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}
void resetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

void report(benchmark::State& state, double seconds, double rssMB) {
  state.counters["wall_s"] = seconds;
  state.counters["MB_per_s"] = fileMB() / seconds;
  state.counters["peak_RSS_MB"] = rssMB;
}

// The parser alone: every record read, none stored. It runs first, so that
// no heap left by another run counts towards its peak.
void BM_ZoneRecordsOnly(benchmark::State& state) {
  zoneFile();
  for (auto _ : state) {
    resetPeakRss();
    const auto start = std::chrono::steady_clock::now();
    zuMasterFileParser parser(zoneFile(), "example.", true, false);
    std::string name, ttl, rdata, comment, aging;
    u32 type = 0;
    bool enabled = true;
    u32 records = 0;
    while (parser.nextRecord(name, ttl, type, rdata, comment, aging, enabled)) ++records;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.counters["records"] = records;
    report(state, took.count(), peakRssMB());
  }
}
BENCHMARK(BM_ZoneRecordsOnly)->Iterations(1)->Unit(benchmark::kSecond);

void BM_ZoneParseSortWrite(benchmark::State& state) {
  zoneFile();
  const std::string output = zoneFile() + ".ours";
  for (auto _ : state) {
    resetPeakRss();
    const auto start = std::chrono::steady_clock::now();
    {
      using Clock = std::chrono::steady_clock;
      zuMasterFileParser parser(zoneFile(), "example.", true, false);
      zuRecordCollection zone("example.");
      parser.parse(zone, true);
      const auto parsed = Clock::now();
      state.counters["parse_peak_RSS_MB"] = peakRssMB();
      zone.sort(zuRecordCollection::kSortByName, false);
      const auto sorted = Clock::now();
      std::ofstream out(output, std::ios::binary | std::ios::trunc);
      zone.writeZone(out, true);
      out.close();
      const auto written = Clock::now();
      state.counters["records"] = zone.count(zuRecordCollection::kAnyType, 0);
      state.counters["parse_s"] = std::chrono::duration<double>(parsed - start).count();
      state.counters["sort_s"] = std::chrono::duration<double>(sorted - parsed).count();
      state.counters["write_s"] = std::chrono::duration<double>(written - sorted).count();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    report(state, took.count(), peakRssMB());
  }
  std::filesystem::remove(output);
}
BENCHMARK(BM_ZoneParseSortWrite)->Iterations(1)->Unit(benchmark::kSecond);

// A peer run under GNU time, which reports the child's wall time and peak RSS.
void runPeer(benchmark::State& state, const std::string& command) {
  const std::string times = zoneFile() + ".time";
  const std::string line = "/usr/bin/time -f '%e %M' -o '" + times + "' " + command + " '" +
                           zoneFile() + "' >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(line.c_str()) != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      return;
    }
    std::ifstream in(times);
    double seconds = 0;
    double kb = 0;
    in >> seconds >> kb;
    report(state, seconds, kb / 1024.0);
  }
  std::filesystem::remove(times);
}

void BM_NamedCheckzone(benchmark::State& state) {
  runPeer(state,
          "named-checkzone -q -i none -k ignore -n ignore -m ignore -M ignore -S ignore example.");
}
BENCHMARK(BM_NamedCheckzone)->Iterations(1)->Unit(benchmark::kSecond);

void BM_LdnsReadZone(benchmark::State& state) { runPeer(state, "ldns-read-zone"); }
BENCHMARK(BM_LdnsReadZone)->Iterations(1)->Unit(benchmark::kSecond);

void BM_Kzonecheck(benchmark::State& state) { runPeer(state, "kzonecheck -o example."); }
BENCHMARK(BM_Kzonecheck)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
