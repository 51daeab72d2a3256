#include "loam/dns/zuRRTypeRank.h"

#include <array>

#include "loam/dns/zuRRType.h"

namespace {

// Indexed by type code 0 to 104; built at compile time, so it needs no lock.
constexpr std::array<u32, 105> kRanks = [] {
  std::array<u32, 105> ranks{};
  ranks.fill(kZuRRTypeRankOther);
  ranks[zuRRType::kNone] = 0;
  const u32 ordered[][2] = {{zuRRType::kSOA, 0},  {zuRRType::kNS, 1},     {zuRRType::kMX, 2},
                            {zuRRType::kPTR, 3},  {zuRRType::kA, 4},      {zuRRType::kHINFO, 5},
                            {zuRRType::kAAAA, 6}, {zuRRType::kCNAME, 7},  {zuRRType::kRP, 8},
                            {zuRRType::kLOC, 9},  {zuRRType::kSRV, 10},   {zuRRType::kTXT, 11},
                            {zuRRType::kWKS, 12}, {zuRRType::kAFSDB, 13}, {zuRRType::kNAPTR, 13}};
  for (const auto& [type, rank] : ordered) ranks[type] = rank;
  return ranks;
}();

}  // namespace

u32 zuRRTypeRank(u32 type) { return type < kRanks.size() ? kRanks[type] : kZuRRTypeRankOther; }
