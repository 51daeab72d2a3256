#pragma once
// What peers can make the process hold: the bytes gathered for exchanges
// that have not ended, and the part of large packets beyond the buffers every
// connection has anyway. Each bound alone lets a peer claim memory at will;
// this one holds for all connections together, and one instance per
// connection holds for that connection.
//
// Bytes beyond an exchange's first kSmallShare count as large. Large bytes
// may fill the process budget only up to kLargeLimit, so the records that
// good clients send (a Connect, a small Upgrade) still find room while
// peers fill the rest with large messages.
#include <atomic>
#include <cstddef>

class zuGatherBudget {
 public:
  static constexpr std::size_t kMiB = 1024 * 1024;
  // Three Upgrades of the largest size and the small records.
  static constexpr std::size_t kProcessLimit = 96 * kMiB;
  static constexpr std::size_t kLargeLimit = 80 * kMiB;
  // One Upgrade of the largest size and its head.
  static constexpr std::size_t kConnectionLimit = 26 * kMiB;
  static constexpr std::size_t kSmallShare = 64 * 1024;

  zuGatherBudget() = default;
  zuGatherBudget(const zuGatherBudget&) = delete;
  zuGatherBudget& operator=(const zuGatherBudget&) = delete;
  // Gives back whatever is still taken.
  ~zuGatherBudget();

  // Takes small + large bytes for this connection; false (and nothing
  // taken) when that would pass this connection's bound or the process's.
  bool take(std::size_t small, std::size_t large);
  void give(std::size_t bytes);
  std::size_t taken() const { return taken_.load(std::memory_order_relaxed); }

  // The process's part alone, for buffers that belong to no exchange.
  static bool takeProcess(std::size_t bytes, bool large);
  static void giveProcess(std::size_t bytes);
  // Taken in the whole process now.
  static std::size_t processTaken();
  // Whether large bytes were taken since the last call: only large gathering
  // leaves megabytes behind in the threads' heaps once it is given back.
  static bool largeTakenSinceLastAsked();

 private:
  std::atomic<std::size_t> taken_{0};
};
