#include "loam/dns/zuRRTypeRank.h"

#include <array>

namespace {

// Indexed by type code 0 to 104; built at compile time, so it needs no lock.
constexpr std::array<u32, 105> kRanks = [] {
  std::array<u32, 105> ranks{};
  ranks.fill(kZuRRTypeRankOther);
  ranks[0] = 0;
  const u32 ordered[][2] = {{6, 0},  {2, 1},  {15, 2},  {12, 3},  {1, 4},
                            {13, 5}, {28, 6}, {5, 7},   {17, 8},  {29, 9},
                            {33, 10}, {16, 11}, {11, 12}, {18, 13}, {35, 13}};
  for (const auto& [type, rank] : ordered) ranks[type] = rank;
  return ranks;
}();

}  // namespace

u32 zuRRTypeRank(u32 type) { return type < kRanks.size() ? kRanks[type] : kZuRRTypeRankOther; }
