#include "loam/netobjects/zuGatherBudget.h"

namespace {

constinit std::atomic<std::size_t> g_processTaken{0};
constinit std::atomic<bool> g_largeTaken{false};

// Adds bytes to counter unless the sum would pass limit.
bool addWithin(std::atomic<std::size_t>& counter, std::size_t bytes, std::size_t limit) {
  std::size_t now = counter.load(std::memory_order_relaxed);
  do {
    if (now > limit || bytes > limit - now) return false;
  } while (!counter.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
  return true;
}

}  // namespace

zuGatherBudget::~zuGatherBudget() { give(taken()); }

bool zuGatherBudget::take(std::size_t small, std::size_t large) {
  const std::size_t bytes = small + large;
  if (bytes == 0) return true;
  if (!addWithin(taken_, bytes, kConnectionLimit)) return false;
  // The large part must stay under the large limit, the whole under the
  // process limit; taken in two steps, each within its own bound.
  if (large != 0 && !addWithin(g_processTaken, large, kLargeLimit)) {
    taken_.fetch_sub(bytes, std::memory_order_relaxed);
    return false;
  }
  if (small != 0 && !addWithin(g_processTaken, small, kProcessLimit)) {
    if (large != 0) g_processTaken.fetch_sub(large, std::memory_order_relaxed);
    taken_.fetch_sub(bytes, std::memory_order_relaxed);
    return false;
  }
  if (large != 0) g_largeTaken.store(true, std::memory_order_relaxed);
  return true;
}

void zuGatherBudget::give(std::size_t bytes) {
  if (bytes == 0) return;
  taken_.fetch_sub(bytes, std::memory_order_relaxed);
  giveProcess(bytes);
}

bool zuGatherBudget::takeProcess(std::size_t bytes, bool large) {
  if (bytes == 0) return true;
  if (!addWithin(g_processTaken, bytes, large ? kLargeLimit : kProcessLimit)) return false;
  if (large) g_largeTaken.store(true, std::memory_order_relaxed);
  return true;
}

void zuGatherBudget::giveProcess(std::size_t bytes) {
  if (bytes != 0) g_processTaken.fetch_sub(bytes, std::memory_order_relaxed);
}

std::size_t zuGatherBudget::processTaken() {
  return g_processTaken.load(std::memory_order_relaxed);
}

bool zuGatherBudget::largeTakenSinceLastAsked() {
  return g_largeTaken.exchange(false, std::memory_order_relaxed);
}
