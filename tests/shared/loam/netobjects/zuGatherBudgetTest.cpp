#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "loam/netobjects/zuGatherBudget.h"

namespace {

constexpr std::size_t kMiB = zuGatherBudget::kMiB;

// Each bound alone, and the process's for all connections together; what a
// refused take asks for is not taken at all.
TEST(zuGatherBudget, EachBoundRefusesTheBytesThatWouldPassIt) {
  const std::size_t base = zuGatherBudget::processTaken();
  {
    zuGatherBudget one;
    EXPECT_TRUE(one.take(64 * 1024, 25 * kMiB));
    EXPECT_TRUE(one.take(0, kMiB - 64 * 1024));
    EXPECT_EQ(one.taken(), zuGatherBudget::kConnectionLimit);
    EXPECT_FALSE(one.take(1, 0));  // the connection's bound
    one.give(kMiB);
    EXPECT_TRUE(one.take(kMiB, 0));
  }
  EXPECT_EQ(zuGatherBudget::processTaken(), base);  // given back when it goes

  // Large bytes fill the process only up to the large limit; small records
  // still find room beyond it, up to the process limit.
  std::vector<std::unique_ptr<zuGatherBudget>> connections;
  const auto takeOnANewConnection = [&](std::size_t small, std::size_t large) {
    connections.push_back(std::make_unique<zuGatherBudget>());
    return connections.back()->take(small, large);
  };
  while (takeOnANewConnection(0, 20 * kMiB)) {
  }
  EXPECT_LE(zuGatherBudget::processTaken(), zuGatherBudget::kLargeLimit);
  EXPECT_GT(zuGatherBudget::processTaken() + 20 * kMiB, zuGatherBudget::kLargeLimit);
  EXPECT_FALSE(takeOnANewConnection(1024, 20 * kMiB));  // nothing of it is taken
  while (takeOnANewConnection(10 * kMiB, 0)) {
  }
  EXPECT_GT(zuGatherBudget::processTaken(), zuGatherBudget::kLargeLimit);
  EXPECT_LE(zuGatherBudget::processTaken(), zuGatherBudget::kProcessLimit);
  EXPECT_GT(zuGatherBudget::processTaken() + 10 * kMiB, zuGatherBudget::kProcessLimit);
  EXPECT_FALSE(zuGatherBudget::takeProcess(10 * kMiB, false));
  connections.clear();
  EXPECT_EQ(zuGatherBudget::processTaken(), base);
}

// The server trims the C heap only after large gathering: small records and
// refused takes leave no mark, and asking clears it.
TEST(zuGatherBudget, OnlyTakenLargeBytesLeaveAMark) {
  (void)zuGatherBudget::largeTakenSinceLastAsked();
  zuGatherBudget one;
  EXPECT_TRUE(one.take(64 * 1024, 0));
  EXPECT_TRUE(zuGatherBudget::takeProcess(1024, false));
  EXPECT_FALSE(one.take(0, zuGatherBudget::kConnectionLimit));
  EXPECT_FALSE(zuGatherBudget::largeTakenSinceLastAsked());
  EXPECT_TRUE(one.take(0, kMiB));
  EXPECT_TRUE(zuGatherBudget::largeTakenSinceLastAsked());
  EXPECT_FALSE(zuGatherBudget::largeTakenSinceLastAsked());
  EXPECT_TRUE(zuGatherBudget::takeProcess(kMiB, true));
  EXPECT_TRUE(zuGatherBudget::largeTakenSinceLastAsked());
  zuGatherBudget::giveProcess(kMiB + 1024);
}

}  // namespace
